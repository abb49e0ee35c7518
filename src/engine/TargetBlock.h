#pragma once
// A block of targets x .. x + L::kCount - 1 of a target row, as both passes
// see it against one source row: the targets' windows and depths, and the
// bounds within which a source passes the window and depth tests in every
// lane at once. Most sources lie within them; those need no test per lane.
#include <limits>

#include "engine/RowJobs.h"

template <class L>
struct TargetBlock {
    typedef typename L::V V;
    typedef typename L::M M;

    V xv;            // the targets' columns
    V low, high;     // their windows' offset range
    V depth;         // their depths
    M rowIn;         // the lanes whose window holds the source row
    // A source in column u with depth d lies in every target's window and
    // is behind none of them when firstColumn <= u <= lastColumn and
    // d <= nearest. The range is empty when a lane's window misses the
    // source row or a lane's depth is not a number. Lanes past the end of
    // the row take no part: their sums are never read.
    double firstColumn, lastColumn, nearest;

    void Load(const RowJob& job, int x, V lanes) {
        const double inf = std::numeric_limits<double>::infinity();
        xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
        low = L::Load(job.low + x);
        high = L::Load(job.high + x);
        depth = L::Load(job.centreDepth + x);
        const V dy = L::Splat(static_cast<double>(job.dy));
        rowIn = L::Both(L::LessEqual(low, dy), L::LessEqual(dy, high));
        const M inRow = L::Less(xv, L::Splat(static_cast<double>(job.width)));
        const unsigned valid = L::Bits(inRow);
        const unsigned usable = L::Bits(L::Both(rowIn, L::LessEqual(depth, depth)));
        if ((usable & valid) != valid) {
            firstColumn = inf;
            lastColumn = -inf;
            nearest = -inf;
            return;
        }
        firstColumn = L::MaxOf(L::Blend(inRow, L::Add(xv, low), L::Splat(-inf)));
        lastColumn = L::MinOf(L::Blend(inRow, L::Add(xv, high), L::Splat(inf)));
        nearest = L::MinOf(L::Blend(inRow, depth, L::Splat(inf)));
    }

    // Whether sources in columns first .. last with depth d need no test per lane.
    bool TakesWhole(double first, double last, double d) const {
        return first >= firstColumn && last <= lastColumn && d <= nearest;
    }
};
