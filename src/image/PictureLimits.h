#pragma once
#include <cstddef>

// The largest width or height a reader takes; the memory limit mostly
// refuses far smaller pictures first.
constexpr unsigned kMaxPictureSide = 1u << 20;

// The most a reader keeps of a file's metadata (text chunks, attributes).
constexpr std::size_t kMaxChunkBytes = std::size_t{64} << 20;
