#include <algorithm>
#include <cmath>
#include <set>

#include "engine/BlurEngine.h"
#include "engine/RowPool.h"
#include "lens/LensResample.h"
#include "lens/SlidingMax.h"

// Reach of every pixel: the largest blur in the K x K window around it (at
// least 1), as a running maximum along the rows and then along the columns.
void CBlurEngine::ComputeReaches() {
    const int w = width_;
    const int h = height_;
    const int k = kernelSize;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<double> rowMax(count);
    reaches.assign(count, 0.0);
    ForEachRowParallel(h, threadCount, [&](int y) {
        std::vector<double> prefix, suffix;
        const std::size_t row = static_cast<std::size_t>(y) * w;
        SlidingMax(&blurs[row], &rowMax[row], w, k, k / 2, 1, 1, prefix, suffix);
    });
    constexpr int kStripe = 64;
    const int stripes = (w + kStripe - 1) / kStripe;
    ForEachRowParallel(stripes, threadCount, [&](int stripe) {
        std::vector<double> prefix, suffix;
        const int x0 = stripe * kStripe;
        const std::size_t lanes = static_cast<std::size_t>(std::min(kStripe, w - x0));
        SlidingMax(&rowMax[static_cast<std::size_t>(x0)], &reaches[static_cast<std::size_t>(x0)], h, k, k / 2,
                   static_cast<std::size_t>(w), lanes, prefix, suffix);
    });
    for (double& m : reaches) m = RoundUpThird(m > 1.0 ? m : 1.0);
}

void CBlurEngine::ComputeExposureRow(int y) {
    FroatPixel* out = &exposure.pixelData[Index(0, y)];
    if (sourceIsBytes_) {
        const unsigned char* s = &sourceBytes[Index(0, y) * 4];
        for (int x = 0; x < width_; ++x, s += 4) {
            out[x].r = exposureTable_[s[0]];
            out[x].g = exposureTable_[s[1]];
            out[x].b = exposureTable_[s[2]];
            out[x].a = (s[3] / 255.0) * 255.0;
        }
        return;
    }
    const bool linear = strong == 1.0;
    for (int x = 0; x < width_; ++x) {
        const FroatPixel& p = sourceCopy_.pixelData[Index(x, y)];
        if (linear) {
            out[x].r = p.r * 255.0;
            out[x].g = p.g * 255.0;
            out[x].b = p.b * 255.0;
        } else {
            out[x].r = std::pow(strong, p.r * 255.0);
            out[x].g = std::pow(strong, p.g * 255.0);
            out[x].b = std::pow(strong, p.b * 255.0);
        }
        out[x].a = p.a * 255.0;
    }
}

// Spread of every pixel of row y: the mean of J = B (1 - M^2), M = 1 - (B - w) / B,
// over the neighbours in its window that are not behind it and whose J is at
// least 1. Each neighbour adds its J to the pixels of this row inside its own
// disc; neighbours are taken row by row, left to right, which is the order of
// the pixel's window, so every sum is formed as a window scan would form it.
void CBlurEngine::FirstPassRow(int y) {
    const int w = width_;
    const int h = height_;
    const int half = kernelSize / 2;
    const int side = 2 * half + 1;
    thread_local std::vector<int> low, high;
    thread_local std::vector<double> sums;
    thread_local std::vector<int> counts;
    low.resize(static_cast<std::size_t>(w));
    high.resize(static_cast<std::size_t>(w));
    sums.assign(static_cast<std::size_t>(w), 0.0);
    counts.assign(static_cast<std::size_t>(w), 0);

    ComputeExposureRow(y);

    const std::size_t row = Index(0, y);
    const double* centreDepth = &depths[row];
    int rowLow = 0, rowHigh = 0;
    for (int x = 0; x < w; ++x) {
        int n = KernelDimension(reaches[row + x]);
        if (n > kernelSize) n = kernelSize;
        low[x] = -(n / 2);
        high[x] = -(n / 2) + n - 1;
        rowLow = std::min(rowLow, low[x]);
        rowHigh = std::max(rowHigh, high[x]);
    }

    std::uint64_t visits = 0;
    const int v0 = std::max(0, y + rowLow);
    const int v1 = std::min(h - 1, y + rowHigh);
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        const double minimum = 2.0 * std::abs(dy);
        // A neighbour whose blur is not above its doubled distance has J <= 0.
        if (!(rowMaxBlur_[static_cast<std::size_t>(v)] > minimum)) continue;
        const double* blurRow = &blurs[Index(0, v)];
        const double* depthRow = &depths[Index(0, v)];
        const double* t = &symmetricTable_[static_cast<std::size_t>(dy + half) * side + half];
        for (int u = 0; u < w; ++u) {
            const double b = blurRow[u];
            if (!(b > minimum)) continue;
            const double dn = depthRow[u];
            const double halfB = b * 0.5;
            const double room = halfB * halfB - static_cast<double>(dy) * dy;
            int r = (room > 0.0 ? static_cast<int>(std::sqrt(room)) : 0) + 1;
            if (r > half) r = half;
            const int x0 = std::max(0, u - r);
            const int x1 = std::min(w - 1, u + r);
            for (int x = x0; x <= x1; ++x) {
                const int dx = u - x;
                ++visits;
                if (dx < low[x] || dx > high[x] || dy < low[x] || dy > high[x]) continue;
                if (!(dn <= centreDepth[x])) continue;
                const double distance = t[dx];
                const double m = 1.0 - (b - distance) / b;
                const double j = b * (1.0 - m * m);
                if (j >= 1.0) {
                    sums[x] = sums[x] + j;
                    counts[x] += 1;
                }
            }
        }
    }
    (void)visits;

    for (int x = 0; x < w; ++x) {
        // With every blur below 1 nothing contributes: the pixel keeps a spread of 1.
        spreads[row + x] = counts[x] > 0 ? RoundUpThird(sums[x] / counts[x]) : 1.0;
    }
    ClaimKernels(y);
}

// One kernel per distinct spread: the first row to meet a spread claims its key
// under the lock with an empty placeholder and resamples the lens outside it.
void CBlurEngine::ClaimKernels(int y) {
    std::set<double> seenSpreads;
    const std::size_t row = Index(0, y);
    for (int x = 0; x < width_; ++x) {
        const double spread = spreads[row + x];
        if (!seenSpreads.insert(spread).second) continue;
        {
            std::lock_guard<std::mutex> lock(kernelMutex);
            if (!kernels.emplace(spread, CImageFroat()).second) continue;
        }
        const int dimension = KernelDimension(spread);
        CImageFroat kernel = ResampleLens(lens, dimension, static_cast<double>(dimension) / spread);
        std::lock_guard<std::mutex> lock(kernelMutex);
        kernels[spread] = std::move(kernel);
    }
}

void CBlurEngine::RunFirstPass() {
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    exposure.Resize(width_, height_, FroatPixel{});
    spreads.assign(count, 0.0);
    ComputeReaches();
    ForEachRowParallel(height_, threadCount, [this](int y) { FirstPassRow(y); });
}
