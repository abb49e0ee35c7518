#include <algorithm>
#include <cmath>

#include <emmintrin.h>

#include "engine/BlurEngine.h"

namespace {

// Sums of one output pixel: weighted exposure and weights, per channel
// (red and green in the first half of each pair, blue and alpha in the second).
struct alignas(16) Accumulator {
    __m128d sumRG, sumBA, weightRG, weightBA;
};

}  // namespace

// Row y of the result. A neighbour contributes to a pixel when it lies in the
// pixel's window, is not behind it (or lies inside the pixel's own spread),
// and its spread covers the pixel (spread - t >= 1, t the doubled distance).
// Each neighbour is visited once per row and adds its exposure, weighted by
// its kernel, to the pixels of this row that its spread covers; neighbours
// come row by row, left to right, the order of every pixel's window, so each
// pixel's sums are formed exactly as a window scan forms them.
void CBlurEngine::GatherRow(int y) {
    const int w = width_;
    const int h = height_;
    const int half = kernelSize / 2;
    const int side = 2 * half + 1;
    thread_local std::vector<int> low, high, rowLow, rowHigh;
    thread_local std::vector<Accumulator> sums;
    low.resize(static_cast<std::size_t>(w));
    high.resize(static_cast<std::size_t>(w));
    rowLow.resize(static_cast<std::size_t>(w));
    rowHigh.resize(static_cast<std::size_t>(w));
    const __m128d zero = _mm_setzero_pd();
    sums.assign(static_cast<std::size_t>(w), Accumulator{zero, zero, zero, zero});

    const std::size_t row = Index(0, y);
    const double* centreDepth = &depths[row];
    const double* centreSpread = &spreads[row];
    int windowLow = 0, windowHigh = 0;
    for (int x = 0; x < w; ++x) {
        int n = KernelDimension(reaches[row + x]);
        if (n > kernelSize) n = kernelSize;
        low[x] = -(n / 2);
        high[x] = -(n / 2) + n - 1;
        windowLow = std::min(windowLow, low[x]);
        windowHigh = std::max(windowHigh, high[x]);
    }

    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
    const int v0 = std::max(0, y + windowLow);
    const int v1 = std::min(h - 1, y + windowHigh);
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        const int ady = std::abs(dy);
        // A spread not above the doubled row distance covers nothing in this row.
        const double minimum = 2.0 * ady;
        if (!(rowMaxSpread_[static_cast<std::size_t>(v)] > minimum)) continue;
        // The dx range of each pixel's window for this row of neighbours;
        // empty where the row lies outside the window.
        for (int x = 0; x < w; ++x) {
            const bool rowInWindow = dy >= low[x] && dy <= high[x];
            rowLow[x] = rowInWindow ? low[x] : 1;
            rowHigh[x] = rowInWindow ? high[x] : -1;
        }
        const std::size_t sourceRow = Index(0, v);
        const double* t = &symmetricTable_[static_cast<std::size_t>(dy + half) * side + half];
        for (int u = 0; u < w; ++u) {
            const std::size_t s = sourceRow + u;
            if (!(spreads[s] > minimum)) continue;
            const KernelInfo& kernel = kernelInfos[kernelIds[s]];
            const int r = kernel.span[static_cast<std::size_t>(ady)];
            if (r < 0) continue;
            const double neighbourDepth = depths[s];
            const double* exposureAt = &exposure.pixelData[s].r;
            const __m128d xRG = _mm_loadu_pd(exposureAt);
            const __m128d xBA = _mm_loadu_pd(exposureAt + 2);
            // In front of the focus the kernel is read mirrored through its centre.
            const int direction = inFront[s] != 0 ? 1 : -1;
            const int c = kernel.centre;
            const int d = kernel.dimension;
            const int ky = std::min(std::max(c + direction * dy, 0), d - 1);
            const double* kernelRow = &kernel.pixels[static_cast<std::size_t>(ky) * d].r;
            const int x0 = std::max(0, u - r);
            const int x1 = std::min(w - 1, u + r);
            visits += static_cast<std::uint64_t>(x1 - x0 + 1);
            for (int cx = x0; cx <= x1; ++cx) {
                const int dx = u - cx;
                if (dx < rowLow[cx] || dx > rowHigh[cx]) continue;
                if (!(neighbourDepth <= centreDepth[cx] || t[dx] < centreSpread[cx])) continue;
                int kx = c + direction * dx;
                if (kernel.needsClamp) kx = std::min(std::max(kx, 0), d - 1);
                const double* l = kernelRow + 4 * kx;
                const __m128d lRG = _mm_loadu_pd(l);
                const __m128d lBA = _mm_loadu_pd(l + 2);
                Accumulator& a = sums[static_cast<std::size_t>(cx)];
                a.sumRG = _mm_add_pd(a.sumRG, _mm_mul_pd(lRG, xRG));
                a.sumBA = _mm_add_pd(a.sumBA, _mm_mul_pd(lBA, xBA));
                a.weightRG = _mm_add_pd(a.weightRG, lRG);
                a.weightBA = _mm_add_pd(a.weightBA, lBA);
                ++contributions;
            }
        }
    }
    visitCount_ += visits;
    contributionCount_ += contributions;

    // Back from exposure space. A channel that met no weight keeps the source
    // value; strong 1 averages linearly (the limit of the mean).
    const double lg = std::log(strong);
    const bool linear = strong == 1.0;
    for (int cx = 0; cx < w; ++cx) {
        const Accumulator& a = sums[static_cast<std::size_t>(cx)];
        double sum[4], weight[4];
        _mm_storeu_pd(sum, a.sumRG);
        _mm_storeu_pd(sum + 2, a.sumBA);
        _mm_storeu_pd(weight, a.weightRG);
        _mm_storeu_pd(weight + 2, a.weightBA);
        double own[4];
        if (sourceIsBytes_) {
            for (int c = 0; c < 4; ++c) own[c] = sourceBytes[(row + cx) * 4 + c] / 255.0;
        } else {
            const FroatPixel& p = sourceCopy_.pixelData[row + cx];
            own[0] = p.r, own[1] = p.g, own[2] = p.b, own[3] = p.a;
        }
        double out[4];
        for (int c = 0; c < 3; ++c) {
            if (weight[c] == 0.0)
                out[c] = own[c];
            else if (linear)
                out[c] = (sum[c] / weight[c]) / 255.0;
            else
                out[c] = std::log(sum[c] / weight[c]) / lg / 255.0;
        }
        out[3] = weight[3] == 0.0 ? own[3] : (sum[3] / weight[3]) / 255.0;
        result.pixelData[row + cx] = FroatPixel{out[0], out[1], out[2], out[3]};
        ClampPixel(cx, y);
    }
}

void CBlurEngine::ClampPixel(int x, int y) {
    FroatPixel p = result.PixelAt(x, y);
    for (double* v : {&p.r, &p.g, &p.b, &p.a}) {
        if (*v >= 1.0) *v = 0.99999;
        if (*v < 0.0) *v = 0.0;
    }
    result.SetPixel(x, y, p);
}
