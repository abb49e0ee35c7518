#pragma once
#include <string>
#include <vector>

namespace testfiles {

// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::vector<unsigned char>& bytes);

}  // namespace testfiles
