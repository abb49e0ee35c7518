#include "engine/BlurEngine.h"

#include "engine/DepthBlur.h"

#include <chrono>
#include <cmath>
#include <cstdio>

double CBlurEngine::DepthBlur(int x, int y) const {
    return BlurFromDepth(depth.PixelAt(x, y).r, blurSize, focus, zNear, zFar, maxBlur);
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

namespace {
double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

void CBlurEngine::Run() {
    stats = Stats{};
    visitCount = 0;
    contributionCount = 0;
    auto phase = std::chrono::steady_clock::now();
    Setup();
    stats.setupMs = MsSince(phase);
    phase = std::chrono::steady_clock::now();
    RunFirstPass();
    LinkKernels();
    stats.firstPassMs = MsSince(phase);
    for (const auto& entry : kernels) stats.kernelBytes += entry.second.pixelData.size() * sizeof(FroatPixel);
    phase = std::chrono::steady_clock::now();
    RunGatherPass();
    stats.gatherMs = MsSince(phase);
    stats.windowVisits = visitCount.load();
    stats.contributions = contributionCount.load();
}
