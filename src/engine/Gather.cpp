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

namespace {
// This thread's room for the sources of a source row of width pixels, one
// per group of rows listed at once.
GatherSource* ThreadSources(int width, int group = 0) {
    thread_local std::vector<GatherSource> sources[kListedGroups];
    sources[group].resize(static_cast<std::size_t>(width));
    return sources[group].data();
}
}  // namespace

// Sets job up for target row y (the thread's arrays of slot), in blocks of
// lanes targets, with its sums at 0.
void CBlurEngine::StartGatherRow(int y, int slot, int lanes, GatherRowJob& job, int& firstSourceRow,
                                 int& lastSourceRow) {
    const int w = width_;
    StartTargetRow(y, job, firstSourceRow, lastSourceRow, slot, lanes);
    const std::size_t row = Index(0, y);
    const std::size_t padded = static_cast<std::size_t>(w) + 2 * kRowPad;
    thread_local std::vector<double> centreSpreads[kTargetRowSlots], totalsOf[kTargetRowSlots];
    std::vector<double>& centreSpread = centreSpreads[slot];
    std::vector<double>& totals = totalsOf[slot];
    centreSpread.assign(padded, std::numeric_limits<double>::quiet_NaN());
    // Four sums and four weights, or one weight for a grey lens.
    totals.assign(padded * (greyKernels_ ? 5 : 8), 0.0);
    for (int x = 0; x < w; ++x) centreSpread[kRowPad + x] = spreads_[row + x];
    job.kernelLanes = kernelLanes_.data();
    job.centreSpread = &centreSpread[kRowPad];
    job.colourExposure = exposureTable_;
    job.alphaExposure = alphaExposureTable_;
    job.countWork = countWork_;
    job.sourcePixelBytes = colour_.pixelBytes;
    job.grey = greyKernels_;
    for (int c = 0; c < 4; ++c) {
        job.sums[c] = &totals[padded * static_cast<std::size_t>(c) + kRowPad];
        // A grey lens's four weights are one: the kernels fill the first.
        job.weights[c] = &totals[padded * static_cast<std::size_t>(greyKernels_ ? 4 : 4 + c) + kRowPad];
    }
}

// The arrays of source row v.
void CBlurEngine::SetSourceRow(GatherRowJob& job, int v) const {
    const std::size_t sourceRow = Index(0, v);
    job.spreadRow = &spreads_[sourceRow];
    job.depthRow = &depths_[sourceRow];
    job.kernelIdRow = &kernelIds_[sourceRow];
    job.inFrontRow = &inFront_[sourceRow];
    job.sourceByteRow = ColourRow(v);
    // A spread s reaches targets at doubled distances up to s - 1.
    job.widestSpan = (rowMaxSpread_[static_cast<std::size_t>(v)] - 1.0) / 2.0;
}

void CBlurEngine::GatherRow(int y) {
    GatherRowJob job;
    int v0, v1;
    StartGatherRow(y, 0, blockLanes_, job, v0, v1);
    job.sources = ThreadSources(width_);
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        // A spread not above the doubled row distance covers nothing in this row.
        if (!(rowMaxSpread_[static_cast<std::size_t>(v)] > 2.0 * std::abs(dy))) continue;
        SetSourceRow(job, v);
        PickSources(job, y, v, dy == 0);
        gatherRow_(job);
    }
    visitCount_ += job.visits;
    contributionCount_ += job.contributions;
    WriteGatheredRow(y, job);
}

// Rows y .. y + groups * kGroupRows - 1 at once, in groups of kGroupRows:
// every source row that any of their windows reaches, top to bottom, is
// gathered into every group that it may reach, its sources listed once for
// all of those.
void CBlurEngine::GatherRowGroup(int y, int groups) {
    const int lanes = blockLanes_ / 2;
    GatherRowJob rows[kTargetRowSlots];
    GatherRowJob* jobs[kTargetRowSlots];
    int v0 = height_, v1 = -1;
    int firstOf[kListedGroups], lastOf[kListedGroups];  // each group's source rows
    for (int g = 0; g < groups; ++g) {
        firstOf[g] = height_, lastOf[g] = -1;
        for (int r = g * kGroupRows; r < (g + 1) * kGroupRows; ++r) {
            int first, last;
            StartGatherRow(y + r, r, lanes, rows[r], first, last);
            rows[r].alphaOfWeight = alphaOfWeight_;
            jobs[r] = &rows[r];
            firstOf[g] = std::min(firstOf[g], first);
            lastOf[g] = std::max(lastOf[g], last);
        }
        rows[g * kGroupRows].sources = ThreadSources(width_, g);
        v0 = std::min(v0, firstOf[g]);
        v1 = std::max(v1, lastOf[g]);
    }
    for (int v = v0; v <= v1; ++v) {
        // The groups that source row v may reach: all at once, or each alone.
        bool reached[kListedGroups];
        int reachedCount = 0;
        for (int g = 0; g < groups; ++g) {
            const int dy = v - (y + g * kGroupRows);
            const int nearer = dy < 0 ? -dy : dy >= kGroupRows ? dy - (kGroupRows - 1) : 0;
            // A spread not above the doubled row distance covers nothing there.
            reached[g] = firstOf[g] <= v && v <= lastOf[g] &&
                         rowMaxSpread_[static_cast<std::size_t>(v)] > 2.0 * nearer;
            reachedCount += reached[g] ? 1 : 0;
        }
        if (reachedCount == groups) {
            GatherGroupAgainst(y, v, jobs, groups);
            continue;
        }
        for (int g = 0; g < groups; ++g)
            if (reached[g]) GatherGroupAgainst(y + g * kGroupRows, v, jobs + g * kGroupRows, 1);
    }
    for (int g = 0; g < groups; ++g) {
        visitCount_ += rows[g * kGroupRows].visits;
        contributionCount_ += rows[g * kGroupRows].contributions;
    }
    for (int r = 0; r < groups * kGroupRows; ++r) WriteGatheredRow(y + r, rows[r]);
}

// Source row v into groups groups of rows from row y (jobs[r] is row y + r).
void CBlurEngine::GatherGroupAgainst(int y, int v, GatherRowJob* const* jobs, int groups) {
    const int n = groups * kGroupRows;
    const int dy = v - y;
    SetSourceRow(*jobs[0], v);
    // Every column when the source row is one of the rows.
    PickSources(*jobs[0], y, v, dy >= 0 && dy < n);
    for (int r = 1; r < n; ++r) SetRowOffset(*jobs[r], dy - r);
    gatherGroup_(jobs, groups);
}

// Back from exposure space, straight to bytes: colour means through the
// table of ExposureBytes. A channel that met no weight keeps the source
// value; strong 1 averages linearly (the limit of the mean).
void CBlurEngine::WriteGatheredRow(int y, const GatherRowJob& job) {
    const bool linear = params_.strong == 1.0;
    const unsigned char* own = ColourRow(y);
    const int ownBytes = colour_.pixelBytes;
    unsigned char* out = output_ + static_cast<std::ptrdiff_t>(y) * outputStride_;
    auto keepOwn = [&](int c) {
        const unsigned char b = c < 3 || ownBytes == 4 ? own[c] : 255;
        out[c] = ChannelToByte(ClampChannel(b / 255.0));
    };
    if (job.grey && !linear) {
        // One weight for all four channels, tested once a pixel.
        const double* const weights = job.weights[0];
        const double *const red = job.sums[0], *const green = job.sums[1], *const blue = job.sums[2];
        const double* const alpha = job.sums[3];
        for (int x = 0; x < width_; ++x, own += ownBytes, out += 4) {
            const double weight = weights[x];
            if (weight == 0.0) {
                for (int c = 0; c < 4; ++c) keepOwn(c);
                continue;
            }
            out[0] = colourBytes_->Byte(red[x] / weight);
            out[1] = colourBytes_->Byte(green[x] / weight);
            out[2] = colourBytes_->Byte(blue[x] / weight);
            out[3] = job.alphaOfWeight ? 255 : ChannelToByte(ClampChannel((alpha[x] / weight) / 255.0));
        }
        return;
    }
    for (int x = 0; x < width_; ++x, own += ownBytes, out += 4) {
        for (int c = 0; c < 4; ++c) {
            const double sum = job.sums[c][x];
            const double weight = job.weights[c][x];
            if (weight == 0.0) {
                keepOwn(c);
            } else if (c == 3 && job.alphaOfWeight) {
                out[c] = 255;
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
    // Rows in groups where the lens allows (the last rows alone).
    if (gatherGroup_ != nullptr) {
        const int items = (height_ + kTargetRowSlots - 1) / kTargetRowSlots;
        monitor.PassStarted(pass, items);
        if (!ForEachRow(items, [this](int item) {
                int y = item * kTargetRowSlots;
                if (y + kTargetRowSlots <= height_) {
                    GatherRowGroup(y, kListedGroups);
                    return;
                }
                for (; y + kGroupRows <= height_; y += kGroupRows) GatherRowGroup(y, 1);
                for (; y < height_; ++y) GatherRow(y);
            }, monitor, &pass))
            return false;
    } else {
        monitor.PassStarted(pass, height_);
        if (!ForEachRow(height_, [this](int y) { GatherRow(y); }, monitor, &pass)) return false;
    }
    monitor.PassEnded(pass);
    return true;
}
