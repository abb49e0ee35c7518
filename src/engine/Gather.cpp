#include <algorithm>
#include <cmath>

#include "engine/BlurEngine.h"

namespace {

// Sums of one output pixel: weighted exposure and weights, per channel.
struct Accumulator {
    double sum[4];
    double weight[4];
};

inline void Accumulate(Accumulator& a, const FroatPixel& l, const FroatPixel& x) {
    a.sum[0] = a.sum[0] + l.r * x.r;
    a.sum[1] = a.sum[1] + l.g * x.g;
    a.sum[2] = a.sum[2] + l.b * x.b;
    a.sum[3] = a.sum[3] + l.a * x.a;
    a.weight[0] = a.weight[0] + l.r;
    a.weight[1] = a.weight[1] + l.g;
    a.weight[2] = a.weight[2] + l.b;
    a.weight[3] = a.weight[3] + l.a;
}

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
    thread_local std::vector<int> low, high;
    thread_local std::vector<Accumulator> sums;
    low.resize(static_cast<std::size_t>(w));
    high.resize(static_cast<std::size_t>(w));
    sums.assign(static_cast<std::size_t>(w), Accumulator{});

    const std::size_t row = Index(0, y);
    const double* centreDepth = &depths[row];
    const double* centreSpread = &spreads[row];
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
    std::uint64_t contributions = 0;
    const int v0 = std::max(0, y + rowLow);
    const int v1 = std::min(h - 1, y + rowHigh);
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        const int ady = std::abs(dy);
        // A spread not above the doubled row distance covers nothing in this row.
        const double minimum = 2.0 * ady;
        if (!(rowMaxSpread_[static_cast<std::size_t>(v)] > minimum)) continue;
        const std::size_t sourceRow = Index(0, v);
        const double* t = &symmetricTable_[static_cast<std::size_t>(dy + half) * side + half];
        for (int u = 0; u < w; ++u) {
            const std::size_t s = sourceRow + u;
            if (!(spreads[s] > minimum)) continue;
            const KernelInfo& kernel = kernelInfos[kernelIds[s]];
            const int r = kernel.span[static_cast<std::size_t>(ady)];
            if (r < 0) continue;
            const double neighbourDepth = depths[s];
            const FroatPixel& x = exposure.pixelData[s];
            const bool front = inFront[s] != 0;
            const int c = kernel.centre;
            const int d = kernel.dimension;
            int ky = front ? c + dy : c - dy;
            ky = std::min(std::max(ky, 0), d - 1);
            const FroatPixel* kernelRow = kernel.pixels + static_cast<std::size_t>(ky) * d;
            const int x0 = std::max(0, u - r);
            const int x1 = std::min(w - 1, u + r);
            for (int cx = x0; cx <= x1; ++cx) {
                const int dx = u - cx;
                ++visits;
                if (dx < low[cx] || dx > high[cx] || dy < low[cx] || dy > high[cx]) continue;
                const double distance = t[dx];
                if (!(neighbourDepth <= centreDepth[cx] || distance < centreSpread[cx])) continue;
                int kx = front ? c + dx : c - dx;
                kx = std::min(std::max(kx, 0), d - 1);
                Accumulate(sums[cx], kernelRow[kx], x);
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
        const Accumulator& a = sums[cx];
        double own[4];
        if (sourceIsBytes_) {
            for (int c = 0; c < 4; ++c) own[c] = sourceBytes[(row + cx) * 4 + c] / 255.0;
        } else {
            const FroatPixel& p = sourceCopy_.pixelData[row + cx];
            own[0] = p.r, own[1] = p.g, own[2] = p.b, own[3] = p.a;
        }
        double out[4];
        for (int c = 0; c < 3; ++c) {
            const double R = a.sum[c], S = a.weight[c];
            if (S == 0.0)
                out[c] = own[c];
            else if (linear)
                out[c] = (R / S) / 255.0;
            else
                out[c] = std::log(R / S) / lg / 255.0;
        }
        out[3] = a.weight[3] == 0.0 ? own[3] : (a.sum[3] / a.weight[3]) / 255.0;
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
