#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/BlurEngine.h"
#include "engine/EqualRuns.h"
#include "engine/Rounding.h"

namespace {
// Each thread's working space for the lists of sources of its jobs.
thread_local std::vector<const void*> active, survivors;
}  // namespace

// The window of every pixel of row y: offsets low .. high in both axes (the
// window of dimension KernelDimension(reach), at most kernelSize, reaches one
// further up and left when even), the pixel's depth, and the extremes of the
// offsets over the row.
void CBlurEngine::WindowsOfRow(int y, double* low, double* high, double* centreDepth, int& windowLow,
                               int& windowHigh) const {
    const std::size_t row = Index(0, y);
    windowLow = 0;
    windowHigh = 0;
    // Neighbouring pixels mostly share a reach, and so a window: one a run.
    const std::int32_t* const reach = &reachThirds_[row];
    for (int x = 0; x < width_;) {
        const std::int32_t thirds = reach[x];
        int n = KernelDimension(thirds / 3.0);
        if (n > kernelSize_) n = kernelSize_;
        const int end = EqualRunEnd(reach, x + 1, width_, thirds);
        std::fill(low + x, low + end, static_cast<double>(-(n / 2)));
        std::fill(high + x, high + end, static_cast<double>(-(n / 2) + n - 1));
        windowLow = std::min(windowLow, -(n / 2));
        windowHigh = std::max(windowHigh, -(n / 2) + n - 1);
        x = end;
    }
    if (width_ > 0) std::memcpy(centreDepth, &depths_[row], static_cast<std::size_t>(width_) * sizeof(double));
}

// The bounds of every block of lanes targets (see BlockBounds).
void CBlurEngine::BoundBlocks(const double* low, const double* high, const double* centreDepth, int lanes,
                              std::vector<BlockBounds>& bounds) const {
    const double inf = std::numeric_limits<double>::infinity();
    bounds.resize(static_cast<std::size_t>((width_ + lanes - 1) / lanes));
    for (int x = 0, block = 0; x < width_; x += lanes, ++block) {
        BlockBounds b{-inf, inf, inf, -inf};
        for (int t = x; t < x + lanes && t < width_; ++t) {
            b.lowMax = std::max(b.lowMax, low[t]);
            b.highMin = std::min(b.highMin, high[t]);
            // A depth that is not a number is behind nothing and before nothing.
            b.nearest = centreDepth[t] == centreDepth[t] ? std::min(b.nearest, centreDepth[t]) : -inf;
            if (centreDepth[t] > b.farthest) b.farthest = centreDepth[t];
        }
        bounds[static_cast<std::size_t>(block)] = b;
    }
}

// Sets job up for the target row y, in blocks of lanes targets: its windows
// and padded arrays (the thread's own, one set per slot), and the rows of
// sources its windows reach.
void CBlurEngine::StartTargetRow(int y, RowJob& job, int& firstSourceRow, int& lastSourceRow, int slot, int lanes) {
    // Per pixel of the row, with kRowPad entries on either side that take no part.
    const std::size_t padded = static_cast<std::size_t>(width_) + 2 * kRowPad;
    thread_local std::vector<double> lows[kTargetRowSlots], highs[kTargetRowSlots], centreDepths[kTargetRowSlots];
    thread_local std::vector<BlockBounds> boundsOf[kTargetRowSlots];
    std::vector<double>& low = lows[slot];
    std::vector<double>& high = highs[slot];
    std::vector<double>& centreDepth = centreDepths[slot];
    std::vector<BlockBounds>& bounds = boundsOf[slot];
    // WindowsOfRow fills every pixel's entries; the pads keep what they get here.
    if (low.size() != padded) {
        low.assign(padded, 1.0);
        high.assign(padded, -1.0);
        centreDepth.assign(padded, std::numeric_limits<double>::quiet_NaN());
    }
    int windowLow = 0, windowHigh = 0;
    WindowsOfRow(y, &low[kRowPad], &high[kRowPad], &centreDepth[kRowPad], windowLow, windowHigh);
    BoundBlocks(&low[kRowPad], &high[kRowPad], &centreDepth[kRowPad], lanes, bounds);
    job.bounds = bounds.data();
    job.blockLanes = lanes;
    job.width = width_;
    job.low = &low[kRowPad];
    job.high = &high[kRowPad];
    job.centreDepth = &centreDepth[kRowPad];
    firstSourceRow = std::max(0, y + windowLow);
    lastSourceRow = std::min(height_ - 1, y + windowHigh);

    active.resize(static_cast<std::size_t>(width_));
    survivors.resize(static_cast<std::size_t>(width_));
    job.scratch.active = active.data();
    job.scratch.survivors = survivors.data();
}

void CBlurEngine::SetRowOffset(RowJob& job, int dy) const {
    job.dy = dy;
    // Rows taken at once may look a row past a window; nothing there is
    // reached, and the distances are never read.
    const int half = kernelSize_ / 2;
    job.distance = DistanceRow(std::max(-half, std::min(half, dy)));
}

void CBlurEngine::PickSources(RowJob& job, int y, int v, bool everyColumn) const {
    SetRowOffset(job, v - y);
    // The run lists hold 16-bit columns; wider rows are visited whole.
    if (everyColumn || width_ > 65535) {
        job.runs = nullptr;
        job.runCount = width_;
        return;
    }
    const std::size_t first = runStart_[static_cast<std::size_t>(v)];
    job.runs = sourceRuns_.data() + first;
    job.runCount = static_cast<int>(runEnd_[static_cast<std::size_t>(v)] - first);
}
