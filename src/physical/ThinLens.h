#pragma once
// Distances from depth values and disc diameters from distances (the thin
// lens of dof::Camera, see dof/Physical.h).
#include <dof/Physical.h>

class ThinLens {
public:
    // width: the picture's width in pixels; cap: the largest diameter.
    ThinLens(const dof::Camera& camera, int width, double cap);

    // The distance of a depth value (reversed already where asked).
    double Distance(double depth) const;
    // The signed diameter in pixels: > 0 behind the focus, < 0 in front,
    // within -cap to cap. Distance 0 is infinitely near.
    double Diameter(double z) const;
    // The diameter far away: A * f_px / F, uncapped.
    double FarLimit() const { return apertureTimesFocal_ / focus_; }

private:
    double apertureTimesFocal_;  // A * f_px, scene units times pixels
    double focus_;
    double zNear_;
    double zSpan_;
    double cap_;
};
