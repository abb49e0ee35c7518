#pragma once
// Every source of the picture in the order the scatter takes them: by row,
// then by layer, then left to right, with its linear colour and kernel.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/LargeArray.h"

struct Source {
    float r, g, b;
    std::uint32_t packed;  // column in the low kColumnBits, kernel id above
    static constexpr int kColumnBits = 20;
    int X() const { return static_cast<int>(packed & ((1u << kColumnBits) - 1)); }
    std::int32_t Kernel() const { return static_cast<std::int32_t>(packed >> kColumnBits); }
};

class SourceTable {
public:
    SourceTable(int width, int height, int layers)
        : width_(width), height_(height), layers_(layers),
          starts_(static_cast<std::size_t>(height) * layers + 1, 0), layerRadius_(static_cast<std::size_t>(layers), 0) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Layers() const { return layers_; }

    // The sources of one row and layer.
    const Source* Begin(int y, int layer) const { return sources_.data() + starts_[Slot(y, layer)]; }
    const Source* End(int y, int layer) const { return sources_.data() + starts_[Slot(y, layer) + 1]; }
    // The largest kernel radius among the layer's sources.
    int LayerRadius(int layer) const { return layerRadius_[static_cast<std::size_t>(layer)]; }

    // Filling: counts per row and layer, then Allocate, then each row's
    // sources placed in order at Slot(y, layer) positions.
    std::size_t& Count(int y, int layer) { return starts_[Slot(y, layer) + 1]; }
    void Allocate();
    Source* RowLayerStart(int y, int layer) { return sources_.data() + starts_[Slot(y, layer)]; }
    void RaiseLayerRadius(int layer, int radius) {
        int& r = layerRadius_[static_cast<std::size_t>(layer)];
        if (radius > r) r = radius;
    }
    void Release() { LargeArray<Source>().swap(sources_); }

private:
    std::size_t Slot(int y, int layer) const { return static_cast<std::size_t>(y) * layers_ + layer; }

    int width_;
    int height_;
    int layers_;
    std::vector<std::size_t> starts_;
    std::vector<int> layerRadius_;
    LargeArray<Source> sources_;
};
