#pragma once
// Small float pictures for the physical mode's tests: a camera whose discs
// are easy to aim (depth values are distances) and depths for given discs.
#include <string>
#include <vector>

#include <dof/dof.h>

namespace physicaltest {

// f/0.1, 50 mm on 36 mm, focus at 2 m: on a picture 96 wide the far limit is 33 px.
inline dof::PhysicalParams Camera() {
    dof::PhysicalParams params;
    params.camera.fNumber = 0.1;
    params.camera.focusDistance = 2.0;
    return params;
}

// The distance whose signed disc is c on a picture width wide.
inline double DistanceFor(double c, const dof::Camera& camera, int width) {
    const double far = dof::DiscDiameter(camera, width, 1e300);
    return camera.focusDistance / (1.0 - c / far);
}

// Float pictures, rows without gaps.
struct FloatPicture {
    int width = 0, height = 0, channels = 0;
    std::vector<float> values;
    FloatPicture(int w, int h, int c, float fill = 0.0f)
        : width(w), height(h), channels(c), values(static_cast<std::size_t>(w) * h * c, fill) {}
    float* At(int x, int y) { return &values[(static_cast<std::size_t>(y) * width + x) * channels]; }
    dof::ImageView View() const { return dof::ImageView(values.data(), width, height, channels, dof::SampleType::kFloat32); }
};

// A depth picture of the distances giving discs c (one per pixel).
inline FloatPicture DepthFor(const std::vector<double>& discs, int width, int height, const dof::Camera& camera) {
    FloatPicture depth(width, height, 1);
    for (std::size_t i = 0; i < discs.size(); ++i) depth.values[i] = static_cast<float>(DistanceFor(discs[i], camera, width));
    return depth;
}

inline std::string LensPath(const std::string& name) { return std::string(DOF_TEST_DATA_DIR) + "/scenes/lens/" + name + ".tga"; }

// The light of pixel (x, y), channel k, of a float result.
inline float Light(const dof::Image& image, int x, int y, int k) {
    return reinterpret_cast<const float*>(image.Row(y))[4 * x + k];
}

}  // namespace physicaltest
