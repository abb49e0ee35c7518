#pragma once
#include <cmath>

// Rounds v up to a multiple of 1/3.
inline double LiteralRoundUpThird(double v) { return std::ceil(3.0 * v) / 3.0; }

// Whole part of ceil(3v) / 3, plus one when odd, and 3 when below 3.
inline int LiteralKernelDimension(double v) {
    const double third = std::ceil(3.0 * v) / 3.0;
    int k = static_cast<int>(third);
    if (k % 2 == 1) k = k + 1;
    if (k < 3) k = 3;
    return k;
}
