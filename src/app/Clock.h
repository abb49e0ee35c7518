#pragma once
#include <cstdint>

// A wrapping 32-bit millisecond counter from a monotonic clock.
std::uint32_t MilliClock();

// Milliseconds from start to end, correct across one wrap of the counter.
inline std::uint32_t ElapsedMs(std::uint32_t start, std::uint32_t end) { return end - start; }
