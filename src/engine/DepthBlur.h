#pragma once
#include <cmath>

// The ratio |off / den| of BlurFromDepth when the plain formula has no answer
// (a NaN depth, or an intermediate that overflowed or met inf - inf or 0 * inf).
// zNear, zFar and focus are scaled by one power of two so that none exceeds 1
// in magnitude: the ratio does not change, and only the depth term can still
// overflow, where the pixel lies so far away that the ratio tends to 1.
inline double DepthRatioFallback(double d, double focus, double zNear, double zFar) {
    if (std::isnan(d)) return 100.0;  // no distance is known: as for distance 0
    const double largest = std::fmax(std::fabs(focus), std::fmax(std::fabs(zNear), std::fabs(zFar)));
    if (!(largest > 0.0) || !std::isfinite(largest)) return 100.0;
    int exponent = 0;
    std::frexp(largest, &exponent);
    const double f = std::ldexp(focus, -exponent);
    const double n = std::ldexp(zNear, -exponent);
    const double span = std::ldexp(zFar, -exponent) - n;
    const double z = span == 0.0 ? n : span * d + n;
    if (!std::isfinite(z)) return 1.0;
    const double off = z - f;
    const double den = f + off;
    return den == 0.0 ? 100.0 : std::fabs(off / den);
}

// The blur size of a pixel at normalised depth d: the blur size scaled by the
// pixel's relative distance from the focus, at least 1, at most maxBlur.
// Never NaN for finite parameters, whatever d is: where the plain formula
// gives NaN the ratio is recomputed without overflow, and a ratio too large
// for a double times a blur size of 0 counts as 0.
inline double BlurFromDepth(double d, double blurSize, double focus, double zNear, double zFar, double maxBlur) {
    const double z = (zFar - zNear) * d + zNear;
    const double off = z - focus;
    const double den = focus + off;
    const double ratio = (den == 0.0) ? 100.0 : std::fabs(off / den);
    double v = blurSize * ratio;
    if (std::isnan(v)) {
        const double exact = std::isnan(ratio) ? DepthRatioFallback(d, focus, zNear, zFar) : ratio;
        v = blurSize == 0.0 ? 0.0 : blurSize * exact;
    }
    if (v < 1.0) v = 1.0;
    if (v > maxBlur) v = maxBlur;
    return v;
}
