#pragma once
// A block of targets x .. x + L::kCount - 1 of a target row, as both passes
// see it against one source row: the targets' windows and depths, and the
// bounds within which a source passes the window and depth tests in every
// lane that it reaches. Most sources lie within them; those need no test per
// lane, since lanes beyond their span read a J or kernel value of 0.
#include "engine/RowJobs.h"

template <class L>
struct TargetBlock {
    typedef typename L::V V;
    typedef typename L::M M;

    V xv;            // the targets' columns
    V low, high;     // their windows' offset range
    V depth;         // their depths
    M rowIn;         // the lanes whose window holds the source row
    // A source with span r (reaching targets x with |x - u| <= r) and depth
    // d lies in the windows of all the targets it reaches and is behind none
    // of them when r <= cover and d <= nearest; cover is -1 when a window
    // misses the source row.
    double cover, nearest;

    // A target row's arrays against one source row, read once for all its
    // blocks: found through the job at each block, they were a chain of
    // loads that every block started by waiting on.
    struct Row {
        const double* low;
        const double* high;
        const double* depth;
        const BlockBounds* bounds;  // null where they were found for other blocks
        double dy;
        Row() = default;
        explicit Row(const RowJob& job)
            : low(job.low), high(job.high), depth(job.centreDepth),
              bounds(job.blockLanes == L::kCount ? job.bounds : nullptr), dy(static_cast<double>(job.dy)) {}
    };

    __attribute__((always_inline)) void Load(const Row& row, int x, V lanes) {
        xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
        low = L::Load(row.low + x);
        high = L::Load(row.high + x);
        depth = L::Load(row.depth + x);
        const V dyv = L::Splat(row.dy);
        rowIn = L::Both(L::LessEqual(low, dyv), L::LessEqual(dyv, high));
        cover = -1.0;
        nearest = 0.0;
        if (row.bounds == nullptr) return;
        const BlockBounds& b = row.bounds[x / L::kCount];
        if (b.lowMax <= row.dy && row.dy <= b.highMin) {
            cover = -b.lowMax < b.highMin ? -b.lowMax : b.highMin;
            nearest = b.nearest;
        }
    }
    __attribute__((always_inline)) void Load(const RowJob& job, int x, V lanes) { Load(Row(job), x, lanes); }

    // Whether a source of span r and depth d needs no test per lane.
    bool TakesWhole(double r, double d) const { return r <= cover && d <= nearest; }
    // Whether a source of span r lies in the window of every target it
    // reaches; whether one of depth d is behind none of the targets.
    bool WindowsHold(double r) const { return r <= cover; }
    bool BehindNone(double d) const { return d <= nearest; }
};
