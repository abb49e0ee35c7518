#include "physical/DepthLayers.h"

#include <algorithm>
#include <cmath>

DepthLayers::DepthLayers(int perSide, double largestDiameter) : perSide_(perSide) {
    const double top = std::max(largestDiameter + 1e-6, 1.0001);
    edges_.resize(static_cast<std::size_t>(perSide) + 1);
    for (int i = 0; i <= perSide; ++i) edges_[static_cast<std::size_t>(i)] = std::pow(top, static_cast<double>(i) / perSide);
}

int DepthLayers::LayerOf(double c) const {
    const double size = std::fabs(c);
    if (!(size >= 1.0)) return 0;
    // The last edge at or below the size, the top edge counting in the last layer.
    const auto above = std::upper_bound(edges_.begin(), edges_.end() - 1, size);
    const int index = static_cast<int>(above - edges_.begin()) - 1;
    return c > 0.0 ? 1 + index : perSide_ + perSide_ - index;
}
