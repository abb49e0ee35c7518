#pragma once
// The lists of neighbours that the passes visit (see CBlurEngine::ListSourceRuns).
#include <algorithm>
#include <vector>

#include "engine/BlurEngine.h"

// The predicates are templates so that the scan of every pixel inlines them.
template <class Reaches, class SameRun>
bool CBlurEngine::ListSourceRuns(Reaches reachesOtherRows, SameRun sameRun, RunMonitor& monitor) {
    runStart_.assign(static_cast<std::size_t>(height_) + 1, 0);
    // The lists hold 16-bit columns; wider rows are always visited whole.
    if (width_ > 65535) {
        sourceRuns_.clear();
        return true;
    }
    // Row y's runs, each passed to add(start, count).
    auto forEachRun = [&](int y, auto add) {
        const std::size_t row = Index(0, y);
        int start = -1, count = 0;
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = row + static_cast<std::size_t>(x);
            if (!reachesOtherRows(i)) continue;
            if (start >= 0 && start + count == x && count < 65535 && sameRun(i - 1, i)) {
                ++count;
                continue;
            }
            if (start >= 0) add(start, count);
            start = x;
            count = 1;
        }
        if (start >= 0) add(start, count);
    };
    // Listed row by row, then put together in row order.
    std::vector<std::vector<ColumnRun>> rowRuns(static_cast<std::size_t>(height_));
    const bool listed = ForEachRow(height_, [&](int y) {
        std::vector<ColumnRun>& runs = rowRuns[static_cast<std::size_t>(y)];
        forEachRun(y, [&](int start, int count) {
            runs.push_back(ColumnRun{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(count)});
        });
    }, monitor);
    if (!listed) return false;
    runEnd_.resize(static_cast<std::size_t>(height_));
    for (int y = 0; y < height_; ++y) {
        runStart_[static_cast<std::size_t>(y) + 1] =
            runStart_[static_cast<std::size_t>(y)] + rowRuns[static_cast<std::size_t>(y)].size();
        runEnd_[static_cast<std::size_t>(y)] = runStart_[static_cast<std::size_t>(y) + 1];
    }
    sourceRuns_.resize(runStart_.back());
    return ForEachRow(height_, [&](int y) {
        const std::vector<ColumnRun>& runs = rowRuns[static_cast<std::size_t>(y)];
        std::copy(runs.begin(), runs.end(), sourceRuns_.data() + runStart_[static_cast<std::size_t>(y)]);
    }, monitor);
}
