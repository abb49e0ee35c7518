#pragma once
// The gather for groups of R neighbouring target rows against one source
// row, in lanes L: a source is listed once for all the groups, and a block
// holds the same columns of each row of a group, so that one set-up of a
// source serves R rows of targets. Each row's sums are formed alike,
// whatever R and the number of groups.
#include <cstring>
#include <limits>

#include "engine/SweepBlocks.h"
#include "engine/TargetBlock.h"

// The shift that divides by L's lanes (a power of two).
template <class L>
constexpr int kLog2Lanes = L::kCount == 2 ? 1 : L::kCount == 4 ? 2 : L::kCount == 8 ? 3 : 4;

// The reach of a kernel that reaches no row of a group.
constexpr GroupReach UnreachedGroup() {
    int none[kGroupRows] = {};
    for (int r = 0; r < kGroupRows; ++r) none[r] = -1;
    return ReachOfRows(none, kGroupRows);
}

// Lists into found[h] the sources of jobs[0]'s source row that reach any of
// rows h * R .. h * R + R - 1 of jobs (target rows y + h * R + r, each set up
// for that source row: jobs[i]->dy == jobs[0]->dy - i), with their targets in
// those rows (in runs of one), and counts[h]; adds the targets they visit to
// visits where kCount. One pass over the row's candidates serves all H
// groups of rows: the candidates' tests, kernels and exposures are found once.
// (A function of its own with the test of a candidate inlined in it: either
// way round the listing took 20 to 40 % longer.)
template <class L, int R, int H, bool kAlphaOfWeight, bool kCount>
__attribute__((noinline)) void ListGatherSources(GatherRowJob* const* jobs, GatherSource* const* found, int* counts,
                                                 std::uint64_t& visits) {
    const GatherRowJob& first = *jobs[0];
    const int w = first.width;
    const int dy = first.dy;
    int ady[H][R];
    int nearer = dy < 0 ? -dy : dy;
    for (int h = 0; h < H; ++h)
        for (int r = 0; r < R; ++r) {
            const int rowDy = dy - h * R - r;
            ady[h][r] = rowDy < 0 ? -rowDy : rowDy;
            nearer = ady[h][r] < nearer ? ady[h][r] : nearer;
        }
    // A spread not above the doubled distance to the nearest row covers none of them.
    const double minimum = 2.0 * nearer;
    // Local copies: the stores below may alias anything, so fields of a job
    // would be read again after each of them.
    const ColumnRun* const runs = first.runs;
    const double* const spreadRow = first.spreadRow;
    const double* const depthRow = first.depthRow;
    const std::uint32_t* const kernelIdRow = first.kernelIdRow;
    const std::uint8_t* const inFrontRow = first.inFrontRow;
    const unsigned char* const sourceByteRow = first.sourceByteRow;
    const int sourcePixelBytes = first.sourcePixelBytes;
    const double* const colourExposure = first.colourExposure;
    const double* const alphaExposure = first.alphaExposure;
    const KernelLanes* const kernelLanes = first.kernelLanes;
    // Each group's next record.
    GatherSource* out[H];
    for (int h = 0; h < H; ++h) out[h] = found[h];
    // Counted here, not through the reference, which the stores below may alias.
    std::uint64_t visited = 0;

    // Neighbouring sources mostly share a kernel, and so its rows and spans:
    // for each group, the first kernel row, the rows' spans as reach, and the
    // offsets from u of the ends of the union span and of each row's span, in
    // the order of GatherSource's whole numbers after u (see RecordEnds).
    std::uint32_t lastId = 0xffffffffu;
    int lastFront = -1, lastAny = -1;
    std::uintptr_t lastRow[H];
    // Each group's widest span (the offsets' lane kWidestLane), kept apart: taken
    // out of the vector at every candidate it cost the listing instructions.
    int lastWidest[H];
    double lastReach[H][kGroupRows];
    RecordEnds lastOffsets[H];
    int lastStride = 0;
    static constexpr GroupReach kUnreached = UnreachedGroup();
    const RecordEnds lowest = {};
    const RecordEnds highest = lowest + (w - 1);
    // The union span's ends (lanes 1 and 2) become blocks; the rest stay columns.
    const RecordEnds toBlocks = {0, kLog2Lanes<L>, kLog2Lanes<L>};
    auto list = [&](int u) __attribute__((always_inline)) {
        if (!(spreadRow[u] > minimum)) return;
        const std::uint32_t id = kernelIdRow[u];
        const int front = inFrontRow[u] != 0 ? 1 : 0;
        if (id != lastId || front != lastFront) {
            const KernelLanes& kernel = kernelLanes[id];
            lastId = id;
            lastFront = front;
            lastAny = -1;
            for (int h = 0; h < H; ++h) {
                const int gdy = dy - h * R;
                GroupReach own;
                const GroupReach* g = &own;
                if (R == kGroupRows) {
                    // Looked up (see KernelLanes::groups).
                    const bool reached = -kernel.reach <= gdy && gdy < kernel.reach + R;
                    g = reached ? &kernel.groups[gdy + kernel.reach] : &kUnreached;
                } else {
                    int span[kGroupRows] = {};
                    for (int r = 0; r < R; ++r) span[r] = KernelRowSpan(kernel, ady[h][r]);
                    own = ReachOfRows(span, R);
                }
                std::memcpy(&lastOffsets[h], g->offsets, sizeof lastOffsets[h]);
                for (int r = 0; r < R; ++r) lastReach[h][r] = g->span[r];
                const int widest = g->offsets[kWidestLane];
                lastWidest[h] = widest;
                lastRow[h] = widest < 0 ? 0 : reinterpret_cast<std::uintptr_t>(KernelLaneRow(kernel, front, gdy, 0));
                lastAny = widest > lastAny ? widest : lastAny;
            }
            lastStride = kernel.stride;
        }
        if (lastAny < 0) return;
        const unsigned char* b = sourceByteRow + sourcePixelBytes * u;
        const double e0 = colourExposure[b[0]], e1 = colourExposure[b[1]], e2 = colourExposure[b[2]];
        // Not read where the alpha sum is not kept.
        const double e3 = kAlphaOfWeight ? 0.0 : alphaExposure[sourcePixelBytes == 4 ? b[3] : 255];
        const double depth = depthRow[u];
        const RecordEnds at = lowest + u;
        for (int h = 0; h < H; ++h) {
            if (lastWidest[h] < 0) continue;  // reaches no row of the group
            GatherSource& s = *out[h]++;
            s.kernelAtZero = lastRow[h] - static_cast<std::uintptr_t>(u) * sizeof(double);
            s.exposure[0] = e0, s.exposure[1] = e1, s.exposure[2] = e2, s.exposure[3] = e3;
            s.depth = depth;
            for (int r = 0; r < R; ++r) s.reach[r] = lastReach[h][r];
            RecordEnds ends = at + lastOffsets[h];
            ends = ends < lowest ? lowest : ends;
            ends = ends > highest ? highest : ends;
            ends = ends >> toBlocks;
            std::memcpy(&s.u, &ends, sizeof ends);
            s.stride = lastStride;
            if (kCount)
                for (int r = 0; r < R; ++r)
                    if (lastReach[h][r] >= 0.0) visited += static_cast<std::uint64_t>(s.rowX1[r] - s.rowX0[r] + 1);
        }
    };
    if (runs != nullptr) {
        const int runCount = first.runCount;
        for (int k = 0; k < runCount; ++k) list(runs[k].start);
    } else {
        for (int u = 0; u < w; ++u) list(u);
    }
    for (int h = 0; h < H; ++h) counts[h] = static_cast<int>(out[h] - found[h]);
    visits += visited;
}

// Adds the count sources of found (listed for rows jobs[0 .. R - 1]) to
// those rows' sums, block by block; returns the visited targets that the
// tests turned away where kCount (0 elsewhere). kGrey: the kernels have one
// channel (see KernelLanes), so the four weight sums receive the same values
// in the same order and one of them stands for all four. kAlphaOfWeight: the
// alpha sum is not kept (see GatherRowJob::alphaOfWeight).
template <class L, int R, bool kGrey, bool kAlphaOfWeight, bool kCount>
std::uint64_t SweepGatherSources(GatherRowJob* const* jobs, const GatherSource* found, int count, double widestSpan) {
    typedef typename L::V V;
    typedef typename L::M M;
    // Each row's arrays, read once (see TargetBlock::Row).
    typedef typename TargetBlock<L>::Row TargetRow;
    TargetRow targetRow[R];
    const double* distance[R];
    const double* centreSpread[R];
    double* sums[R][4];
    double* weights[R][4];
    for (int r = 0; r < R; ++r) {
        targetRow[r] = TargetRow(*jobs[r]);
        distance[r] = jobs[r]->distance, centreSpread[r] = jobs[r]->centreSpread;
        for (int c = 0; c < 4; ++c) sums[r][c] = jobs[r]->sums[c], weights[r][c] = jobs[r]->weights[c];
    }

    const V lanes = L::Indices();
    // Visited targets that the tests turned away; the rest contribute.
    std::uint64_t refused = 0;
    // The targets of one block in each row and the sums of their windows so far.
    struct Block {
        TargetBlock<L> row[R];
        // Where every row's windows hold the widest span that any source of
        // the source row may have, the depth at or below which a source needs
        // no test in any row; -inf elsewhere, where each row is tested alone.
        // (One comparison a visit instead of two a row: the comparisons share
        // the processor's ports with the sums' arithmetic.)
        double nearestOfAll;
        V spread[R];
        const double* distance[R];  // each row's doubled distances, that of offset x - u at -u
        V sr[R], sg[R], sb[R], sa[R];  // sums
        V wr[R], wg[R], wb[R], wa[R];  // weights (wr alone for a grey lens)
    };
    // Every part of the sweep is inlined by force: with both forms (counted
    // or not) in one file the compiler left some parts out of line, and the
    // sweeps of both passes took 15 to 40 % longer.
    auto load = [&](Block& block, int x) __attribute__((always_inline)) {
        double nearestOfAll = std::numeric_limits<double>::infinity();
        for (int r = 0; r < R; ++r) {
            block.row[r].Load(targetRow[r], x, lanes);
            block.spread[r] = L::Load(centreSpread[r] + x);
            block.distance[r] = distance[r] + x;
            block.sr[r] = L::Load(sums[r][0] + x), block.sg[r] = L::Load(sums[r][1] + x);
            block.sb[r] = L::Load(sums[r][2] + x);
            if (!kAlphaOfWeight) block.sa[r] = L::Load(sums[r][3] + x);
            block.wr[r] = L::Load(weights[r][0] + x);
            if (!kGrey) {
                block.wg[r] = L::Load(weights[r][1] + x), block.wb[r] = L::Load(weights[r][2] + x);
                block.wa[r] = L::Load(weights[r][3] + x);
            }
            const TargetBlock<L>& t = block.row[r];
            if (!(widestSpan <= t.cover))
                nearestOfAll = -std::numeric_limits<double>::infinity();
            else if (t.nearest < nearestOfAll)
                nearestOfAll = t.nearest;
        }
        block.nearestOfAll = nearestOfAll;
    };
    auto store = [&](const Block& block, int x) __attribute__((always_inline)) {
        for (int r = 0; r < R; ++r) {
            L::Store(sums[r][0] + x, block.sr[r]), L::Store(sums[r][1] + x, block.sg[r]);
            L::Store(sums[r][2] + x, block.sb[r]);
            if (!kAlphaOfWeight) L::Store(sums[r][3] + x, block.sa[r]);
            L::Store(weights[r][0] + x, block.wr[r]);
            if (!kGrey) {
                L::Store(weights[r][1] + x, block.wg[r]), L::Store(weights[r][2] + x, block.wb[r]);
                L::Store(weights[r][3] + x, block.wa[r]);
            }
        }
    };
    // Adds kernel values (zero in lanes that take nothing) times the source's
    // exposure to row r. A lane that adds +0.0 keeps its sum: the sums are
    // never -0.0.
    auto accumulate = [](const GatherSource& s, Block& block, int r, V kr, V kg, V kb, V ka)
        __attribute__((always_inline)) {
        block.sr[r] = L::Add(block.sr[r], L::Mul(kr, L::Splat(s.exposure[0])));
        block.sg[r] = L::Add(block.sg[r], L::Mul(kg, L::Splat(s.exposure[1])));
        block.sb[r] = L::Add(block.sb[r], L::Mul(kb, L::Splat(s.exposure[2])));
        if (!kAlphaOfWeight) block.sa[r] = L::Add(block.sa[r], L::Mul(ka, L::Splat(s.exposure[3])));
        block.wr[r] = L::Add(block.wr[r], kr);
        if (!kGrey) {
            block.wg[r] = L::Add(block.wg[r], kg);
            block.wb[r] = L::Add(block.wb[r], kb);
            block.wa[r] = L::Add(block.wa[r], ka);
        }
    };
    // Row r of the block, every lane taking the kernel values it reads.
    auto addWhole = [&](const GatherSource& s, Block& block, int r, const double* kernel)
        __attribute__((always_inline)) {
        const V kr = L::Load(kernel);
        if (kGrey) {
            accumulate(s, block, r, kr, kr, kr, kr);
        } else {
            accumulate(s, block, r, kr, L::Load(kernel + s.stride), L::Load(kernel + 2 * s.stride),
                       L::Load(kernel + 3 * s.stride));
        }
    };
    // Row r of the block with a test per lane.
    auto addTested = [&](const GatherSource& s, Block& block, int r, const double* kernel)
        __attribute__((always_inline)) {
        // In a row the source does not reach, its kernel row holds 0: only
        // the counts need to pass over it.
        if (kCount && s.reach[r] < 0.0) return;
        const TargetBlock<L>& target = block.row[r];
        // A target of this source in this row, within the target's window.
        const M span = L::Both(L::LessEqual(L::Splat(static_cast<double>(s.rowX0[r])), target.xv),
                               L::LessEqual(target.xv, L::Splat(static_cast<double>(s.rowX1[r]))));
        // Not behind the target, or inside the target's own spread.
        const M visible = L::Either(L::LessEqual(L::Splat(s.depth), target.depth),
                                    L::Less(L::Load(block.distance[r] - s.u), block.spread[r]));
        M take = visible;
        if (!target.WindowsHold(s.reach[r])) {
            const V dxv = L::Sub(L::Splat(static_cast<double>(s.u)), target.xv);
            const M inWindow =
                L::Both(target.rowIn, L::Both(L::LessEqual(target.low, dxv), L::LessEqual(dxv, target.high)));
            take = L::Both(span, L::Both(inWindow, visible));
        }
        // Otherwise lanes past the span that take the source read kernel values of 0.
        if (kCount) refused += static_cast<std::uint64_t>(__builtin_popcount(L::Bits(span) & ~L::Bits(take)));
        // Masked lanes add +0.0.
        const V kr = L::Select(take, L::Load(kernel));
        if (kGrey) {
            accumulate(s, block, r, kr, kr, kr, kr);
        } else {
            accumulate(s, block, r, kr, L::Select(take, L::Load(kernel + s.stride)),
                       L::Select(take, L::Load(kernel + 2 * s.stride)), L::Select(take, L::Load(kernel + 3 * s.stride)));
        }
    };
    // How many blocks ahead the kernel rows are fetched.
    constexpr std::uintptr_t kPrefetchBlocks = 2;
    // The kernel rows of one row offset lie channels * stride apart.
    const std::uintptr_t channels = kGrey ? 1 : 4;
    auto add = [&](const GatherSource& s, int x, Block& block) __attribute__((always_inline)) {
        const std::uintptr_t kernelFirst = s.kernelAtZero + static_cast<std::uintptr_t>(x) * sizeof(double);
        const std::uintptr_t stride = static_cast<std::uintptr_t>(s.stride);
        const std::uintptr_t rowBytes = channels * stride * sizeof(double);
        // Each neighbour reads its own kernel row one block further at each
        // block; with many neighbours on rows of many kernels the processor
        // does not foresee those reads (at 4K -s 112 the kernels take 49 MB),
        // so ask for the line two blocks ahead now.
        const std::uintptr_t ahead = kernelFirst + kPrefetchBlocks * L::kCount * sizeof(double);
        for (int r = 0; r < R; ++r)
            for (std::uintptr_t c = 0; c < channels; ++c)
                __builtin_prefetch(reinterpret_cast<const void*>(ahead - r * rowBytes + c * stride * sizeof(double)));
        // Every target of the block in every row passes the tests: those past
        // the span, or in a row the source does not reach, read kernel values
        // of 0. Elsewhere each row on its own.
        if (s.depth <= block.nearestOfAll) {
            for (int r = 0; r < R; ++r)
                addWhole(s, block, r, reinterpret_cast<const double*>(kernelFirst - r * rowBytes));
            return;
        }
        for (int r = 0; r < R; ++r) {
            const double* kernel = reinterpret_cast<const double*>(kernelFirst - r * rowBytes);
            if (block.row[r].TakesWhole(s.reach[r], s.depth))
                addWhole(s, block, r, kernel);
            else
                addTested(s, block, r, kernel);
        }
    };
    Block current;
    SweepBlocks<L>(
        found, count, jobs[0]->scratch, [&](int x) __attribute__((always_inline)) { load(current, x); },
        [&](const GatherSource& s, int x) __attribute__((always_inline)) { add(s, x, current); },
        [&](int x) __attribute__((always_inline)) { store(current, x); },
        [&](const GatherSource& s, int x) {
            Block late;
            load(late, x);
            add(s, x, late);
            store(late, x);
        });
    return refused;
}

// H groups of R neighbouring target rows (jobs[h * R + r] is target row
// y + h * R + r) against one source row. jobs[h * R] holds the room for
// group h's sources; jobs[0] holds the source row's arrays and, where
// kCount, takes the counts of visits and contributions.
template <class L, int R, bool kGrey, int H, bool kAlphaOfWeight, bool kCount>
void GatherSourceRows(GatherRowJob* const* jobs) {
    GatherSource* found[H];
    for (int h = 0; h < H; ++h) found[h] = jobs[h * R]->sources;
    int counts[H];
    std::uint64_t visits = 0;
    ListGatherSources<L, R, H, kAlphaOfWeight, kCount>(jobs, found, counts, visits);
    std::uint64_t refused = 0;
    for (int h = 0; h < H; ++h)
        if (counts[h] > 0)
            refused += SweepGatherSources<L, R, kGrey, kAlphaOfWeight, kCount>(jobs + h * R, found[h], counts[h],
                                                                              jobs[0]->widestSpan);
    if (kCount) {
        jobs[0]->visits += visits;
        jobs[0]->contributions += visits - refused;
    }
}

// GatherSourceRows with the work counted where jobs[0] asks for it.
template <class L, int R, bool kGrey, int H, bool kAlphaOfWeight>
void GatherSourceRowsCounted(GatherRowJob* const* jobs) {
    if (jobs[0]->countWork)
        GatherSourceRows<L, R, kGrey, H, kAlphaOfWeight, true>(jobs);
    else
        GatherSourceRows<L, R, kGrey, H, kAlphaOfWeight, false>(jobs);
}

// One target row.
template <class L>
void GatherSourceRow(GatherRowJob& job) {
    GatherRowJob* const jobs[1] = {&job};
    if (job.grey)
        GatherSourceRowsCounted<L, 1, true, 1, false>(jobs);
    else
        GatherSourceRowsCounted<L, 1, false, 1, false>(jobs);
}

// groups (1 or kListedGroups) groups of kGroupRows target rows of a grey lens.
template <class L>
void GatherSourceRowGroup(GatherRowJob* const* jobs, int groups) {
    const bool alphaOfWeight = jobs[0]->alphaOfWeight;
    if (groups == kListedGroups && alphaOfWeight)
        GatherSourceRowsCounted<L, kGroupRows, true, kListedGroups, true>(jobs);
    else if (groups == kListedGroups)
        GatherSourceRowsCounted<L, kGroupRows, true, kListedGroups, false>(jobs);
    else if (alphaOfWeight)
        GatherSourceRowsCounted<L, kGroupRows, true, 1, true>(jobs);
    else
        GatherSourceRowsCounted<L, kGroupRows, true, 1, false>(jobs);
}
