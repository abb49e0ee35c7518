#pragma once
// The first pass for one target row against its source rows, in lanes L:
// the sources of a source row that reach the target row, and the sums of J
// of each target in window order.
#include "engine/SpreadTables.h"
#include "engine/SweepBlocks.h"
#include "engine/TargetBlock.h"

// The row |dy| = ady of table id among the J tables' rows (half + 1 a
// table), and where its element 0 lies among their values. Static, as the
// rest of each unit's copies.
static inline std::size_t TableRowOf(std::uint16_t id, int ady, int half) {
    return static_cast<std::size_t>(id) * static_cast<std::size_t>(half + 1) + static_cast<std::size_t>(ady);
}
static inline std::size_t TableRowStart(std::size_t tableRow, std::size_t rowLength, std::size_t rowCentre) {
    return tableRow * rowLength + rowCentre;
}

// The most sources of a run whose blurs differ: the bound on its sums grows
// with their number and with the offsets within it.
constexpr int kMostVaryingRun = 64;
constexpr int kLeastVaryingRun = 16;

// At least the largest |dx| at which J of blur b > 2 ady at |dy| = ady is at
// least 1, at most half: J >= 1 needs w < B, a disc of diameter B, with a
// pixel to spare.
static inline int SpanBound(double b, int ady, int half) {
    const double halfB = b * 0.5;
    const double room = halfB * halfB - static_cast<double>(ady) * ady;
    const int r = (room > 0.0 ? static_cast<int>(__builtin_sqrt(room)) : 0) + 1;
    return r < half ? r : half;
}
constexpr int kSpanToFind = -2;

// The largest |dx| <= half at which J of blur b > 2 ady at |dy| = ady
// (doubled distances in distance, element dx) is at least 1; -1: none. J
// never grows with |dx|, and it is B - 4 (dx^2 + dy^2) / B within 12 B 2^-53
// (see VaryingRunSums), so J >= 1 where 4 dx^2 < V = B^2 - B - 4 dy^2 by more
// than 12 B^2 2^-53, and J < 1 where it exceeds V by as much; V is worked
// out within 6 B^2 2^-53. guess (or -1) is tried first: neighbours' blurs
// mostly have the same span. Only an offset nearer than that to the edge is
// worked out as J is.
static inline int SpanOfJ(double b, int ady, const double* distance, int half, int guess) {
    if (b < 0x1p26) {
        const double v = (b * b - b) - 4.0 * static_cast<double>(ady) * static_cast<double>(ady);
        const double margin = 32.0 * 0x1p-53 * (b * b);
        if (v < -margin) return -1;
        if (v > margin) {
            auto holds = [&](double edge) {
                const double next = edge + 1.0;
                return v - 4.0 * edge * edge > margin && 4.0 * next * next - v > margin;
            };
            const double guessed = static_cast<double>(guess);
            if (guess >= 0 && guess < half && holds(guessed)) return guess;
            const double edge = __builtin_floor(__builtin_sqrt(0.25 * v));
            if (holds(edge)) return edge < static_cast<double>(half) ? static_cast<int>(edge) : half;
        }
    }
    int r = SpanBound(b, ady, half);
    while (r >= 0 && !(AttenuatedBlur(b, distance[r]) >= 1.0)) --r;
    return r;
}

// Sets entry k + 1's running sums from entry k's and source k's blur.
static inline void AddVaryingSums(VaryingEntry* e, int k) {
    const double inverse = 1.0 / e[k].blur;
    const double kd = static_cast<double>(k);
    e[k + 1].sumB = e[k].sumB + e[k].blur;
    e[k + 1].sumInverse = e[k].sumInverse + inverse;
    e[k + 1].sumK = e[k].sumK + kd * inverse;
    e[k + 1].sumK2 = e[k].sumK2 + (kd * kd) * inverse;
}

// Adds source u (span, depth d, blur b > 0; no table) to the end of the
// record before, where that is a run of such sources or one alone, with
// the same span, and d keeps its depths rising or falling; false where it
// cannot (the caller lists u alone).
static inline bool JoinVaryingRun(SpreadSource& before, int u, int span, double d, double b, VaryingRuns& runs) {
    if (before.j != nullptr || before.c != nullptr || before.depthOrder == kNotJoined || before.span != span ||
        before.u + before.count != u || before.count >= kMostVaryingRun)
        return false;
    const int k = before.count;
    const double last = before.varying != nullptr ? before.varying[k - 1].depth : before.depth;
    const int order = d > last ? 1 : d < last ? -1 : 0;
    if (order != 0 && before.depthOrder != 0 && order != before.depthOrder) return false;
    if (before.varying == nullptr) {
        // One alone so far: its entries first.
        if (runs.used + 3 > runs.room) return false;
        VaryingEntry* const e = runs.entries + runs.used;
        runs.used += 2;
        e[0] = VaryingEntry{0.0, 0.0, 0.0, 0.0, before.depth, before.blur};
        AddVaryingSums(e, 0);
        before.varying = e;
    } else if (runs.used + 1 > runs.room) {
        return false;
    }
    VaryingEntry* const e = before.varying;
    e[k].depth = d;
    e[k].blur = b;
    AddVaryingSums(e, k);
    ++runs.used;
    ++before.count;
    if (order != 0) before.depthOrder = static_cast<std::int8_t>(order);
    return true;
}

// Lists into found the sources of job's source row that reach its target
// row, left to right, neighbouring tabulated ones with one J row and depth
// as one run, and a run that repeats in the rows below (job.runBelow) as
// one rectangle of them; returns how many.
template <class L>
int ListSpreadSources(const SpreadRowJob& job, SpreadSource* found) {
    const int w = job.width;
    const int dy = job.dy;
    const int ady = dy < 0 ? -dy : dy;
    const int half = job.half;
    // A positive blur not above the doubled row distance has J <= 0 there.
    const double minimum = 2.0 * ady;
    const ColumnRun* const runs = job.runs;
    const double* const blurRow = job.blurRow;
    const double* const depthRow = job.depthRow;
    const std::uint16_t* const tableIds = job.tableIds;
    const double* const tableValues = job.tableValues;
    const int* const tableWidths = job.tableWidths;
    const double* const tableErrors = job.tableErrors;
    const std::size_t tableRowLength = job.tableRowLength;
    const std::size_t tableRowCentre = job.tableRowCentre;
    const int candidates = runs ? job.runCount : w;
    const double* const distance = job.distance;
    const bool anyNonPositiveBlur = job.anyNonPositiveBlur;
    const std::uint16_t* const runBelow = runs != nullptr ? job.runBelow : nullptr;
    const int rowsAfter = job.rowsAfter;
    const int columnTables = job.columnTables;
    const double* const columnSums = job.columnSums;
    const double* const columnCounts = job.columnCounts;
    const double* const columnErrors = job.columnErrors;
    const int* const columnReach = job.columnReach;
    MadeSpreadRows* const madeRows = job.madeRows;
    VaryingRuns* const varyingRuns = job.varyingRuns;
    const std::uint8_t* const smoothChunks = job.smoothChunks;

    // The next record.
    SpreadSource* out = found;
    // The shortest run of a blur without a table that gets a row made (where
    // rows are listed as runs; elsewhere runs form from their second source):
    // a shorter one costs less taken neighbour by neighbour.
    constexpr int kLeastMadeRun = 3;
    // Neighbouring sources mostly share a J table, and so its row and span.
    std::uint16_t lastId = kNoSpreadTable;
    int lastSpan = -1;
    const double* lastJ = nullptr;
    double lastError = 0.0;
    // The candidates' depths and table ids lie in rows around the target
    // row, read sparsely: asked for some candidates ahead (the listing had
    // waited on those reads; 8 ahead was too few, 64 too many).
    constexpr int kAhead = 24;
    // The last target of sources u .. u + n - 1 reaching r either side; a new
    // record of them at depth d, which the caller completes.
    auto lastTarget = [w](int u, int n, int r) { return u + n - 1 + r < w - 1 ? u + n - 1 + r : w - 1; };
    // A run whose blurs differ, no longer joined, of fewer than
    // kLeastVaryingRun sources becomes its sources alone again: its sums
    // cost more than they spare.
    bool varyingOpen = false;  // whether the last record is a run whose blurs differ
    auto closeVaryingRun = [&]() {
        if (!varyingOpen) return;
        varyingOpen = false;
        SpreadSource& run = out[-1];
        if (run.count >= kLeastVaryingRun) return;
        const SpreadSource first = run;
        --out;
        for (int k = 0; k < first.count; ++k) {
            const int u = first.u + k;
            SpreadSource& s = *out++;
            s = first;
            s.u = u;
            s.x0 = u - first.span > 0 ? u - first.span : 0;
            s.x1 = lastTarget(u, 1, first.span);
            s.firstBlock = static_cast<int>(static_cast<unsigned>(s.x0) / L::kCount);
            s.lastBlock = static_cast<int>(static_cast<unsigned>(s.x1) / L::kCount);
            s.count = 1;
            s.depth = first.varying[k].depth;
            s.blur = first.varying[k].blur;
            s.varying = nullptr;
            s.depthOrder = kNotJoined;
        }
    };
    auto record = [&](int u, int n, int r, double d) -> SpreadSource& {
        closeVaryingRun();
        SpreadSource& s = *out++;
        s.distance = distance;
        s.depth = d;
        s.u = u;
        s.x0 = u - r > 0 ? u - r : 0;
        s.x1 = lastTarget(u, n, r);
        s.firstBlock = static_cast<int>(static_cast<unsigned>(s.x0) / L::kCount);
        s.lastBlock = static_cast<int>(static_cast<unsigned>(s.x1) / L::kCount);
        s.count = n;
        s.span = r;
        s.varying = nullptr;
        s.depthOrder = kNotJoined;
        return s;
    };
    // A record of sources of this row offset alone, with J from row j (null:
    // computed from blur b) and its bound.
    auto rowRecord = [&](int u, int n, int r, double d, const double* j, double b, double error) {
        SpreadSource& s = record(u, n, r, d);
        s.j = j;
        s.blur = b;
        s.dy = dy;
        s.error = error;
        s.dyLast = dy;
        s.c = nullptr;
    };
    // The span of J >= 1 of the last blur without a table, a guess at the next one's.
    int lastVaryingSpan = -1;
    for (int k = 0; k < candidates; ++k) {
        if (runs != nullptr && k + kAhead < candidates) {
            __builtin_prefetch(depthRow + runs[k + kAhead].start);
            __builtin_prefetch(tableIds + runs[k + kAhead].start);
        }
        const int u = runs ? runs[k].start : k;
        // Runs of more than one: sources alike in J table (or blur) and depth.
        const int n = runs ? runs[k].count : 1;
        const std::uint16_t id = tableIds[u];
        int r;
        const double* j = nullptr;
        // The blur is read only where J is computed (the listing waited on
        // those reads); a tabulated source's span says all it needs.
        const double b = id != kNoSpreadTable ? 0.0 : blurRow[u];
        if (runBelow != nullptr && id < columnTables) {
            // The same run in the rows below: one rectangle of sources.
            const int more = runBelow[k] < rowsAfter ? runBelow[k] : rowsAfter;
            if (more > 0) {
                // Rows past the blur's reach add nothing: the rectangle
                // stops there, so that more windows hold it.
                const int reach = columnReach[id];
                const int nearest = dy < 0 ? -(dy + more) : dy;
                const int farthest = dy < 0 ? (-dy < reach ? -dy : reach) : (dy + more < reach ? dy + more : reach);
                if (nearest > farthest) continue;
                const int span = tableWidths[TableRowOf(id, nearest, half)];
                if (span < 0) continue;
                const std::size_t farRow = TableRowStart(TableRowOf(id, farthest, half), tableRowLength, tableRowCentre);
                const std::size_t nearRow = TableRowStart(TableRowOf(id, nearest - 1, half), tableRowLength, tableRowCentre);
                SpreadSource& s = record(u, n, span, depthRow[u]);
                s.j = columnSums + farRow;
                s.jNear = columnSums + nearRow;
                s.c = columnCounts + farRow;
                s.cNear = columnCounts + nearRow;
                s.blur = 0.0;
                s.dy = dy < 0 ? -farthest : nearest;
                s.dyLast = dy < 0 ? -nearest : farthest;
                s.id = id;
                s.error = columnErrors[id];
                continue;
            }
        }
        if (id != kNoSpreadTable) {
            // Tabulated (a positive blur): exactly the offsets |dx| <= r have
            // J >= 1, and J is 0 past them, so lanes beyond the span add
            // nothing. A blur not above the doubled row distance has r = -1.
            if (id != lastId) {
                const std::size_t tableRow = TableRowOf(id, ady, half);
                lastId = id;
                lastSpan = tableWidths[tableRow];
                lastJ = tableValues + TableRowStart(tableRow, tableRowLength, tableRowCentre);
                lastError = tableErrors != nullptr ? tableErrors[tableRow] : 0.0;
            }
            r = lastSpan;
            if (r < 0) continue;
            j = lastJ;
        } else if (b > minimum) {
            r = kSpanToFind;  // found where needed
        } else if (b <= 0.0 && anyNonPositiveBlur) {
            // A blur below zero (only with a negative blur size) can give
            // J >= 1 anywhere in the window.
            r = half;
        } else {
            continue;
        }
        const double dn = depthRow[u];
        if (j == nullptr) {
            // A blur without a table. With running sums, neighbours alike in
            // blur and depth are one run (from its second neighbour on) with
            // J from a row of running sums made for it, where there is room;
            // each neighbour is otherwise taken alone.
            if (madeRows != nullptr && b > 0.0) {
                SpreadSource* const before = out != found ? out - 1 : nullptr;
                const bool joins = before != nullptr && before->c == nullptr && before->varying == nullptr &&
                                   before->blur == b && before->depth == dn && before->u + before->count == u;
                if (joins && before->j != nullptr) {
                    before->count += n;
                    before->x1 = lastTarget(u, n, before->span);
                    before->lastBlock = static_cast<int>(static_cast<unsigned>(before->x1) / L::kCount);
                    continue;
                }
                if (joins || n >= kLeastMadeRun) {
                    int width;
                    double error;
                    const double* row = madeRows->Find(b, ady, distance, width, error);
                    if (row != nullptr) {
                        // The neighbour before, taken alone so far, joins the run.
                        const int first = joins ? before->u : u;
                        const int count = joins ? before->count + n : n;
                        if (joins) --out;
                        // Where no J of this row offset is 1 or more, the run adds nothing.
                        if (width >= 0) rowRecord(first, count, width, dn, row, b, error);
                        continue;
                    }
                }
            }
            if (varyingRuns != nullptr && smoothChunks[u / kSmoothChunk] != 0 && b > 0.0 && __builtin_isfinite(b) &&
                dn == dn) {
                // Neighbours whose blurs differ but reach as far, with depths
                // rising or falling, are one run (see JoinVaryingRun). The
                // span is exact here: J never grows with |dx|.
                const int span = SpanOfJ(b, ady, distance, half, lastVaryingSpan);
                lastVaryingSpan = span;
                if (span < 0) continue;  // no J of this row offset counts
                for (int i = 0; i < n; ++i) {
                    SpreadSource* const before = out != found ? out - 1 : nullptr;
                    if (before == nullptr || !JoinVaryingRun(*before, u + i, span, dn, b, *varyingRuns)) {
                        rowRecord(u + i, 1, span, dn, nullptr, b, 0.0);
                        out[-1].depthOrder = 0;  // its span is exact: it may start a run
                        continue;
                    }
                    before->x1 = lastTarget(u + i, 1, span);
                    before->lastBlock = static_cast<int>(static_cast<unsigned>(before->x1) / L::kCount);
                    varyingOpen = true;
                }
                continue;
            }
            if (r == kSpanToFind) r = SpanBound(b, ady, half);
            for (int i = 0; i < n; ++i) rowRecord(u + i, 1, r, dn, nullptr, b, 0.0);
            continue;
        }
        if (out != found) {
            // The next sources of a run: their blur has the same J row, and
            // their depth is the same.
            SpreadSource& run = out[-1];
            if (run.j == j && run.c == nullptr && run.u + run.count == u && run.depth == dn) {
                run.count += n;
                run.x1 = lastTarget(u, n, r);
                run.lastBlock = static_cast<int>(static_cast<unsigned>(run.x1) / L::kCount);
                continue;
            }
        }
        rowRecord(u, n, r, dn, j, b, lastError);
    }
    closeVaryingRun();
    return static_cast<int>(out - found);
}

// The per-target arrays of a job's target row, copied out of it: a store to
// one of them may alias anything, so the job's fields would be read again
// after each. (No member functions, and a static maker: each unit builds its
// own code for its own instructions.)
struct TargetArrays {
    const double* low;
    const double* high;
    const double* centreDepth;
    double* sums;
    double* counts;
    double* errors;
};
static inline TargetArrays ArraysOf(const SpreadRowJob& job) {
    return TargetArrays{job.low, job.high, job.centreDepth, job.sums, job.counts, job.errors};
}

// One source on the targets x .. x + L::kCount - 1 of its span, one at a
// time, in memory: for J computed per target (the running sums' sweep does
// the same in lanes).
template <class L>
void AddComputedJ(const SpreadRowJob& job, const SpreadSource& s, int x) {
    const int dy = s.dy;
    const TargetArrays a = ArraysOf(job);
    const int t0 = s.x0 > x ? s.x0 : x;
    const int t1 = s.x1 < x + L::kCount - 1 ? s.x1 : x + L::kCount - 1;
    for (int t = t0; t <= t1; ++t) {
        const int dx = s.u - t;
        if (!(a.low[t] <= dy && dy <= a.high[t]) || dx < a.low[t] || dx > a.high[t]) continue;
        if (!(s.depth <= a.centreDepth[t])) continue;
        const double jx = AttenuatedBlur(s.blur, s.distance[dx]);
        if (jx >= 1.0) {
            a.sums[t] = a.sums[t] + jx;
            a.counts[t] = a.counts[t] + 1.0;
        }
    }
}

// How many of a run's sources first .. last each target of a block (columns
// xv) takes, where the windows hold the run: target t takes the sources
// t - span .. t + span, a count that adds exactly in any order.
template <class L>
typename L::V SourcesWithinSpan(const SpreadSource& s, int first, int last, typename L::V xv) {
    const typename L::V span = L::Splat(static_cast<double>(s.span));
    const typename L::V from = L::Max(L::Splat(static_cast<double>(s.u + first)), L::Sub(xv, span));
    const typename L::V to = L::Min(L::Splat(static_cast<double>(s.u + last)), L::Add(xv, span));
    return L::Max(L::Add(L::Sub(to, from), L::Splat(1.0)), L::Splat(0.0));
}

// The first sources of a run that reach block x, and the last. Static, so
// that each unit has its own copy built for its own instructions.
static inline void RunSourcesOnBlock(const SpreadSource& s, int x, int lanes, int& first, int& last) {
    first = x - s.span - s.u > 0 ? x - s.span - s.u : 0;
    const int reached = x + lanes - 1 + s.span - s.u;
    last = reached < s.count - 1 ? reached : s.count - 1;
}

// The sums of J in window order for one target row against one source row.
template <class L>
void SpreadSourceRow(const SpreadRowJob& job) {
    typedef typename L::V V;
    typedef typename L::M M;
    // Local copies: the stores below may alias anything, so fields of job
    // would be read again after each of them.
    double* const sums = job.sums;
    double* const counts = job.counts;
    SpreadSource* const found = job.sources;
    const int count = ListSpreadSources<L>(job, found);
    if (count == 0) return;

    const V lanes = L::Indices();
    const V zeros = L::Splat(0.0);
    const V ones = L::Splat(1.0);
    // One run of tabulated sources on a block: only the sources that reach
    // the block are taken, one after another.
    auto addTabulated = [&](const SpreadSource& s, int x, const TargetBlock<L>& block, V& sum, V& n)
        __attribute__((always_inline)) {
        int first, last;
        RunSourcesOnBlock(s, x, L::kCount, first, last);
        // J is symmetric in dx: J(u - x) = J(x - u).
        const double* const j = s.j + (x - s.u);
        if (block.WindowsHold(s.span)) {
            // Every target not in front of the sources takes every source
            // whose J there is above 0, that is within the span.
            const V reached = SourcesWithinSpan<L>(s, first, last, block.xv);
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
    TargetBlock<L> block;
    V sum, n;
    SweepBlocks<L>(
        found, count, job.scratch,
        [&](int x) {
            block.Load(job, x, lanes);
            sum = L::Load(sums + x);
            n = L::Load(counts + x);
        },
        [&](const SpreadSource& s, int x) {
            if (s.j != nullptr) {
                addTabulated(s, x, block, sum, n);
                return;
            }
            L::Store(sums + x, sum);
            L::Store(counts + x, n);
            AddComputedJ<L>(job, s, x);
            sum = L::Load(sums + x);
            n = L::Load(counts + x);
        },
        [&](int x) {
            L::Store(sums + x, sum);
            L::Store(counts + x, n);
        },
        [&](const SpreadSource& s, int x) {
            if (s.j == nullptr) {
                AddComputedJ<L>(job, s, x);
                return;
            }
            TargetBlock<L> late;
            late.Load(job, x, lanes);
            V lateSum = L::Load(sums + x), lateN = L::Load(counts + x);
            addTabulated(s, x, late, lateSum, lateN);
            L::Store(sums + x, lateSum);
            L::Store(counts + x, lateN);
        });
}

// The first pass of one target row in window order: rows[k] is its k-th
// source row, top to bottom.
template <class L>
void SpreadSourceRows(const SpreadRowJob* rows, int rowCount) {
    for (int k = 0; k < rowCount; ++k) SpreadSourceRow<L>(rows[k]);
}
