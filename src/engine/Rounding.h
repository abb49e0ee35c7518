#pragma once
#include <cmath>

// Rounds up to a multiple of 1/3, in double arithmetic.
inline double RoundUpThird(double v) { return std::ceil(3.0 * v) / 3.0; }

// The window or kernel dimension for a blur, reach or spread v: the whole
// part of RoundUpThird(v), made even, and at least 3. Callers keep v within
// int range (the engine limits every blur before it gets here).
inline int KernelDimension(double v) {
    int k = static_cast<int>(std::ceil(3.0 * v) / 3.0);
    if (k % 2 != 0) k += 1;
    if (k < 3) k = 3;
    return k;
}
