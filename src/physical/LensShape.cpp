#include "physical/LensShape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

LensShape::LensShape(const dof::ImageView& view) : transmission_(static_cast<std::size_t>(kSize) * kSize, 0.0) {
    const int channels = view.Channels();
    const int averaged = channels >= 3 ? 3 : 1;
    for (int y = 0; y < kSize; ++y) {
        const unsigned char* row = view.Row(y);
        for (int x = 0; x < kSize; ++x) {
            double sum = 0.0;
            for (int k = 0; k < averaged; ++k) {
                const int index = x * channels + k;
                if (view.Type() == dof::SampleType::kUInt8) {
                    sum += row[index] / 255.0;
                } else if (view.Type() == dof::SampleType::kUInt16) {
                    std::uint16_t v;
                    std::memcpy(&v, row + 2 * index, sizeof v);
                    sum += v / 65535.0;
                } else if (view.Type() == dof::SampleType::kFloat32) {
                    float v;
                    std::memcpy(&v, row + 4 * index, sizeof v);
                    sum += v;
                } else {
                    double v;
                    std::memcpy(&v, row + 8 * index, sizeof v);
                    sum += v;
                }
            }
            const double grey = sum / averaged;
            transmission_[static_cast<std::size_t>(y) * kSize + x] = grey > 0.0 && std::isfinite(grey) ? grey : 0.0;
        }
    }
    Measure();
}

LensShape::LensShape(std::vector<double> transmission) : transmission_(std::move(transmission)) {
    transmission_.resize(static_cast<std::size_t>(kSize) * kSize, 0.0);
    Measure();
}

void LensShape::Measure() {
    firstLit_.assign(kSize, kSize);
    lastLit_.assign(kSize, -1);
    double rim = -1.0;
    const double centre = kSize / 2.0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double v = At(x, y);
            if (v > 0.0) {
                firstLit_[y] = std::min(firstLit_[y], x);
                lastLit_[y] = x;
            }
            if (v >= 0.5) {
                // The last pixel at or above half lies (v - 0.5) beyond the crossing.
                const double reach = std::hypot(x + 0.5 - centre, y + 0.5 - centre) + std::min(v - 0.5, 0.5);
                rim = std::max(rim, reach);
            }
        }
    rimRadius_ = rim > 0.0 ? rim : centre;
}
