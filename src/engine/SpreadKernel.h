#pragma once
// The first pass for one target row against one source row, in lanes L.
#include "engine/SweepBlocks.h"
#include "engine/TargetBlock.h"

// With kRunningSums the tables hold running sums of J (job.tableErrors is
// set): a run of sources then adds to each target the difference of two of
// them, which is not the sum in window order but lies within a bound of it;
// the targets' errors collect those bounds, and each target's error grows
// above 0 whenever it takes a J that is not a whole number.
template <class L, bool kRunningSums>
void SpreadSourceRow(SpreadRowJob& job) {
    typedef typename L::V V;
    typedef typename L::M M;
    const int w = job.width;
    const int dy = job.dy;
    const int ady = dy < 0 ? -dy : dy;
    const int half = job.half;
    // A positive blur not above the doubled row distance has J <= 0 there.
    const double minimum = 2.0 * ady;
    // Local copies: the stores below may alias anything, so fields of job
    // would be read again after each of them.
    const ColumnRun* const runs = job.runs;
    const double* const blurRow = job.blurRow;
    const double* const depthRow = job.depthRow;
    const std::uint16_t* const tableIds = job.tableIds;
    const double* const tableValues = job.tableValues;
    const int* const tableWidths = job.tableWidths;
    const std::size_t tableRowLength = job.tableRowLength;
    const std::size_t tableRowCentre = job.tableRowCentre;
    const double* const distance = job.distance;
    const double* const low = job.low;
    const double* const high = job.high;
    const double* const centreDepth = job.centreDepth;
    double* const sums = job.sums;
    double* const counts = job.counts;
    const double* const tableErrors = job.tableErrors;
    double* const errors = job.errors;
    SpreadSource* const found = job.sources;
    const int candidates = runs ? job.runCount : w;

    // The sources that reach this row, with their targets.
    int count = 0;
    // Neighbouring sources mostly share a J table, and so its row and span.
    std::uint16_t lastId = kNoSpreadTable;
    int lastSpan = -1;
    const double* lastJ = nullptr;
    double lastError = 0.0;
    for (int k = 0; k < candidates; ++k) {
        const int u = runs ? runs[k].start : k;
        // Only sources with a J table come in runs of more than one.
        const int n = runs ? runs[k].count : 1;
        const double b = blurRow[u];
        const std::uint16_t id = tableIds[u];
        int r;
        const double* j = nullptr;
        if (b > minimum && id != kNoSpreadTable) {
            // Tabulated: exactly the offsets |dx| <= r have J >= 1, and J is 0
            // past them, so lanes beyond the span add nothing.
            if (id != lastId) {
                const std::size_t tableRow = static_cast<std::size_t>(id) * static_cast<std::size_t>(half + 1) +
                                             static_cast<std::size_t>(ady);
                lastId = id;
                lastSpan = tableWidths[tableRow];
                lastJ = tableValues + tableRow * tableRowLength + tableRowCentre;
                if (kRunningSums) lastError = tableErrors[tableRow];
            }
            r = lastSpan;
            if (r < 0) continue;
            j = lastJ;
        } else if (b > minimum) {
            // J >= 1 needs w < B: a disc of diameter B, with a pixel to spare.
            const double halfB = b * 0.5;
            const double room = halfB * halfB - static_cast<double>(dy) * dy;
            r = (room > 0.0 ? static_cast<int>(__builtin_sqrt(room)) : 0) + 1;
            if (r > half) r = half;
        } else if (b <= 0.0 && job.anyNonPositiveBlur) {
            // A blur below zero (only with a negative blur size) can give
            // J >= 1 anywhere in the window.
            r = half;
        } else {
            continue;
        }
        const double dn = depthRow[u];
        const int x1 = u + n - 1 + r < w - 1 ? u + n - 1 + r : w - 1;
        if (j != nullptr && count > 0) {
            // The next sources of a run: their blur has the same J row, and
            // their depth is the same.
            SpreadSource& run = found[count - 1];
            if (run.j == j && run.u + run.count == u && run.depth == dn) {
                run.count += n;
                run.x1 = x1;
                run.lastBlock = static_cast<int>(static_cast<unsigned>(x1) / L::kCount);
                continue;
            }
        }
        SpreadSource& s = found[count++];
        s.j = j;
        s.depth = dn;
        s.blur = b;
        s.u = u;
        s.x0 = u - r > 0 ? u - r : 0;
        s.x1 = x1;
        s.firstBlock = static_cast<int>(static_cast<unsigned>(s.x0) / L::kCount);
        s.lastBlock = static_cast<int>(static_cast<unsigned>(s.x1) / L::kCount);
        s.count = n;
        s.span = r;
        s.error = j != nullptr ? lastError : 0.0;
    }
    if (count == 0) return;

    const V lanes = L::Indices();
    const V zeros = L::Splat(0.0);
    const V ones = L::Splat(1.0);
    // One source on the targets x .. x + L::kCount - 1 of its span, one at a
    // time, in memory: for J computed per target.
    auto addComputed = [&](const SpreadSource& s, int x) {
        const int t0 = s.x0 > x ? s.x0 : x;
        const int t1 = s.x1 < x + L::kCount - 1 ? s.x1 : x + L::kCount - 1;
        for (int t = t0; t <= t1; ++t) {
            const int dx = s.u - t;
            if (!(low[t] <= dy && dy <= high[t]) || dx < low[t] || dx > high[t]) continue;
            if (!(s.depth <= centreDepth[t])) continue;
            const double jx = AttenuatedBlur(s.blur, distance[dx]);
            if (jx >= 1.0) {
                sums[t] = sums[t] + jx;
                counts[t] = counts[t] + 1.0;
                // Any bound above 0 marks the sum as possibly rounded.
                if (kRunningSums && !IsExactStep(jx)) errors[t] = errors[t] + 0x1p-53 * jx;
            }
        }
    };
    // With running sums, a run on the targets of a block whose windows do
    // not all hold it, one target at a time, in memory: each target takes the
    // sources of the run inside its window and the span, a range of them.
    auto addRangesPerTarget = [&](const SpreadSource& s, int x) {
        for (int t = x; t < x + L::kCount; ++t) {
            if (!(low[t] <= dy && dy <= high[t]) || !(s.depth <= centreDepth[t])) continue;
            const int windowFirst = t + static_cast<int>(low[t]) - s.u;
            const int windowLast = t + static_cast<int>(high[t]) - s.u;
            int a = t - s.u - s.span > 0 ? t - s.u - s.span : 0;
            int b = t - s.u + s.span < s.count - 1 ? t - s.u + s.span : s.count - 1;
            a = a > windowFirst ? a : windowFirst;
            b = b < windowLast ? b : windowLast;
            if (a > b) continue;
            sums[t] = sums[t] + (s.j[t - s.u - a] - s.j[t - s.u - b - 1]);
            counts[t] = counts[t] + static_cast<double>(b - a + 1);
            errors[t] = errors[t] + s.error;
        }
    };
    // How many of a run's sources first .. last each target of the block
    // takes, where the windows hold the run: target t takes the sources
    // t - span .. t + span, a count that adds exactly in any order.
    auto sourcesWithinSpan = [&](const SpreadSource& s, int first, int last, const TargetBlock<L>& block) {
        const V span = L::Splat(static_cast<double>(s.span));
        const V from = L::Max(L::Splat(static_cast<double>(s.u + first)), L::Sub(block.xv, span));
        const V to = L::Min(L::Splat(static_cast<double>(s.u + last)), L::Add(block.xv, span));
        return L::Max(L::Add(L::Sub(to, from), ones), zeros);
    };
    // One run of tabulated sources on a block: only the sources that reach
    // the block are taken, one after another.
    auto addTabulated = [&](const SpreadSource& s, int x, const TargetBlock<L>& block, V& sum, V& n, V& error) {
        const int first = x - s.span - s.u > 0 ? x - s.span - s.u : 0;
        const int reached = x + L::kCount - 1 + s.span - s.u;
        const int last = reached < s.count - 1 ? reached : s.count - 1;
        // J is symmetric in dx: J(u - x) = J(x - u).
        const double* const j = s.j + (x - s.u);
        if (kRunningSums) {
            // Only called where the windows hold the run. The J of target
            // t's sources are the running sums' elements from t - u - last
            // to t - u - first.
            const V reached = sourcesWithinSpan(s, first, last, block);
            const V taken = L::Sub(L::Load(j - first), L::Load(j - last - 1));
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
            return;
        }
        if (block.WindowsHold(s.span)) {
            // Every target not in front of the sources takes every source
            // whose J there is above 0, that is within the span.
            const V reached = sourcesWithinSpan(s, first, last, block);
            // J past the span is 0, and masked lanes add +0.0: either leaves a
            // sum of positive terms unchanged.
            if (block.BehindNone(s.depth)) {
                n = L::Add(n, reached);
                for (int i = first; i <= last; ++i) sum = L::Add(sum, L::Load(j - i));
            } else {
                const M notBehind = L::LessEqual(L::Splat(s.depth), block.depth);
                n = L::Add(n, L::Select(notBehind, reached));
                for (int i = first; i <= last; ++i) sum = L::Add(sum, L::Select(notBehind, L::Load(j - i)));
            }
            return;
        }
        const M notBehind = L::LessEqual(L::Splat(s.depth), block.depth);
        V dxv = L::Sub(L::Splat(static_cast<double>(s.u + first)), block.xv);
        for (int i = first; i <= last; ++i, dxv = L::Add(dxv, ones)) {
            const V jv = L::Load(j - i);
            const M inWindow = L::Both(block.rowIn, L::Both(L::LessEqual(block.low, dxv), L::LessEqual(dxv, block.high)));
            const M take = L::Both(inWindow, L::Both(notBehind, L::Less(zeros, jv)));
            // Masked lanes add +0.0, which leaves a sum of positive terms unchanged.
            sum = L::Add(sum, L::Select(take, jv));
            n = L::Add(n, L::Select(take, ones));
        }
    };
    // The sources a block takes in registers; the others it takes in memory.
    auto inRegisters = [&](const SpreadSource& s, const TargetBlock<L>& block) {
        return s.j != nullptr && (!kRunningSums || block.WindowsHold(s.span));
    };
    auto inMemory = [&](const SpreadSource& s, int x) {
        if (s.j == nullptr)
            addComputed(s, x);
        else
            addRangesPerTarget(s, x);
    };
    TargetBlock<L> block;
    V sum, n, error = zeros;
    auto load = [&](int x, V& blockSum, V& blockN, V& blockError) {
        blockSum = L::Load(sums + x);
        blockN = L::Load(counts + x);
        if (kRunningSums) blockError = L::Load(errors + x);
    };
    // By reference: wide lane types passed by value may land on stack slots
    // short of their alignment in some builds.
    auto store = [&](int x, const V& blockSum, const V& blockN, const V& blockError) {
        L::Store(sums + x, blockSum);
        L::Store(counts + x, blockN);
        if (kRunningSums) L::Store(errors + x, blockError);
    };
    SweepBlocks<L>(
        found, count, job.scratch,
        [&](int x) {
            block.Load(job, x, lanes);
            load(x, sum, n, error);
        },
        [&](const SpreadSource& s, int x) {
            if (inRegisters(s, block)) {
                addTabulated(s, x, block, sum, n, error);
                return;
            }
            store(x, sum, n, error);
            inMemory(s, x);
            load(x, sum, n, error);
        },
        [&](int x) { store(x, sum, n, error); },
        [&](const SpreadSource& s, int x) {
            TargetBlock<L> late;
            late.Load(job, x, lanes);
            if (!inRegisters(s, late)) {
                inMemory(s, x);
                return;
            }
            V lateSum, lateN, lateError = zeros;
            load(x, lateSum, lateN, lateError);
            addTabulated(s, x, late, lateSum, lateN, lateError);
            store(x, lateSum, lateN, lateError);
        });
}
