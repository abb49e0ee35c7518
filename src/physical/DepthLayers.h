#pragma once
// Depth layers in signed disc diameter: they decide only the order of
// occlusion (each source keeps its own disc). Layer 0 holds the sources in
// focus (|c| < 1); layers 1 .. perSide those behind the focus by increasing
// c; layers perSide + 1 .. 2 perSide those in front, the nearest first. Edges
// are geometric, e_i = cmax^(i / perSide), cmax the largest |c|.
#include <vector>

class DepthLayers {
public:
    DepthLayers(int perSide, double largestDiameter);

    int Count() const { return 2 * perSide_ + 1; }
    int PerSide() const { return perSide_; }
    int LayerOf(double c) const;
    // Layers 0 .. perSide form the far field (the focus among them), the rest the near field.
    bool IsNear(int layer) const { return layer > perSide_; }

private:
    int perSide_;
    std::vector<double> edges_;  // e_0 = 1 .. e_perSide = cmax
};
