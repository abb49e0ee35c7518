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
    // The largest of the targets' depths that are numbers (-inf: none): a
    // source deeper than it is behind every target.
    double farthest;

    void Open(const SpreadRowJob& job, int x, V lanes) {
        xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
        depth = L::Load(job.centreDepth + x);
        lowMax = 1.0, highMin = -1.0, cover = -1.0, nearest = 0.0, farthest = 0.0;
        // The bounds were found for blocks of this width (see BlockBounds).
        if (job.blockLanes != L::kCount) return;
        const BlockBounds& b = job.bounds[x / L::kCount];
        lowMax = b.lowMax, highMin = b.highMin, nearest = b.nearest, farthest = b.farthest;
        cover = -b.lowMax < b.highMin ? -b.lowMax : b.highMin;
    }
    // Whether a tabulated source is taken in registers, without a test per lane but for depth.
    bool Holds(const SpreadSource& s) const {
        return s.j != nullptr && lowMax <= s.dy && s.dyLast <= highMin && s.span <= cover;
    }
    bool BehindNone(double d) const { return d <= nearest; }
    // Whether the windows of the targets a source of this row offset and
    // span reaches all hold it.
    bool WindowsHold(const SpreadSource& s) const { return lowMax <= s.dy && s.dy <= highMin && s.span <= cover; }
};

// The sources first .. last of a run whose blurs differ split by a block's
// depths: with rising depths, first .. mixed - 1 are behind no target and
// all .. last behind every one; with falling depths, first .. mixed - 1 are
// behind every target and all .. last behind none; mixed .. all - 1 are
// behind some.
template <class L>
void SplitVaryingRun(const SpreadSource& s, const SumsBlock<L>& block, int first, int last, int& mixed, int& all) {
    const VaryingEntry* const e = s.varying;
    // The first source from which on the depths pass the test (rising: fail it).
    auto beyond = [&](int k, double limit) { return s.depthOrder >= 0 ? e[k].depth > limit : e[k].depth <= limit; };
    auto firstBeyond = [&](double limit) {
        // Mostly all of them or none: the ends first.
        if (beyond(first, limit)) return first;
        if (!beyond(last, limit)) return last + 1;
        int lo = first + 1, hi = last;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (beyond(mid, limit))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    if (s.depthOrder >= 0) {
        mixed = firstBeyond(block.nearest);
        all = firstBeyond(block.farthest);
    } else {
        mixed = firstBeyond(block.farthest);
        all = firstBeyond(block.nearest);
    }
}

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

// A source without a J table on a block, each target testing its window,
// depth and J >= 1 in its lane; J as AttenuatedBlur works it out, and a
// bound above 0 wherever it is not a multiple of kExactStep. Source u of
// row offset dy (doubled distances in distance), targets x0 .. x1.
template <class L>
__attribute__((always_inline)) inline void AddComputedLanes(const SpreadRowJob& job, const SumsBlock<L>& block, int u,
                                                            int x0, int x1, double blur, double depth, int sourceDy,
                                                            const double* distance, int x, typename L::V& sum,
                                                            typename L::V& n, typename L::V& error) {
    typedef typename L::V V;
    typedef typename L::M M;
    const V ones = L::Splat(1.0);
    const V low = L::Load(job.low + x), high = L::Load(job.high + x);
    const V dy = L::Splat(static_cast<double>(sourceDy));
    const V dx = L::Sub(L::Splat(static_cast<double>(u)), block.xv);
    const M inSpan = L::Both(L::LessEqual(L::Splat(static_cast<double>(x0)), block.xv),
                             L::LessEqual(block.xv, L::Splat(static_cast<double>(x1))));
    const M inWindow = L::Both(L::Both(L::LessEqual(low, dy), L::LessEqual(dy, high)),
                               L::Both(L::LessEqual(low, dx), L::LessEqual(dx, high)));
    const M notBehind = L::LessEqual(L::Splat(depth), block.depth);
    // The doubled distances are alike for dx and -dx: element t - u is u - t's.
    const V w = L::Load(distance + (x - u));
    const V b = L::Splat(blur);
    const V m = L::Sub(ones, L::Div(L::Sub(b, w), b));
    const V j = L::Mul(b, L::Sub(ones, L::Mul(m, m)));
    const M take = L::Both(L::Both(inSpan, inWindow), L::Both(notBehind, L::LessEqual(ones, j)));
    sum = L::Add(sum, L::Select(take, j));
    n = L::Add(n, L::Select(take, ones));
    // j / kExactStep, exactly: a power of two.
    const M rounded = L::Both(take, L::NotWhole(L::Mul(j, L::Splat(1.0 / kExactStep))));
    error = L::Add(error, L::Select(rounded, L::Mul(L::Splat(0x1p-53), j)));
}

// Adds to sum, n and error the J of a run whose blurs differ at the
// block's targets t = u + d .. u + d + lanes - 1 (u: the run's first
// column; its sources first .. last reach the block, split by depth as
// SplitVaryingRun gives, all within the targets' windows): each target takes
// the sources k with |t - u - k| <= span that are not behind it, their sum
// of J, how many, and the bound on how far that sum may lie from theirs as
// AttenuatedBlur works them out.
//
// Each such J is B - w^2 / B, w^2 = 4 (dx^2 + dy^2), within 12 B 2^-53 (the
// rounding of its five operations and of the doubled distance), and so
// their sum is that of B, less 4 (dy^2 + i^2) times that of 1 / B, plus 8 i
// times that of k / B, less 4 times that of k^2 / B (i = t - u): differences
// of running sums. Each running sum of n positive terms is off by at most n
// 2^-53 times the run's whole sum of them, at both ends; the differences,
// their products and the terms' own rounding add a few 2^-53 more of the
// same: (2 n + 40) 2^-53 times the sum of those parts at their largest
// bounds it all.
template <class L>
__attribute__((always_inline)) inline void VaryingRunSums(const SpreadSource& s, int d, const SumsBlock<L>& block,
                                                          int first, int last, int mixed, int all,
                                                          typename L::V& sum, typename L::V& n,
                                                          typename L::V& error) {
    typedef typename L::V V;
    typedef typename L::M M;
    // The entries' fields, read lane by lane (entry k's at kStride k).
    constexpr double kStride = sizeof(VaryingEntry) / sizeof(double);
    const double* const fields = &s.varying[0].sumB;
    const double* const depthField = &s.varying[0].depth;
    const VaryingEntry& whole = s.varying[s.count];
    const bool rising = s.depthOrder >= 0;
    const V depth = block.depth;
    const V stride = L::Splat(kStride);
    // Each target's sources not behind it: rising, first .. the first behind
    // it less 1; falling, the first not behind it .. last. Those before mixed
    // (rising; from all, falling) are behind none, those from all (before
    // mixed) behind every one; in between each target counts those before
    // its first, or finds it by halving steps where they are many.
    V cut = L::Splat(static_cast<double>(rising ? mixed : all));
    constexpr int kCounted = 32;
    if (mixed < all && all - mixed <= kCounted) {
        // Few: counted, one source at a time for all targets at once.
        const V one = L::Splat(1.0);
        cut = L::Splat(static_cast<double>(mixed));
        for (int k = mixed; k < all; ++k) {
            const V dk = L::Splat(s.varying[k].depth);
            cut = L::Add(cut, L::Select(rising ? L::LessEqual(dk, depth) : L::Less(depth, dk), one));
        }
    } else if (mixed < all) {
        const int count = all - mixed;
        int step = 1;
        while (2 * step <= count) step *= 2;
        V before = L::Splat(static_cast<double>(mixed - 1));
        const V end = L::Splat(static_cast<double>(all));
        const V lastIn = L::Splat(static_cast<double>(all - 1));
        for (; step > 0; step /= 2) {
            const V next = L::Add(before, L::Splat(static_cast<double>(step)));
            const V dk = L::Gather(depthField, L::Mul(L::Min(next, lastIn), stride));
            // Rising: not behind the target; falling: behind it.
            const M notPast = rising ? L::LessEqual(dk, depth) : L::Less(depth, dk);
            before = L::Add(before, L::Select(L::Both(L::Less(next, end), notPast), L::Splat(static_cast<double>(step))));
        }
        cut = L::Add(before, L::Splat(1.0));
    }
    const V i = L::Add(L::Splat(static_cast<double>(d)), L::Indices());
    const V span = L::Splat(static_cast<double>(s.span));
    const V a = L::Max(rising ? L::Splat(static_cast<double>(first)) : cut, L::Sub(i, span));
    const V b = L::Min(rising ? L::Sub(cut, L::Splat(1.0)) : L::Splat(static_cast<double>(last)), L::Add(i, span));
    // A target whose depth is not a number takes nothing.
    const M take = L::Both(L::LessEqual(depth, depth), L::LessEqual(a, b));
    const V zero = L::Splat(0.0);
    const V top = L::Splat(static_cast<double>(s.count));
    const V lowAt = L::Mul(L::Min(L::Max(a, zero), top), stride);
    const V highAt = L::Mul(L::Min(L::Max(L::Add(b, L::Splat(1.0)), zero), top), stride);
    auto difference = [&](int field) __attribute__((always_inline)) {
        return L::Sub(L::Gather(fields + field, highAt), L::Gather(fields + field, lowAt));
    };
    const V sumB = difference(0), sumInverse = difference(1), sumK = difference(2), sumK2 = difference(3);
    const V i2 = L::Add(L::Splat(static_cast<double>(s.dy) * static_cast<double>(s.dy)), L::Mul(i, i));
    const V falloff = L::Add(L::Sub(L::Mul(i2, sumInverse), L::Mul(L::Mul(L::Splat(2.0), i), sumK)), sumK2);
    const V taken = L::Sub(sumB, L::Mul(L::Splat(4.0), falloff));
    const V magnitude =
        L::Add(L::Add(L::Add(L::Splat(whole.sumB), L::Mul(L::Mul(L::Splat(4.0), i2), L::Splat(whole.sumInverse))),
                      L::Mul(L::Mul(L::Splat(8.0), L::Max(i, L::Sub(zero, i))), L::Splat(whole.sumK))),
               L::Splat(4.0 * whole.sumK2));
    sum = L::Add(sum, L::Select(take, taken));
    n = L::Add(n, L::Select(take, L::Add(L::Sub(b, a), L::Splat(1.0))));
    error = L::Add(error, L::Select(take, L::Mul(L::Splat((2.0 * s.count + 40.0) * 0x1p-53), magnitude)));
}

// A run whose blurs differ on block x, its sums in memory: where the
// targets' windows hold it, each target's sources not behind it at once from
// their running sums (see VaryingRunSums); elsewhere one by one. (Out of
// line: the sweep keeps its block in registers.)
template <class L>
__attribute__((noinline)) void AddVaryingRun(const SpreadRowJob& job, const SumsBlock<L>& block,
                                             const SpreadSource& s, int x) {
    typedef typename L::V V;
    V sum = L::Load(job.sums + x), n = L::Load(job.counts + x), error = L::Load(job.errors + x);
    int first, last;
    RunSourcesOnBlock(s, x, L::kCount, first, last);
    if (block.WindowsHold(s)) {
        int mixed, all;
        SplitVaryingRun<L>(s, block, first, last, mixed, all);
        VaryingRunSums<L>(s, x - s.u, block, first, last, mixed, all, sum, n, error);
    } else {
        const int lastColumn = job.width - 1;
        for (int k = first; k <= last; ++k) {
            const int u = s.u + k;
            AddComputedLanes<L>(job, block, u, u - s.span > 0 ? u - s.span : 0,
                                u + s.span < lastColumn ? u + s.span : lastColumn, s.varying[k].blur,
                                s.varying[k].depth, s.dy, s.distance, x, sum, n, error);
        }
    }
    L::Store(job.sums + x, sum);
    L::Store(job.counts + x, n);
    L::Store(job.errors + x, error);
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

    // A source without a J table on the block.
    auto addComputed = [&](const SpreadSource& s, int x) __attribute__((always_inline)) {
        AddComputedLanes<L>(job, block, s.u, s.x0, s.x1, s.blur, s.depth, s.dy, s.distance, x, sum, n, error);
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
            } else if (s.j == nullptr && s.count == 1) {
                // (Without a table, a record of more than one is a run whose
                // blurs differ: its count is read with the rest of the
                // record's first line.)
                addComputed(s, x);
            } else {
                store(x);
                if (s.j == nullptr)
                    AddVaryingRun<L>(job, block, s, x);
                else if (s.c != nullptr)
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
        if (job.varyingRuns != nullptr) job.varyingRuns->used = 0;
    };
    for (int k = 0; k < rowCount; ++k) {
        // A row adds at most one and a half entries a source to the runs whose blurs differ.
        const bool varyingFull = job.varyingRuns != nullptr && job.varyingRuns->used + 2 * job.width > job.varyingRuns->room;
        if (listed + job.width > job.sourceRoom ||
            (listed > 0 && ((job.madeRows != nullptr && job.madeRows->HalfFull()) || varyingFull)))
            sweep();
        listed += ListSpreadSources<L>(rows[k], job.sources + listed);
    }
    if (listed > 0) sweep();
}
