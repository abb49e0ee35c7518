#pragma once
#include <cmath>

// The blur size of a pixel at normalised depth d: the blur size scaled by the
// pixel's relative distance from the focus, at least 1, at most maxBlur.
inline double BlurFromDepth(double d, double blurSize, double focus, double zNear, double zFar, double maxBlur) {
    const double z = (zFar - zNear) * d + zNear;
    const double off = z - focus;
    const double den = focus + off;
    const double ratio = (den == 0.0) ? 100.0 : std::fabs(off / den);
    double v = blurSize * ratio;
    if (v < 1.0) v = 1.0;
    if (v > maxBlur) v = maxBlur;
    return v;
}
