#pragma once
// What the fuzz targets share.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

// A broken promise: stop where a fuzzer or a test sees it.
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// A buffer of exactly size bytes, so that any read past it is caught.
inline std::unique_ptr<unsigned char[]> Copy(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size > 0 ? size : 1]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

// Pictures a fuzz target decodes at most, so that a run stays quick.
constexpr std::uint64_t kFuzzPixels = std::uint64_t{1} << 22;
