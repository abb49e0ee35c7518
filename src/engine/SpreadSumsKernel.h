#pragma once
// The first pass of one target row with running sums in the J tables, in
// lanes L. A target's sum is then known only within a bound, whatever the
// order of its additions (see SpreadWithinBound), so the sources of many
// source rows are listed first and swept together: each block of targets is
// opened once for all of them, where in window order it is opened once per
// source row.
#include "engine/SpreadKernel.h"

// A block of targets x .. x + L::kCount - 1 against sources of any row.
template <class L>
struct SumsBlock {
    typedef typename L::V V;
    V xv;     // the targets' columns
    V depth;  // their depths
    // The windows' offsets hold [lowMax, highMin] in every lane; a source of
    // span r within them lies in the window of every target it reaches when
    // r <= cover, and is behind none of them when its depth is <= nearest.
    double lowMax, highMin, cover, nearest;

    void Open(const SpreadRowJob& job, int x, V lanes) {
        xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
        depth = L::Load(job.centreDepth + x);
        lowMax = 1.0, highMin = -1.0, cover = -1.0, nearest = 0.0;
        // The bounds were found for blocks of this width (see BlockBounds).
        if (job.blockLanes != L::kCount) return;
        const BlockBounds& b = job.bounds[x / L::kCount];
        lowMax = b.lowMax, highMin = b.highMin, nearest = b.nearest;
        cover = -b.lowMax < b.highMin ? -b.lowMax : b.highMin;
    }
    // Whether a tabulated source is taken in registers, without a test per lane but for depth.
    bool Holds(const SpreadSource& s) const {
        return s.j != nullptr && lowMax <= s.dy && s.dyLast <= highMin && s.span <= cover;
    }
    bool BehindNone(double d) const { return d <= nearest; }
};

// A run on the targets of a block whose windows do not all hold it, one
// target at a time, in memory: each target takes the sources of the run
// inside its window and the span, a range of them.
template <class L>
void AddRangesPerTarget(const SpreadRowJob& job, const SpreadSource& s, int x) {
    const int dy = s.dy;
    const TargetArrays arrays = ArraysOf(job);
    for (int t = x; t < x + L::kCount; ++t) {
        if (!(arrays.low[t] <= dy && dy <= arrays.high[t]) || !(s.depth <= arrays.centreDepth[t])) continue;
        const int windowFirst = t + static_cast<int>(arrays.low[t]) - s.u;
        const int windowLast = t + static_cast<int>(arrays.high[t]) - s.u;
        int a = t - s.u - s.span > 0 ? t - s.u - s.span : 0;
        int b = t - s.u + s.span < s.count - 1 ? t - s.u + s.span : s.count - 1;
        a = a > windowFirst ? a : windowFirst;
        b = b < windowLast ? b : windowLast;
        if (a > b) continue;
        arrays.sums[t] = arrays.sums[t] + (s.j[t - s.u - a] - s.j[t - s.u - b - 1]);
        arrays.counts[t] = arrays.counts[t] + static_cast<double>(b - a + 1);
        arrays.errors[t] = arrays.errors[t] + s.error;
    }
}

// A rectangle of sources on the targets of a block whose windows do not all
// hold it: row by row, each from its own running sums.
template <class L>
void AddRectangleRows(const SpreadRowJob& job, const SpreadSource& s, int x) {
    SpreadSource row = s;
    row.c = nullptr;
    for (int dy = s.dy; dy <= s.dyLast; ++dy) {
        const std::size_t tableRow = TableRowOf(s.id, dy < 0 ? -dy : dy, job.half);
        row.span = job.tableWidths[tableRow];
        if (row.span < 0) continue;
        row.j = job.tableValues + TableRowStart(tableRow, job.tableRowLength, job.tableRowCentre);
        row.error = job.tableErrors[tableRow];
        row.dy = row.dyLast = dy;
        AddRangesPerTarget<L>(job, row, x);
    }
}

// Adds the sources found[0 .. count - 1], of any source rows, to the target
// row of job: the blocks left to right, each taking every source whose
// targets touch it, in any order.
template <class L>
void SweepRunningSums(const SpreadRowJob& job, const SpreadSource* found, int count) {
    typedef typename L::V V;
    typedef typename L::M M;
    double* const sums = job.sums;
    double* const counts = job.counts;
    double* const errors = job.errors;
    const int blocks = (job.width + L::kCount - 1) / L::kCount;
    // The sources by their first block: those of block b end at ends[b].
    int* const ends = job.blockEnds;
    for (int b = 0; b <= blocks; ++b) ends[b] = 0;
    for (int i = 0; i < count; ++i) ++ends[found[i].firstBlock + 1];
    for (int b = 0; b < blocks; ++b) ends[b + 1] += ends[b];
    const SpreadSource** const byBlock = job.byBlock;
    for (int i = 0; i < count; ++i) byBlock[ends[found[i].firstBlock]++] = &found[i];

    const V lanes = L::Indices();
    const V zeros = L::Splat(0.0);
    const V ones = L::Splat(1.0);
    SumsBlock<L> block;
    V sum, n, error;
    // Inlined by force, as the gather's sweep (see SweepGatherSources).
    auto load = [&](int x) __attribute__((always_inline)) {
        sum = L::Load(sums + x);
        n = L::Load(counts + x);
        error = L::Load(errors + x);
    };
    auto store = [&](int x) __attribute__((always_inline)) {
        L::Store(sums + x, sum);
        L::Store(counts + x, n);
        L::Store(errors + x, error);
    };
    // A run of tabulated sources on the block: the J of target t's sources
    // are the running sums' elements from t - u - last to t - u - first.
    auto addRun = [&](const SpreadSource& s, int x) __attribute__((always_inline)) {
        int first, last;
        RunSourcesOnBlock(s, x, L::kCount, first, last);
        const double* const j = s.j + (x - s.u);
        V reached, taken;
        if (s.c == nullptr) {
            reached = SourcesWithinSpan<L>(s, first, last, block.xv);
            taken = L::Sub(L::Load(j - first), L::Load(j - last - 1));
        } else {
            // A rectangle: the farthest row's columns less those before the nearest.
            const double* const jNear = s.jNear + (x - s.u);
            const double* const c = s.c + (x - s.u);
            const double* const cNear = s.cNear + (x - s.u);
            taken = L::Sub(L::Sub(L::Load(j - first), L::Load(jNear - first)),
                           L::Sub(L::Load(j - last - 1), L::Load(jNear - last - 1)));
            reached = L::Sub(L::Sub(L::Load(c - first), L::Load(cNear - first)),
                             L::Sub(L::Load(c - last - 1), L::Load(cNear - last - 1)));
            // Where no J counts the rectangle adds 0, but the difference may
            // round to a little either side of it (the rows before its nearest
            // differ between the two columns): it adds nothing there.
            taken = L::Select(L::Less(zeros, reached), taken);
        }
        M bounded = L::Less(zeros, reached);
        if (block.BehindNone(s.depth)) {
            sum = L::Add(sum, taken);
            n = L::Add(n, reached);
        } else {
            const M notBehind = L::LessEqual(L::Splat(s.depth), block.depth);
            sum = L::Add(sum, L::Select(notBehind, taken));
            n = L::Add(n, L::Select(notBehind, reached));
            bounded = L::Both(bounded, notBehind);
        }
        error = L::Add(error, L::Select(bounded, L::Splat(s.error)));
    };

    // A source without a J table on the block, each target testing its window,
    // depth and J >= 1 in its lane; J as AttenuatedBlur works it out, and a
    // bound above 0 wherever it is not a multiple of kExactStep.
    const double* const lows = job.low;
    const double* const highs = job.high;
    auto addComputed = [&](const SpreadSource& s, int x) __attribute__((always_inline)) {
        const V low = L::Load(lows + x), high = L::Load(highs + x);
        const V dy = L::Splat(static_cast<double>(s.dy));
        const V dx = L::Sub(L::Splat(static_cast<double>(s.u)), block.xv);
        const M inSpan = L::Both(L::LessEqual(L::Splat(static_cast<double>(s.x0)), block.xv),
                                 L::LessEqual(block.xv, L::Splat(static_cast<double>(s.x1))));
        const M inWindow = L::Both(L::Both(L::LessEqual(low, dy), L::LessEqual(dy, high)),
                                   L::Both(L::LessEqual(low, dx), L::LessEqual(dx, high)));
        const M notBehind = L::LessEqual(L::Splat(s.depth), block.depth);
        // The doubled distances are alike for dx and -dx: element t - u is u - t's.
        const V w = L::Load(s.distance + (x - s.u));
        const V b = L::Splat(s.blur);
        const V m = L::Sub(ones, L::Div(L::Sub(b, w), b));
        const V j = L::Mul(b, L::Sub(ones, L::Mul(m, m)));
        const M take = L::Both(L::Both(inSpan, inWindow), L::Both(notBehind, L::LessEqual(ones, j)));
        sum = L::Add(sum, L::Select(take, j));
        n = L::Add(n, L::Select(take, ones));
        // j / kExactStep, exactly: a power of two.
        const M rounded = L::Both(take, L::NotWhole(L::Mul(j, L::Splat(1.0 / kExactStep))));
        error = L::Add(error, L::Select(rounded, L::Mul(L::Splat(0x1p-53), j)));
    };

    const SpreadSource** active = reinterpret_cast<const SpreadSource**>(job.scratch.active);
    const SpreadSource** survivors = reinterpret_cast<const SpreadSource**>(job.scratch.survivors);
    int activeCount = 0, next = 0;
    for (int b = 0; b < blocks; ++b) {
        while (next < ends[b]) active[activeCount++] = byBlock[next++];
        if (activeCount == 0) {
            if (next == count) break;
            b = byBlock[next]->firstBlock - 1;
            continue;
        }
        const int x = b * L::kCount;
        block.Open(job, x, lanes);
        load(x);
        int kept = 0;
        for (int k = 0; k < activeCount; ++k) {
            const SpreadSource& s = *active[k];
            // Marked as the likely way: otherwise the compiler kept the block's
            // values in memory for the calls below (the sweep 10 % slower).
            if (__builtin_expect(block.Holds(s), 1)) {
                addRun(s, x);
            } else if (s.j == nullptr) {
                addComputed(s, x);
            } else {
                store(x);
                if (s.c != nullptr)
                    AddRectangleRows<L>(job, s, x);
                else
                    AddRangesPerTarget<L>(job, s, x);
                load(x);
            }
            survivors[kept] = &s;
            kept += s.lastBlock > b ? 1 : 0;
        }
        store(x);
        const SpreadSource** swap = active;
        active = survivors;
        survivors = swap;
        activeCount = kept;
    }
}

// The first pass of one target row: rows[k] is its k-th source row (any
// order), each listing at most width sources into rows[0]'s room.
template <class L>
void SpreadSumsSourceRows(const SpreadRowJob* rows, int rowCount) {
    if (rowCount == 0) return;
    const SpreadRowJob& job = rows[0];
    int listed = 0;
    // The rows made for a sweep's runs are kept until it has taken them.
    auto sweep = [&] {
        SweepRunningSums<L>(job, job.sources, listed);
        listed = 0;
        if (job.madeRows != nullptr) job.madeRows->Clear();
    };
    for (int k = 0; k < rowCount; ++k) {
        if (listed + job.width > job.sourceRoom || (listed > 0 && job.madeRows != nullptr && job.madeRows->HalfFull()))
            sweep();
        listed += ListSpreadSources<L>(rows[k], job.sources + listed);
    }
    if (listed > 0) sweep();
}
