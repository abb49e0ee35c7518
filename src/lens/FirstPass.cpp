#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "engine/BlurEngine.h"
#include "engine/RowPool.h"
#include "engine/Vec4.h"
#include "lens/LensResample.h"
#include "lens/SlidingMax.h"
#include "lens/SpreadTables.h"

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
    // Per pixel of the row, with kPad lanes on either side that take no part.
    constexpr int kPad = 4;
    const std::size_t padded = static_cast<std::size_t>(w) + 2 * kPad + 4;
    thread_local std::vector<double> low, high, rowLowOf, rowHighOf, centreDepth, sums, counts;
    low.assign(padded, 1.0);
    high.assign(padded, -1.0);
    rowLowOf.assign(padded, 1.0);
    rowHighOf.assign(padded, -1.0);
    centreDepth.assign(padded, std::numeric_limits<double>::quiet_NaN());
    sums.assign(padded, 0.0);
    counts.assign(padded, 0.0);

    ComputeExposureRow(y);

    const std::size_t row = Index(0, y);
    int rowLow = 0, rowHigh = 0;
    for (int x = 0; x < w; ++x) {
        int n = KernelDimension(reaches[row + x]);
        if (n > kernelSize) n = kernelSize;
        low[kPad + x] = -(n / 2);
        high[kPad + x] = -(n / 2) + n - 1;
        centreDepth[kPad + x] = depths[row + x];
        rowLow = std::min(rowLow, -(n / 2));
        rowHigh = std::max(rowHigh, -(n / 2) + n - 1);
    }
    double* const lowAt = &low[kPad];
    double* const highAt = &high[kPad];
    // The dx range of each pixel's window for the row of neighbours at hand:
    // empty where that row is outside the window.
    double* const rowLowAt = &rowLowOf[kPad];
    double* const rowHighAt = &rowHighOf[kPad];
    double* const depthAt = &centreDepth[kPad];
    double* const sumAt = &sums[kPad];
    double* const countAt = &counts[kPad];
    const VecL lanes = LaneIndices();

    const int v0 = std::max(0, y + rowLow);
    const int v1 = std::min(h - 1, y + rowHigh);
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        const int ady = std::abs(dy);
        // A positive blur not above the doubled row distance has J <= 0 there.
        const double minimum = 2.0 * ady;
        if (!(rowMaxBlur_[static_cast<std::size_t>(v)] > minimum) && !hasNonPositiveBlur_) continue;
        const std::size_t sourceRow = Index(0, v);
        const double* blurRow = &blurs[sourceRow];
        const double* depthRow = &depths[sourceRow];
        const double* t = &symmetricTable_[static_cast<std::size_t>(dy + half) * side + half];
        for (int x = 0; x < w; ++x) {
            const bool rowInWindow = dy >= lowAt[x] && dy <= highAt[x];
            rowLowAt[x] = rowInWindow ? lowAt[x] : 1.0;
            rowHighAt[x] = rowInWindow ? highAt[x] : -1.0;
        }
        for (int u = 0; u < w; ++u) {
            const double b = blurRow[u];
            const double dn = depthRow[u];
            const std::uint16_t id = spreadTables_.ids[sourceRow + u];
            if (b > minimum && id != SpreadTables::kNoTable) {
                // Tabulated: exactly the offsets |dx| <= r have J >= 1. Several
                // pixels of the row at a time, each adding to its own sum.
                const int r = spreadTables_.Width(id, ady);
                if (r < 0) continue;
                const double* j = spreadTables_.Row(id, ady);
                const int x0 = std::max(0, u - r);
                const int x1 = std::min(w - 1, u + r);
                const VecL dnv = SplatL(dn);
                const VecL zeros = SplatL(0.0);
                const VecL ones = SplatL(1.0);
                const VecL step = SplatL(kLanes);
                VecL dxv = SubL(SplatL(u - x0), lanes);
                for (int x = x0; x <= x1; x += kLanes, dxv = SubL(dxv, step)) {
                    // J is symmetric in dx, so J(u - x) = J(x - u); it is 0 past
                    // the span, so lanes beyond x1 add nothing.
                    const VecL jv = LoadL(j + (x - u));
                    const VecL take = AndL(AndL(LessEqualL(LoadL(rowLowAt + x), dxv), LessEqualL(dxv, LoadL(rowHighAt + x))),
                                           AndL(LessEqualL(dnv, LoadL(depthAt + x)), LessL(zeros, jv)));
                    StoreL(sumAt + x, AddL(LoadL(sumAt + x), AndL(take, jv)));
                    StoreL(countAt + x, AddL(LoadL(countAt + x), AndL(take, ones)));
                }
                continue;
            }
            int r;
            if (b > minimum) {
                // J >= 1 needs w < B: a disc of diameter B, with a pixel to spare.
                const double halfB = b * 0.5;
                const double room = halfB * halfB - static_cast<double>(dy) * dy;
                r = (room > 0.0 ? static_cast<int>(std::sqrt(room)) : 0) + 1;
                if (r > half) r = half;
            } else if (b <= 0.0) {
                // A blur below zero (only with a negative blur size) can give
                // J >= 1 anywhere in the window.
                r = half;
            } else {
                continue;
            }
            const int x0 = std::max(0, u - r);
            const int x1 = std::min(w - 1, u + r);
            for (int x = x0; x <= x1; ++x) {
                const int dx = u - x;
                if (dx < rowLowAt[x] || dx > rowHighAt[x]) continue;
                if (!(dn <= depthAt[x])) continue;
                const double j = AttenuatedBlur(b, t[dx]);
                if (j >= 1.0) {
                    sumAt[x] = sumAt[x] + j;
                    countAt[x] = countAt[x] + 1.0;
                }
            }
        }
    }

    for (int x = 0; x < w; ++x) {
        // With every blur below 1 nothing contributes: the pixel keeps a spread of 1.
        const int count = static_cast<int>(countAt[x]);
        spreads[row + x] = count > 0 ? RoundUpThird(sumAt[x] / count) : 1.0;
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
    hasNonPositiveBlur_ = false;
    for (const double b : blurs)
        if (b <= 0.0) hasNonPositiveBlur_ = true;
    // Tables of J for up to 32 MB of distinct blurs; others are computed as met.
    spreadTables_.Build(blurs, kernelSize / 2, symmetricTable_, std::size_t{32} << 20);
    ForEachRowParallel(height_, threadCount, [this](int y) { FirstPassRow(y); });
    spreadTables_.Clear();
}
