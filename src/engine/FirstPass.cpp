// The first pass: every pixel's reach, spread and lens kernel.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "engine/BlurEngine.h"
#include "engine/Rounding.h"
#include "engine/RowJobs.h"
#include "engine/SlidingMax.h"
#include "engine/SpreadBound.h"
#include "engine/SourceRuns.h"
#include "engine/SpreadTables.h"

// Every pixel's blur, the largest of each row, and the reach of every pixel:
// the largest blur in the K x K window around it (at least 1), rounded up to
// thirds. Rounding up to thirds keeps the order of values, so the maximum is
// taken of the rounded numerators: a running maximum along the rows and then,
// in place, along the columns.
bool CBlurEngine::ComputeBlursAndReaches(RunMonitor& monitor) {
    const int w = width_;
    const int h = height_;
    const int k = kernelSize_;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    // ceil(3 max(m, 1)); a blur that is not a number never wins, like 1.
    constexpr std::int32_t kLeast = 3;
    blurs_.resize(count);
    rowMaxBlur_.assign(static_cast<std::size_t>(h), 0.0);
    reachThirds_.resize(count);
    // Rows in bands, side by side as lanes (element x of row r at x * kBand +
    // r), so that the running maxima along them take the lanes at once.
    constexpr int kBand = 16;
    const int bands = (h + kBand - 1) / kBand;
    std::vector<std::uint8_t> nonPositiveIn(static_cast<std::size_t>(bands), 0);
    const bool rowsDone = ForEachRow(bands, [&](int band) {
        thread_local std::vector<std::int32_t> thirds, maxima, prefix, suffix;
        const std::size_t lanes = static_cast<std::size_t>(kBand);
        thirds.resize(static_cast<std::size_t>(w) * lanes);
        maxima.resize(static_cast<std::size_t>(w) * lanes);
        const int y0 = band * kBand;
        const int rows = std::min(kBand, h - y0);
        bool nonPositive = false;
        // Neighbouring pixels mostly share a depth: reuse the last blur and
        // its thirds.
        double lastDepth = 0.0, lastBlur = BlurOfDepth(0.0);
        auto thirdsOf = [](double b) { return b > 1.0 ? static_cast<std::int32_t>(std::ceil(3.0 * b)) : kLeast; };
        std::int32_t lastThirds = thirdsOf(lastBlur);
        for (int r = 0; r < rows; ++r) {
            const double* const depths = &depths_[Index(0, y0 + r)];
            double* const blurs = &blurs_[Index(0, y0 + r)];
            std::int32_t* const lane = &thirds[static_cast<std::size_t>(r)];
            double rowMax = 0.0;
            for (int x = 0; x < w; ++x) {
                if (!(depths[x] == lastDepth)) {
                    lastDepth = depths[x];
                    lastBlur = BlurOfDepth(lastDepth);
                    lastThirds = thirdsOf(lastBlur);
                }
                const double v = lastBlur;
                blurs[x] = v;
                if (v > rowMax) rowMax = v;
                if (v <= 0.0) nonPositive = true;
                lane[static_cast<std::size_t>(x) * lanes] = lastThirds;
            }
            rowMaxBlur_[static_cast<std::size_t>(y0 + r)] = rowMax;
        }
        nonPositiveIn[static_cast<std::size_t>(band)] = nonPositive ? 1 : 0;
        SlidingMax(thirds.data(), maxima.data(), w, k, k / 2, lanes, lanes, lanes, kLeast, prefix, suffix);
        for (int r = 0; r < rows; ++r) {
            const std::int32_t* const lane = &maxima[static_cast<std::size_t>(r)];
            std::int32_t* const out = &reachThirds_[Index(0, y0 + r)];
            for (int x = 0; x < w; ++x) out[x] = lane[static_cast<std::size_t>(x) * lanes];
        }
    }, monitor);
    if (!rowsDone) return false;
    hasNonPositiveBlur_ = std::find(nonPositiveIn.begin(), nonPositiveIn.end(), 1) != nonPositiveIn.end();
    // Columns in stripes, each copied out first so that its maxima can go
    // back in its place.
    constexpr int kStripe = 64;
    const int stripes = (w + kStripe - 1) / kStripe;
    return ForEachRow(stripes, [&](int stripe) {
        thread_local std::vector<std::int32_t> column, prefix, suffix;
        const int x0 = stripe * kStripe;
        const std::size_t lanes = static_cast<std::size_t>(std::min(kStripe, w - x0));
        column.resize(static_cast<std::size_t>(h) * lanes);
        for (int y = 0; y < h; ++y)
            std::copy_n(&reachThirds_[Index(x0, y)], lanes, &column[static_cast<std::size_t>(y) * lanes]);
        SlidingMax(column.data(), &reachThirds_[static_cast<std::size_t>(x0)], h, k, k / 2, lanes,
                   static_cast<std::size_t>(w), lanes, kLeast, prefix, suffix);
    }, monitor);
}

std::size_t CBlurEngine::ChunksPerRow() const {
    return (static_cast<std::size_t>(width_) + kSmoothChunk - 1) / kSmoothChunk;
}

// Marks the chunks of each row whose depths rise or fall in stretches of 16
// columns or more on average (at most three turns, none at a depth that is
// not a number).
bool CBlurEngine::MarkSmoothChunks(RunMonitor& monitor) {
    const std::size_t chunks = ChunksPerRow();
    smoothChunks_.assign(chunks * static_cast<std::size_t>(height_), 0);
    return ForEachRow(height_, [&](int y) {
        const double* const row = &depths_[Index(0, y)];
        for (std::size_t c = 0; c < chunks; ++c) {
            const int from = static_cast<int>(c) * kSmoothChunk;
            const int to = std::min(width_, from + kSmoothChunk);
            int turns = 0, order = 0;
            for (int x = from + 1; x < to; ++x) {
                const double d = row[x], before = row[x - 1];
                const int step = d > before ? 1 : d < before ? -1 : 0;
                if (!(d == d)) {
                    turns = kSmoothChunk;
                    break;
                }
                if (step != 0 && order != 0 && step != order) ++turns;
                if (step != 0) order = step;
            }
            smoothChunks_[static_cast<std::size_t>(y) * chunks + c] = turns <= 3 ? 1 : 0;
        }
    }, monitor);
}

// Spread of every pixel of row y: the mean of J = B (1 - M^2), M = 1 - (B - w) / B,
// over the neighbours in its window that are not behind it and whose J is at
// least 1, rounded up to thirds. Each neighbour adds its J to the pixels of
// this row inside its own disc; neighbours are taken row by row, left to
// right, which is the order of the pixel's window, so every sum is formed as
// a window scan would form it. With running sums, a run of neighbours adds
// its J at once, and the sum is known within a bound (see SpreadWithinBound).
bool CBlurEngine::FirstPassRow(int y, bool runningSums) {
    const int w = width_;

    SpreadRowJob job;
    int v0, v1;
    StartTargetRow(y, job, v0, v1, 0, blockLanes_);
    const std::size_t padded = static_cast<std::size_t>(w) + 2 * kRowPad;
    thread_local std::vector<double> sums, counts, errors;
    sums.assign(padded, 0.0);
    counts.assign(padded, 0.0);
    errors.assign(runningSums ? padded : 0, 0.0);
    job.half = kernelSize_ / 2;
    job.anyNonPositiveBlur = hasNonPositiveBlur_;
    job.tableValues = spreadTables_.Values();
    job.tableWidths = spreadTables_.Widths();
    job.tableRowLength = spreadTables_.RowLength();
    job.tableRowCentre = spreadTables_.RowCentre();
    job.sums = &sums[kRowPad];
    job.counts = &counts[kRowPad];
    job.tableErrors = runningSums ? spreadTables_.SumErrors() : nullptr;
    job.errors = runningSums ? &errors[kRowPad] : nullptr;
    const SpreadRowFunction spreadRows = runningSums ? spreadSumsRow_ : spreadRow_;
    // Room for the sources of a source row, or, with running sums, of
    // several: those are listed together and then swept at once.
    const int room = runningSums ? std::max(w, tuning_.sourcesAtOnce) : w;
    thread_local std::vector<SpreadSource> sources;
    sources.resize(static_cast<std::size_t>(room));
    job.sources = sources.data();
    job.sourceRoom = room;
    if (runningSums) {
        thread_local std::vector<const void*> active, survivors;
        thread_local std::vector<const SpreadSource*> byBlock;
        thread_local std::vector<int> blockEnds;
        active.resize(static_cast<std::size_t>(room));
        survivors.resize(static_cast<std::size_t>(room));
        byBlock.resize(static_cast<std::size_t>(room));
        blockEnds.resize(static_cast<std::size_t>(w) + 2);
        job.scratch.active = active.data();
        job.scratch.survivors = survivors.data();
        job.byBlock = byBlock.data();
        job.blockEnds = blockEnds.data();
        thread_local MadeSpreadRows madeRows;
        madeRows.Start(job.half);
        job.madeRows = &madeRows;
        if (!smoothChunks_.empty()) {
            // As many entries as the sources listed before a sweep, and a row's more.
            thread_local std::vector<VaryingEntry> varyingEntries;
            thread_local VaryingRuns varyingRuns;
            varyingEntries.resize(static_cast<std::size_t>(room) + 2 * static_cast<std::size_t>(w));
            varyingRuns.entries = varyingEntries.data();
            varyingRuns.room = static_cast<int>(varyingEntries.size());
            varyingRuns.used = 0;
            job.varyingRuns = &varyingRuns;
        }
    }

    // Runs repeated in the rows below come as rectangles (see MatchRunsBelow),
    // each on one side of the target row: the first row of a side lists
    // every run, the next ones only those that do not repeat one above.
    const bool rectangles = runningSums && !freshStart_.empty();
    if (rectangles) {
        job.columnSums = spreadTables_.ColumnSums();
        job.columnCounts = spreadTables_.ColumnCounts();
        job.columnErrors = spreadTables_.ColumnErrors();
        job.columnReach = spreadTables_.ColumnReach();
        job.columnTables = static_cast<int>(spreadTables_.ColumnTables());
    }
    thread_local std::vector<SpreadRowJob> sourceRows;
    sourceRows.clear();
    for (int v = v0; v <= v1; ++v) {
        const int dy = v - y;
        // A positive blur not above the doubled row distance has J <= 0 there
        // and in the rows further off; a rectangle from above reaches nearer.
        const bool reaches = rowMaxBlur_[static_cast<std::size_t>(v)] > 2.0 * std::abs(dy) || hasNonPositiveBlur_;
        if (!reaches && !(rectangles && dy < 0)) continue;
        const std::size_t sourceRow = Index(0, v);
        job.blurRow = &blurs_[sourceRow];
        job.depthRow = &depths_[sourceRow];
        job.tableIds = &spreadTables_.ids[sourceRow];
        if (!smoothChunks_.empty()) job.smoothChunks = &smoothChunks_[static_cast<std::size_t>(v) * ChunksPerRow()];
        // Away from its own row a pixel counts only where its blur is above 2
        // (or below zero, which may count anywhere).
        PickSources(job, y, v, dy == 0 || hasNonPositiveBlur_);
        job.runBelow = nullptr;
        if (rectangles && dy != 0) {
            const std::size_t row = static_cast<std::size_t>(v);
            job.rowsAfter = dy < 0 ? -dy - 1 : v1 - v;
            if (v == v0 || dy == 1) {
                job.runBelow = runBelow_.data() + runStart_[row];
            } else {
                job.runs = freshRuns_.data() + freshStart_[row];
                job.runCount = static_cast<int>(freshStart_[row + 1] - freshStart_[row]);
                job.runBelow = freshBelow_.data() + freshStart_[row];
            }
        }
        sourceRows.push_back(job);
    }
    spreadRows(sourceRows.data(), static_cast<int>(sourceRows.size()));

    const std::size_t row = Index(0, y);
    double* const spreads = &spreads_[row];
    thread_local std::vector<int> open;
    open.resize(static_cast<std::size_t>(w));
    int openCount = 0;
    // Whole blocks of lanes first, where the processor has lanes for them.
    int x = runningSums && rowSpreads_ != nullptr
                ? rowSpreads_(&sums[kRowPad], &errors[kRowPad], &counts[kRowPad], w, spreads, open.data(), openCount)
                : 0;
    for (; x < w; ++x) {
        // With every blur below 1 nothing contributes: the pixel keeps a spread of 1.
        const int count = static_cast<int>(counts[kRowPad + x]);
        double spread = 1.0;
        if (count > 0 && !runningSums)
            spread = RoundUpThird(sums[kRowPad + x] / count);
        else if (count > 0 && !SpreadWithinBound(sums[kRowPad + x], errors[kRowPad + x], count, spread))
            open[static_cast<std::size_t>(openCount++)] = x;
        spreads[x] = spread;
    }
    open.resize(static_cast<std::size_t>(openCount));
    double openArea = 0.0;
    for (const int o : open) {
        const double side = job.high[o] - job.low[o] + 1.0;
        openArea += side * side;
    }
    // The counts are whole numbers, far below 2^53: their sum is exact in
    // any order, so four running sums stand for one.
    double partCounts[4] = {0.0, 0.0, 0.0, 0.0};
    for (x = 0; x < w; ++x) partCounts[x & 3] += counts[kRowPad + x];
    const double rowCount = (partCounts[0] + partCounts[1]) + (partCounts[2] + partCounts[3]);
    // Open spreads are cheaper one window at a time than the row again in
    // window order, unless their windows hold more than a sixteenth as many
    // positions as the row has contributions: a position of a scan costs an
    // order of magnitude more than a contribution in lanes, and so a row
    // never costs much more than twice over. (A picture with 33,000 open
    // spreads in windows of up to 24 x 24 took 181 ms in the first pass so,
    // 299 ms with all their rows again.)
    if (16.0 * openArea > rowCount) return false;
    for (const int o : open)
        spreads[o] = SpreadInWindowOrder(o, y, static_cast<int>(job.low[o]), static_cast<int>(job.high[o]));
    firstPassPixelsAgain_ += open.size();
    ClaimKernels(y);
    return true;
}

// The spread of pixel (x, y) by a plain scan of its window (offsets low ..
// high in both axes) in window order.
double CBlurEngine::SpreadInWindowOrder(int x, int y, int low, int high) const {
    const double dc = depths_[Index(x, y)];
    double sum = 0.0;
    int count = 0;
    for (int dy = low; dy <= high; ++dy) {
        const int v = y + dy;
        if (v < 0 || v >= height_) continue;
        // A positive blur not above the doubled row distance has J <= 0 there.
        const double minimum = 2.0 * std::abs(dy);
        if (!(rowMaxBlur_[static_cast<std::size_t>(v)] > minimum) && !hasNonPositiveBlur_) continue;
        const double* const distance = DistanceRow(dy);
        for (int dx = low; dx <= high; ++dx) {
            const int u = x + dx;
            if (u < 0 || u >= width_) continue;
            const double b = blurs_[Index(u, v)];
            if ((b > 0.0 && b <= minimum) || !(depths_[Index(u, v)] <= dc)) continue;
            const double j = AttenuatedBlur(b, distance[dx]);
            if (j >= 1.0) {
                sum = sum + j;
                ++count;
            }
        }
    }
    return count > 0 ? RoundUpThird(sum / count) : 1.0;
}

bool CBlurEngine::RunFirstPass(RunMonitor& monitor) {
    const dof::Stage pass = dof::Stage::kFirstPass;
    monitor.PassStarted(pass, height_);
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    spreads_.resize(count);
    if (!ComputeBlursAndReaches(monitor)) return false;
    // Tables for up to 32 MB of distinct blurs; others are computed as met.
    // Running sums first: the rows they leave open take J values after.
    const auto distanceRow = [this](int dy) { return DistanceRow(dy); };
    const bool runningSums = tuning_.runningSums;
    const SpreadTables::Form first = runningSums ? SpreadTables::Form::kRunningSums : SpreadTables::Form::kValues;
    spreadTables_.Build(blurs_, kernelSize_ / 2, distanceRow, tuning_.tableBytes, threads_, first,
                        runningSums ? tuning_.columnBytes : 0, tuning_.fewestPixels);
    // Neighbours with one J table (or, without one, one blur) and one depth
    // add their J to the same targets alike, so they run together.
    const double* const blurs = blurs_.data();
    const double* const depths = depths_.data();
    const std::uint16_t* const ids = spreadTables_.ids.data();
    const bool listed = ListSourceRuns(
        [blurs](std::size_t i) { return blurs[i] > 2.0; },
        [depths, ids, blurs](std::size_t left, std::size_t i) {
            return ids[i] == ids[left] && depths[i] == depths[left] &&
                   (ids[i] != kNoSpreadTable || blurs[i] == blurs[left]);
        },
        monitor);
    if (!listed) return false;
    freshStart_.clear();
    if (spreadTables_.ColumnTables() > 0 && !hasNonPositiveBlur_ && width_ <= 65535 && !MatchRunsBelow(monitor))
        return false;
    // Runs of blurs that differ are tried only where some blurs have no table.
    smoothChunks_.clear();
    if (runningSums && spreadTables_.SomeUntabled() && !MarkSmoothChunks(monitor)) return false;
    std::vector<std::uint8_t> leftOpen(static_cast<std::size_t>(height_), 0);
    const bool done = ForEachRow(height_, [&](int y) {
        leftOpen[static_cast<std::size_t>(y)] = !FirstPassRow(y, runningSums);
    }, monitor, &pass);
    if (!done) return false;
    std::vector<int> again;
    for (int y = 0; y < height_; ++y)
        if (leftOpen[static_cast<std::size_t>(y)]) again.push_back(y);
    stats_.firstPassRowsAgain = static_cast<int>(again.size());
    stats_.firstPassPixelsAgain = firstPassPixelsAgain_.load();
    if (!again.empty()) {
        const auto start = std::chrono::steady_clock::now();
        spreadTables_.Refill(SpreadTables::Form::kValues, distanceRow, threads_);
        const bool redone = ForEachRow(static_cast<int>(again.size()), [&](int k) {
            FirstPassRow(again[static_cast<std::size_t>(k)], false);
        }, monitor);
        if (!redone) return false;
        stats_.rowLoopsMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    spreadTables_.Clear();
    UnfilledArray<double>().swap(blurs_);
    UnfilledArray<ColumnRun>().swap(sourceRuns_);
    LargeArray<std::uint16_t>().swap(runBelow_);
    LargeArray<ColumnRun>().swap(freshRuns_);
    LargeArray<std::uint16_t>().swap(freshBelow_);
    std::vector<std::size_t>().swap(freshStart_);
    std::vector<std::uint8_t>().swap(smoothChunks_);
    monitor.PassEnded(pass);
    return true;
}
