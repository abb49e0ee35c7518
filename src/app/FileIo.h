#pragma once
#include <cstddef>
#include <memory>
#include <string>

// Reads a whole file. False when it cannot be opened, its size cannot be
// found, or fewer bytes than its size arrive.
bool ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size);

// Writes bytes to a temporary file beside path and renames it over path only
// once complete, so a failed run never leaves a half-written or destroyed file.
bool WriteFileAtomically(const std::string& path, const unsigned char* bytes, std::size_t size);
