#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/BlurEngine.h"
#include "image/Conversions.h"

// Row y of the result. A neighbour contributes to a pixel when it lies in the
// pixel's window, is not behind it (or lies inside the pixel's own spread),
// and its spread covers the pixel (spread - t >= 1, t the doubled distance).
// Each neighbour is visited once per row and adds its exposure, weighted by
// its kernel, to the pixels of this row that its spread covers; neighbours
// come row by row, left to right, the order of every pixel's window, so each
// pixel's sums are formed exactly as a window scan forms them.
void CBlurEngine::GatherRow(int y) {
    const int w = width_;
    GatherRowJob job;
    int v0, v1;
    StartTargetRow(y, job, v0, v1);
    const std::size_t row = Index(0, y);
    const std::size_t padded = static_cast<std::size_t>(w) + 2 * kRowPad;
    thread_local std::vector<double> centreSpread, totals;
    centreSpread.assign(padded, std::numeric_limits<double>::quiet_NaN());
    totals.assign(padded * 8, 0.0);
    for (int x = 0; x < w; ++x) centreSpread[kRowPad + x] = spreads[row + x];
    job.kernelLanes = kernelLanes_.data();
    thread_local std::vector<GatherSource> sources;
    sources.resize(static_cast<std::size_t>(w));
    job.sources = sources.data();
    job.centreSpread = &centreSpread[kRowPad];
    job.colourExposure = exposureTable_;
    job.alphaExposure = alphaExposureTable_;
    for (int c = 0; c < 4; ++c) {
        job.sums[c] = &totals[padded * static_cast<std::size_t>(c) + kRowPad];
        job.weights[c] = &totals[padded * static_cast<std::size_t>(4 + c) + kRowPad];
    }

    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        // A spread not above the doubled row distance covers nothing in this row.
        if (!(rowMaxSpread_[static_cast<std::size_t>(v)] > 2.0 * std::abs(dy))) continue;
        const std::size_t sourceRow = Index(0, v);
        job.spreadRow = &spreads[sourceRow];
        job.depthRow = &depths[sourceRow];
        job.kernelIdRow = &kernelIds[sourceRow];
        job.inFrontRow = &inFront[sourceRow];
        job.exposureRow = sourceIsBytes_ ? nullptr : &exposure.pixelData[sourceRow];
        job.sourceByteRow = sourceIsBytes_ ? &sourceBytes[sourceRow * 4] : nullptr;
        PickSources(job, y, v, dy == 0);
        gatherRow_(job);
    }
    visitCount_ += job.visits;
    contributionCount_ += job.contributions;

    // Back from exposure space. A channel that met no weight keeps the source
    // value; strong 1 averages linearly (the limit of the mean).
    const double lg = std::log(strong);
    const bool linear = strong == 1.0;
    for (int x = 0; x < w; ++x) {
        double own[4];
        if (sourceIsBytes_) {
            for (int c = 0; c < 4; ++c) own[c] = sourceBytes[(row + x) * 4 + c] / 255.0;
        } else {
            const FroatPixel& p = sourceCopy_.pixelData[row + x];
            own[0] = p.r, own[1] = p.g, own[2] = p.b, own[3] = p.a;
        }
        // With resultAsBytes, straight to bytes; colour means through the table.
        unsigned char* const d = resultAsBytes ? &resultBytes[(row + x) * 4] : nullptr;
        double out[4];
        for (int c = 0; c < 4; ++c) {
            const double sum = job.sums[c][x];
            const double weight = job.weights[c][x];
            if (weight == 0.0) {
                out[c] = own[c];
            } else if (linear || c == 3) {
                out[c] = (sum / weight) / 255.0;
            } else if (d) {
                d[c] = colourBytes_->Byte(sum / weight);
                continue;
            } else {
                out[c] = std::log(sum / weight) / lg / 255.0;
            }
            if (d) d[c] = ChannelToByte(ClampChannel(out[c]));
        }
        if (d) continue;
        result.pixelData[row + x] = FroatPixel{out[0], out[1], out[2], out[3]};
        ClampPixel(x, y);
    }
}

double ClampChannel(double v) {
    if (v >= 1.0) v = 0.99999;
    if (v < 0.0) v = 0.0;
    return v;
}

void CBlurEngine::ClampPixel(int x, int y) {
    FroatPixel p = result.PixelAt(x, y);
    p.r = ClampChannel(p.r);
    p.g = ClampChannel(p.g);
    p.b = ClampChannel(p.b);
    p.a = ClampChannel(p.a);
    result.SetPixel(x, y, p);
}
