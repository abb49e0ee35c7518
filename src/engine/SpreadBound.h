#pragma once
#include <cmath>

// A pixel's spread from a sum of its J known only within a bound.
#include "engine/Rounding.h"
#include "engine/RowLayout.h"

// The spread is RoundUpThird(ordered / count), where ordered is the sum of
// the pixel's count J values added one by one in window order. sum holds
// the same values added otherwise, error the bound on how far that may lie
// from their exact sum (0 when every J was a multiple of kExactStep: then
// every partial sum is exact either way, while below kExactBelow). Adding
// count positive values in any order rounds each partial sum by at most
// 2^-53 times the final one, so both sums lie within count 2^-53 (sum +
// error) of the exact one, plus error for sum. The spread rises with the
// sum, so where both ends of that interval give the same spread the ordered
// sum gives it too; true with the spread, false where they differ.
inline bool SpreadWithinBound(double sum, double error, int count, double& spread) {
    if (error == 0.0 && sum < kExactBelow) {
        spread = RoundUpThird(sum / count);
        return true;
    }
    constexpr double kUnit = 0x1p-53;
    // Generous factors: the bound's own arithmetic and the subtraction and
    // addition below round too, each by at most kUnit times sum.
    const double bound = 1.001 * error + (3.0 * count + 4.0) * kUnit * (sum + error);
    // Thirds compared by their numerators: one division by 3 fewer.
    const double thirds = std::ceil(3.0 * ((sum - bound) / count));
    spread = thirds / 3.0;
    return thirds == std::ceil(3.0 * ((sum + bound) / count));
}
