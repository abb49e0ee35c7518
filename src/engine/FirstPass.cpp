// The first pass: every pixel's reach, spread and lens kernel.
#include <algorithm>
#include <cmath>

#include "engine/BlurEngine.h"
#include "engine/Rounding.h"
#include "engine/RowJobs.h"
#include "engine/SlidingMax.h"
#include "engine/SourceRuns.h"
#include "engine/SpreadTables.h"

// Reach of every pixel: the largest blur in the K x K window around it (at
// least 1), rounded up to thirds. Rounding up to thirds keeps the order of
// values, so the maximum is taken of the rounded numerators: a running
// maximum along the rows and then along the columns.
bool CBlurEngine::ComputeReaches(RunMonitor& monitor) {
    const int w = width_;
    const int h = height_;
    const int k = kernelSize_;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    // ceil(3 max(m, 1)); a blur that is not a number never wins, like 1.
    constexpr std::int32_t kLeast = 3;
    LargeArray<std::int32_t> rowMax(count);
    reachThirds_.resize(count);
    const bool rowsDone = ForEachRow(h, [&](int y) {
        thread_local std::vector<std::int32_t> thirds, prefix, suffix;
        thirds.resize(static_cast<std::size_t>(w));
        const std::size_t row = static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const double b = blurs_[row + x];
            thirds[static_cast<std::size_t>(x)] = b > 1.0 ? static_cast<std::int32_t>(std::ceil(3.0 * b)) : kLeast;
        }
        SlidingMax(thirds.data(), &rowMax[row], w, k, k / 2, 1, 1, 1, kLeast, prefix, suffix);
    }, monitor);
    if (!rowsDone) return false;
    constexpr int kStripe = 64;
    const int stripes = (w + kStripe - 1) / kStripe;
    return ForEachRow(stripes, [&](int stripe) {
        thread_local std::vector<std::int32_t> prefix, suffix;
        const int x0 = stripe * kStripe;
        const std::size_t lanes = static_cast<std::size_t>(std::min(kStripe, w - x0));
        SlidingMax(&rowMax[static_cast<std::size_t>(x0)], &reachThirds_[static_cast<std::size_t>(x0)], h, k, k / 2,
                   static_cast<std::size_t>(w), static_cast<std::size_t>(w), lanes, kLeast, prefix, suffix);
    }, monitor);
}

// Spread of every pixel of row y: the mean of J = B (1 - M^2), M = 1 - (B - w) / B,
// over the neighbours in its window that are not behind it and whose J is at
// least 1. Each neighbour adds its J to the pixels of this row inside its own
// disc; neighbours are taken row by row, left to right, which is the order of
// the pixel's window, so every sum is formed as a window scan would form it.
void CBlurEngine::FirstPassRow(int y) {
    const int w = width_;

    SpreadRowJob job;
    int v0, v1;
    StartTargetRow(y, job, v0, v1, 0, blockLanes_);
    const std::size_t padded = static_cast<std::size_t>(w) + 2 * kRowPad;
    thread_local std::vector<double> sums, counts;
    sums.assign(padded, 0.0);
    counts.assign(padded, 0.0);
    job.half = kernelSize_ / 2;
    job.anyNonPositiveBlur = hasNonPositiveBlur_;
    job.tableValues = spreadTables_.Values();
    job.tableWidths = spreadTables_.Widths();
    job.tableRowLength = spreadTables_.RowLength();
    job.tableRowCentre = spreadTables_.RowCentre();
    job.sums = &sums[kRowPad];
    job.counts = &counts[kRowPad];
    thread_local std::vector<SpreadSource> sources;
    sources.resize(static_cast<std::size_t>(w));
    job.sources = sources.data();

    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        // A positive blur not above the doubled row distance has J <= 0 there.
        if (!(rowMaxBlur_[static_cast<std::size_t>(v)] > 2.0 * std::abs(dy)) && !hasNonPositiveBlur_) continue;
        const std::size_t sourceRow = Index(0, v);
        job.blurRow = &blurs_[sourceRow];
        job.depthRow = &depths_[sourceRow];
        job.tableIds = &spreadTables_.ids[sourceRow];
        // Away from its own row a pixel counts only where its blur is above 2
        // (or below zero, which may count anywhere).
        PickSources(job, y, v, dy == 0 || hasNonPositiveBlur_);
        spreadRow_(job);
    }

    const std::size_t row = Index(0, y);
    for (int x = 0; x < w; ++x) {
        // With every blur below 1 nothing contributes: the pixel keeps a spread of 1.
        const int count = static_cast<int>(counts[kRowPad + x]);
        spreads_[row + x] = count > 0 ? RoundUpThird(sums[kRowPad + x] / count) : 1.0;
    }
    ClaimKernels(y);
}

bool CBlurEngine::RunFirstPass(RunMonitor& monitor) {
    const dof::Stage pass = dof::Stage::kFirstPass;
    monitor.PassStarted(pass, height_);
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    spreads_.assign(count, 0.0);
    if (!ComputeReaches(monitor)) return false;
    hasNonPositiveBlur_ = false;
    for (const double b : blurs_)
        if (b <= 0.0) hasNonPositiveBlur_ = true;
    // Tables of J for up to 32 MB of distinct blurs; others are computed as met.
    spreadTables_.Build(blurs_, kernelSize_ / 2, [this](int dy) { return DistanceRow(dy); }, std::size_t{32} << 20,
                        threads_);
    // Neighbours with one J table and one depth add their J to the same
    // targets alike, so they run together.
    const double* const blurs = blurs_.data();
    const double* const depths = depths_.data();
    const std::uint16_t* const ids = spreadTables_.ids.data();
    const bool listed = ListSourceRuns(
        [blurs](std::size_t i) { return blurs[i] > 2.0; },
        [depths, ids](std::size_t left, std::size_t i) {
            return ids[i] != kNoSpreadTable && ids[i] == ids[left] && depths[i] == depths[left];
        },
        monitor);
    if (!listed || !ForEachRow(height_, [this](int y) { FirstPassRow(y); }, monitor, &pass)) return false;
    spreadTables_.Clear();
    LargeArray<double>().swap(blurs_);
    LargeArray<ColumnRun>().swap(sourceRuns_);
    monitor.PassEnded(pass);
    return true;
}
