#include "engine/BlurEngine.h"

#include <cmath>
#include <cstdio>

double CBlurEngine::DepthBlur(int x, int y) const {
    const double d = depth.PixelAt(x, y).r;
    const double z = (zFar - zNear) * d + zNear;
    const double off = z - focus;
    const double den = focus + off;
    const double ratio = (den == 0.0) ? 100.0 : std::fabs(off / den);
    double v = blurSize * ratio;
    if (v < 1.0) v = 1.0;
    if (v > maxBlur) v = maxBlur;
    return v;
}

void CBlurEngine::FillDistanceTable() {
    const int k = kernelSize;
    const int h = k / 2;
    distanceTable.assign(static_cast<std::size_t>(k) * static_cast<std::size_t>(k), 0.0);
    for (int dy = -h; dy <= -h + k - 1; ++dy) {
        for (int dx = -h; dx <= -h + k - 1; ++dx) {
            distanceTable[static_cast<std::size_t>(h + dy) * k + (h + dx)] =
                2.0 * std::sqrt(static_cast<double>(dx * dx + dy * dy));
        }
    }
}

void CBlurEngine::Setup() {
    const int w = source.width;
    const int h = source.height;
    threadCount = threadCountOverride > 0 ? threadCountOverride : ProcessorCount();
    if (threadCountOverride <= 0 && threadCount > 4) threadCount -= 1;

    result.Resize(w, h, FroatPixel{});
    weightSum.Resize(w, h, FroatPixel{});
    exposure.Resize(w, h, FroatPixel{});
    pixels.assign(static_cast<std::size_t>(w > 0 && h > 0 ? w : 0) * static_cast<std::size_t>(h > 0 ? h : 0), PixelBlur{});

    largestBlur = 0.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double v = DepthBlur(x, y);
            pixels[static_cast<std::size_t>(y) * w + x].blur = v;
            if (v > largestBlur) largestBlur = v;
        }
    }
    kernelSize = KernelDimension(largestBlur);
    FillDistanceTable();
    std::printf("Init... size = %f\n", largestBlur);
    std::fflush(stdout);
}

void CBlurEngine::LinkKernels() {
    for (PixelBlur& record : pixels) record.kernel = &kernels[record.spread];
}

void CBlurEngine::Run() {
    Setup();
    RunFirstPass();
    LinkKernels();
    RunGatherPass();
}
