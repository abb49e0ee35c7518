// Runs of the first pass that repeat in the rows below: a flat stretch of a
// depth picture gives the same run (columns, J table and depth) row after
// row, and the first pass takes such a stack at once from column sums.
#include <algorithm>

#include "engine/BlurEngine.h"

// runBelow_ per run; the runs that do not repeat one above, per row.
bool CBlurEngine::MatchRunsBelow(RunMonitor& monitor) {
    const std::size_t runs = sourceRuns_.size();
    const std::uint16_t* const ids = spreadTables_.ids.data();
    const double* const depths = depths_.data();
    // The run of the row below with the same columns, blur and depth, or -1.
    // The runs of a row are in column order, so one walk pairs two rows.
    UnfilledArray<std::int32_t> same(runs);
    const bool paired = ForEachRow(height_, [&](int y) {
        const std::size_t begin = runStart_[static_cast<std::size_t>(y)], end = runStart_[static_cast<std::size_t>(y) + 1];
        const bool last = y + 1 == height_;
        std::size_t below = last ? 0 : runStart_[static_cast<std::size_t>(y) + 1];
        const std::size_t belowEnd = last ? 0 : runStart_[static_cast<std::size_t>(y) + 2];
        for (std::size_t k = begin; k < end; ++k) {
            same[k] = -1;
            const ColumnRun run = sourceRuns_[k];
            while (below < belowEnd && sourceRuns_[below].start < run.start) ++below;
            if (below == belowEnd || sourceRuns_[below].start != run.start || sourceRuns_[below].count != run.count)
                continue;
            // Runs are alike throughout: their first pixels tell.
            const std::size_t here = Index(run.start, y), there = Index(run.start, y + 1);
            if (spreadTables_.HasColumns(ids[here]) && ids[there] == ids[here] && depths[there] == depths[here])
                same[k] = static_cast<std::int32_t>(below);
        }
    }, monitor);
    if (!paired) return false;
    runBelow_.assign(runs, 0);
    std::vector<std::uint8_t> repeats(runs, 0);  // the same as a run of the row above
    for (std::size_t k = runs; k-- > 0;) {
        if (same[k] < 0) continue;
        const std::size_t below = static_cast<std::size_t>(same[k]);
        // A stack too tall to count starts afresh, so that every run is listed.
        if (runBelow_[below] == 65535) continue;
        runBelow_[k] = static_cast<std::uint16_t>(runBelow_[below] + 1);
        repeats[below] = 1;
    }
    freshStart_.assign(static_cast<std::size_t>(height_) + 1, 0);
    freshRuns_.clear();
    freshBelow_.clear();
    for (int y = 0; y < height_; ++y) {
        for (std::size_t k = runStart_[static_cast<std::size_t>(y)]; k < runStart_[static_cast<std::size_t>(y) + 1]; ++k)
            if (!repeats[k]) {
                freshRuns_.push_back(sourceRuns_[k]);
                freshBelow_.push_back(runBelow_[k]);
            }
        freshStart_[static_cast<std::size_t>(y) + 1] = freshRuns_.size();
    }
    return true;
}
