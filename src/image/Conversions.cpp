#include "image/Conversions.h"

#include <algorithm>
#include <cmath>

#include "engine/BlurEngine.h"

void SetDepthFromBytes(CBlurEngine& engine, int width, int height, unsigned char* bytes) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (engine.zReverse)
        for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(255 - bytes[i]);
    engine.depth.SetFromRGBA8(width, height, bytes);
}

void SetDepthFromValues(CBlurEngine& engine, const double* values, int width, int height) {
    engine.depth.Resize(width, height, FroatPixel{});
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = engine.zReverse ? 1.0 - values[i] : values[i];
        engine.depth.pixelData[i] = FroatPixel{v, v, v, v};
    }
}

void SetLensFromBytes(CBlurEngine& engine, unsigned char* bytes) {
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        unsigned char* p = bytes + 4 * i;
        p[3] = static_cast<unsigned char>((static_cast<unsigned>(p[0]) + p[1] + p[2]) / 3);
    }
    engine.lens.SetFromRGBA8(256, 256, bytes);
}

void SetSourceFromBytes(CBlurEngine& engine, int width, int height, const unsigned char* bytes) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    engine.source.Clear();
    engine.sourceBytes.assign(bytes, bytes + count);
    engine.compactWidth = width;
    engine.compactHeight = height;
    engine.compactSource = true;
}

void SetSourceFromBytes(CBlurEngine& engine, int width, int height, LargeArray<unsigned char>&& bytes) {
    engine.source.Clear();
    engine.sourceBytes = std::move(bytes);
    engine.sourceBytes.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    engine.compactWidth = width;
    engine.compactHeight = height;
    engine.compactSource = true;
}

void SetDepthChannelFromBytes(CBlurEngine& engine, int width, int height, const unsigned char* bytes) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const double* fraction = ByteFractions();
    engine.depth.Clear();
    engine.depths.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        engine.depths[i] = fraction[engine.zReverse ? 255 - bytes[4 * i] : bytes[4 * i]];
    engine.compactWidth = width;
    engine.compactHeight = height;
    engine.compactDepth = true;
}

void SetDepthChannelFromValues(CBlurEngine& engine, const double* values, int width, int height) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    engine.depth.Clear();
    engine.depths.resize(count);
    for (std::size_t i = 0; i < count; ++i) engine.depths[i] = engine.zReverse ? 1.0 - values[i] : values[i];
    engine.compactWidth = width;
    engine.compactHeight = height;
    engine.compactDepth = true;
}

unsigned char ChannelToByte(double value) {
    const double scaled = value * 256.0;
    if (!(scaled >= 0.0)) return 0;  // NaN or negative
    if (scaled >= 255.0) return 255;
    return static_cast<unsigned char>(static_cast<int>(scaled));
}

const FroatPixel& ResultPixel(const CBlurEngine& engine, int x, int y) { return engine.result.PixelAt(x, y); }

void ResultToBytes(const CBlurEngine& engine, unsigned char* destination) {
    if (engine.resultAsBytes) {
        std::copy(engine.resultBytes.begin(), engine.resultBytes.end(), destination);
        return;
    }
    const int w = engine.result.width;
    const int h = engine.result.height;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const FroatPixel& p = ResultPixel(engine, x, y);
            unsigned char* d = destination + (static_cast<std::size_t>(y) * w + x) * 4;
            d[0] = ChannelToByte(p.r);
            d[1] = ChannelToByte(p.g);
            d[2] = ChannelToByte(p.b);
            d[3] = ChannelToByte(p.a);
        }
    }
}
