#pragma once
// Every source of the picture in the order the scatter takes them: by row,
// then by layer, then left to right, with its linear colour and kernel.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/LargeArray.h"

struct Source {
    float r, g, b;
    float packedBits;  // column in the low kColumnBits, kernel id above, as the bits of a uint32
    static constexpr int kColumnBits = 20;
    void Pack(int x, std::int32_t kernel) {
        const std::uint32_t packed = static_cast<std::uint32_t>(x) | (static_cast<std::uint32_t>(kernel) << kColumnBits);
        std::memcpy(&packedBits, &packed, sizeof packed);
    }
    std::uint32_t Packed() const {
        std::uint32_t packed;
        std::memcpy(&packed, &packedBits, sizeof packed);
        return packed;
    }
    int X() const { return static_cast<int>(Packed() & ((1u << kColumnBits) - 1)); }
    std::int32_t Kernel() const { return static_cast<std::int32_t>(Packed() >> kColumnBits); }
};
static_assert(sizeof(Source) == 4 * sizeof(float), "a source is four floats");

class SourceTable {
public:
    SourceTable(int width, int height, int layers)
        : width_(width), height_(height), layers_(layers),
          starts_(static_cast<std::size_t>(height) * layers + 1, 0), layerRadius_(static_cast<std::size_t>(layers), 0) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Layers() const { return layers_; }

    // The sources of one row and layer.
    const Source* Begin(int y, int layer) const { return Sources() + starts_[Slot(y, layer)]; }
    const Source* End(int y, int layer) const { return Sources() + starts_[Slot(y, layer) + 1]; }
    // The largest kernel radius among the layer's sources.
    int LayerRadius(int layer) const { return layerRadius_[static_cast<std::size_t>(layer)]; }

    // Filling: counts per row and layer, then Allocate, then each row's
    // sources placed in order at Slot(y, layer) positions.
    std::size_t& Count(int y, int layer) { return starts_[Slot(y, layer) + 1]; }
    void Allocate();
    Source* RowLayerStart(int y, int layer) { return reinterpret_cast<Source*>(storage_.data()) + starts_[Slot(y, layer)]; }
    void RaiseLayerRadius(int layer, int radius) {
        int& r = layerRadius_[static_cast<std::size_t>(layer)];
        if (radius > r) r = radius;
    }
    // The sources' storage, four floats a pixel, for other work once the
    // sources are done with.
    LargeArray<float> TakeStorage() {
        LargeArray<float> storage;
        storage.swap(storage_);
        return storage;
    }

private:
    std::size_t Slot(int y, int layer) const { return static_cast<std::size_t>(y) * layers_ + layer; }

    int width_;
    int height_;
    int layers_;
    std::vector<std::size_t> starts_;
    std::vector<int> layerRadius_;
    const Source* Sources() const { return reinterpret_cast<const Source*>(storage_.data()); }

    LargeArray<float> storage_;  // the sources, four floats each
};
