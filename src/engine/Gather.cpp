#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/BlurEngine.h"
#include "image/Conversions.h"
#include "platform/ParallelFor.h"

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
    for (int x = 0; x < w; ++x) centreSpread[kRowPad + x] = spreads_[row + x];
    job.kernelLanes = kernelLanes_.data();
    thread_local std::vector<GatherSource> sources;
    sources.resize(static_cast<std::size_t>(w));
    job.sources = sources.data();
    job.centreSpread = &centreSpread[kRowPad];
    job.colourExposure = exposureTable_;
    job.alphaExposure = alphaExposureTable_;
    job.sourcePixelBytes = colour_.pixelBytes;
    job.grey = greyKernels_;
    for (int c = 0; c < 4; ++c) {
        job.sums[c] = &totals[padded * static_cast<std::size_t>(c) + kRowPad];
        // A grey lens's four weights are one: the kernels fill the first.
        job.weights[c] = &totals[padded * static_cast<std::size_t>(greyKernels_ ? 4 : 4 + c) + kRowPad];
    }

    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        // A spread not above the doubled row distance covers nothing in this row.
        if (!(rowMaxSpread_[static_cast<std::size_t>(v)] > 2.0 * std::abs(dy))) continue;
        const std::size_t sourceRow = Index(0, v);
        job.spreadRow = &spreads_[sourceRow];
        job.depthRow = &depths_[sourceRow];
        job.kernelIdRow = &kernelIds_[sourceRow];
        job.inFrontRow = &inFront_[sourceRow];
        job.sourceByteRow = ColourRow(v);
        PickSources(job, y, v, dy == 0);
        gatherRow_(job);
    }
    visitCount_ += job.visits;
    contributionCount_ += job.contributions;

    // Back from exposure space, straight to bytes: colour means through the
    // table of ExposureBytes. A channel that met no weight keeps the source
    // value; strong 1 averages linearly (the limit of the mean).
    const bool linear = params_.strong == 1.0;
    const unsigned char* own = ColourRow(y);
    const int ownBytes = colour_.pixelBytes;
    unsigned char* out = output_ + static_cast<std::ptrdiff_t>(y) * outputStride_;
    for (int x = 0; x < w; ++x, own += ownBytes, out += 4) {
        for (int c = 0; c < 4; ++c) {
            const double sum = job.sums[c][x];
            const double weight = job.weights[c][x];
            if (weight == 0.0) {
                const unsigned char b = c < 3 || ownBytes == 4 ? own[c] : 255;
                out[c] = ChannelToByte(ClampChannel(b / 255.0));
            } else if (linear || c == 3) {
                out[c] = ChannelToByte(ClampChannel((sum / weight) / 255.0));
            } else {
                out[c] = colourBytes_->Byte(sum / weight);
            }
        }
    }
}

bool CBlurEngine::RunGatherPass(RunMonitor& monitor) {
    const dof::Stage pass = dof::Stage::kGather;
    monitor.PassStarted(pass, height_);
    if (!ForEachRow(height_, [this](int y) { GatherRow(y); }, monitor, &pass)) return false;
    monitor.PassEnded(pass);
    return true;
}
