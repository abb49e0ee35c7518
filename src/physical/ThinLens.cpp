#include "physical/ThinLens.h"

#include <cmath>
#include <limits>

ThinLens::ThinLens(const dof::Camera& camera, int width, double cap)
    : apertureTimesFocal_(camera.focalLength / camera.fNumber / 1000.0 *
                          (camera.focalLength * width / camera.sensorWidth)),
      focus_(camera.focusDistance),
      zNear_(camera.zNear),
      zSpan_(camera.zFar - camera.zNear),
      cap_(cap) {}

double ThinLens::Distance(double depth) const {
    // With no span every depth, +inf too, stands for zNear.
    return zSpan_ == 0.0 ? zNear_ : zNear_ + zSpan_ * depth;
}

double ThinLens::Diameter(double z) const {
    double c;
    if (std::isinf(z)) c = FarLimit();
    else if (z == 0.0) c = -std::numeric_limits<double>::infinity();
    else c = apertureTimesFocal_ * (z - focus_) / (focus_ * z);
    if (std::isnan(c)) c = 0.0;  // an overflowing aperture exactly at the focus
    if (c > cap_) return cap_;
    if (c < -cap_) return -cap_;
    return c;
}
