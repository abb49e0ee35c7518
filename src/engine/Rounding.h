#pragma once
#include <cmath>
#include <cstddef>

// Rounds up to a multiple of 1/3, in double arithmetic.
inline double RoundUpThird(double v) { return std::ceil(3.0 * v) / 3.0; }

// The window or kernel dimension for a blur, reach or spread v: the whole
// part of RoundUpThird(v), made even, and at least 3. In double arithmetic,
// so that estimates may ask for blurs far beyond int range.
inline double KernelDimensionOf(double v) {
    double k = std::trunc(std::ceil(3.0 * v) / 3.0);
    if (std::fmod(k, 2.0) != 0.0) k += 1.0;
    return k < 3.0 ? 3.0 : k;
}

// The same as an int; callers keep v within int range (the engine limits
// every blur before it gets here).
inline int KernelDimension(double v) { return static_cast<int>(KernelDimensionOf(v)); }

// Spreads of fewer thirds than this are kept in tables by their numerator
// (kernel claims and ids); the rest are looked up by value.
constexpr std::size_t kNumberedThirds = 1000000;

// Whether v is n / 3.0 for a whole n with 0 <= n < limit, and that n: what
// RoundUpThird gives is. (Without a library call: the nearest whole number
// to 3v, found by truncation, is the only candidate.)
inline bool ThirdsOf(double v, std::size_t limit, std::size_t& n) {
    const double t = 3.0 * v;
    if (!(t >= 0.0 && t < static_cast<double>(limit))) return false;
    n = static_cast<std::size_t>(t + 0.5);
    return n < limit && static_cast<double>(n) / 3.0 == v;
}
