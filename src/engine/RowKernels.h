#pragma once
// The inner work of both passes: one row of output pixels ("targets") against
// one row of neighbours ("sources"). Every source adds to the targets that it
// reaches; sources come left to right and rows of sources top to bottom,
// which is the order of each target's window, so every per-target sum is
// formed in window order. Targets are handled in blocks of several lanes,
// each lane keeping its own sums, and a block adds all its sources one after
// another in registers, so that no sum waits on memory between two sources
// (see SweepBlocks).
//
// The templates are built once per lane width, the wider one in a unit of its
// own compiled for those instructions; so that no shared inline function is
// ever compiled for them, they touch only raw arrays and helpers local to each
// unit.
#include <cstddef>
#include <cstdint>

#include "engine/RowLayout.h"

// One kernel as the gather reads it: for each row offset dy within reach
// and each orientation (0: behind the focus, read as stored; 1: in front,
// mirrored), one row per channel indexed by e = target x - source x, holding
// the kernel value that offset reads and 0 where the spread does not cover
// it.
struct KernelLanes {
    const double* values = nullptr;
    int reach = -1;       // largest |dy| with a covered offset
    int stride = 0;       // doubles per channel row
    const int* span = nullptr;  // per |dy|: the largest covered |dx|, or -1
};

// Element e = 0 of the row of one channel, orientation and dy.
static inline const double* KernelLaneRow(const KernelLanes& k, int orientation, int dy, int channel) {
    const std::size_t rowIndex =
        (static_cast<std::size_t>(orientation) * static_cast<std::size_t>(2 * k.reach + 1) +
         static_cast<std::size_t>(dy + k.reach)) * 4 + static_cast<std::size_t>(channel);
    return k.values + rowIndex * static_cast<std::size_t>(k.stride) + kRowPad + k.reach;
}

// Working space of a job, owned by the caller (the templates never
// allocate): two lists of source indices, each with room for width entries.
struct BlockScratch {
    int* active = nullptr;
    int* survivors = nullptr;
};

// Columns start .. start + count - 1 of a row. In the first pass the
// columns of a run have the same blur and depth.
struct ColumnRun {
    std::uint16_t start;
    std::uint16_t count;
};

// What both passes need for one target row against one source row.
struct RowJob {
    int width = 0;
    // The sources to visit, left to right: runCount runs of neighbouring
    // columns, or every pixel of the row on its own when runs is null.
    const ColumnRun* runs = nullptr;
    int runCount = 0;
    int dy = 0;                        // source row - target row
    const double* distance = nullptr;  // doubled distances of this dy, element dx
    // Padded per-target arrays, element x: the window's offset range, and
    // the dx range of the window for this dy (filled by the job, over the
    // blocks it touches; empty where dy is outside the window).
    const double* low = nullptr;
    const double* high = nullptr;
    double* rowLow = nullptr;
    double* rowHigh = nullptr;
    const double* centreDepth = nullptr;
    BlockScratch scratch;
};

// A source of the first pass that reaches the target row: its targets
// x0 .. x1 and its J row (element x - u), or null when J is computed per
// target (a blur without a table, or a blur <= 0).
struct SpreadSource {
    const double* j;
    double depth;
    double blur;
    int u, x0, x1;
    int firstBlock, lastBlock;  // the blocks of x0 and x1
    // A run of count neighbouring sources u .. u + count - 1 with the same J
    // row and depth, each reaching span targets either side (tabulated only).
    int count, span;
};

// The first pass for one target row against one source row.
struct SpreadRowJob : RowJob {
    int half = 0;                     // kernelSize / 2
    bool anyNonPositiveBlur = false;  // a blur <= 0 can give J >= 1 anywhere
    const double* blurRow = nullptr;
    const double* depthRow = nullptr;
    const std::uint16_t* tableIds = nullptr;
    // The J tables (see SpreadTables): rows of tableRowLength doubles,
    // element 0 at tableRowCentre, one row per (id, |dy|); widths likewise.
    const double* tableValues = nullptr;
    const int* tableWidths = nullptr;
    std::size_t tableRowLength = 0;
    std::size_t tableRowCentre = 0;
    double* sums = nullptr;    // padded, element x
    double* counts = nullptr;
    SpreadSource* sources = nullptr;  // room for width
};

// A source of the gather that reaches the target row: its targets x0 .. x1,
// its kernel rows (channel c at kernel + c * stride, element x - u), its
// exposure and depth.
struct GatherSource {
    const double* kernel;
    std::size_t stride;
    double exposure[4];
    double depth;
    double column;  // u
    double first, last;  // x0 and x1
    int u;
    int firstBlock, lastBlock;  // the blocks of x0 and x1
};

// The gather for one target row against one source row.
struct GatherRowJob : RowJob {
    const double* spreadRow = nullptr;
    const double* depthRow = nullptr;
    const std::uint32_t* kernelIdRow = nullptr;
    const std::uint8_t* inFrontRow = nullptr;
    // The sources' exposure: the tables of sourceByteRow's bytes (colour,
    // and alpha), sourcePixelBytes (3 or 4; with 3, alpha is 255) a pixel.
    const unsigned char* sourceByteRow = nullptr;
    int sourcePixelBytes = 4;
    const double* colourExposure = nullptr;
    const double* alphaExposure = nullptr;
    const KernelLanes* kernelLanes = nullptr;  // per kernel id
    // Padded per-target arrays, element x.
    const double* centreSpread = nullptr;
    double* sums[4] = {};
    double* weights[4] = {};
    GatherSource* sources = nullptr;  // room for width
    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
};

typedef void (*SpreadRowFunction)(SpreadRowJob& job);
typedef void (*GatherRowFunction)(GatherRowJob& job);

// The widest lanes this processor runs, at most maxLanes (0: no limit).
SpreadRowFunction ChooseSpreadRow(int maxLanes);
GatherRowFunction ChooseGatherRow(int maxLanes);

// rowLow, rowHigh = low, high where low <= dy <= high, else the empty range
// (1, -1), for x = begin .. end - 1 (whole lanes; the arrays are padded).
template <class L>
void WindowRangeForRow(const double* low, const double* high, double dy, double* rowLow, double* rowHigh, int begin,
                       int end) {
    const typename L::V dyv = L::Splat(dy);
    const typename L::V one = L::Splat(1.0);
    const typename L::V minusOne = L::Splat(-1.0);
    for (int x = begin; x < end; x += L::kCount) {
        const typename L::V lo = L::Load(low + x);
        const typename L::V hi = L::Load(high + x);
        const typename L::M in = L::Both(L::LessEqual(lo, dyv), L::LessEqual(dyv, hi));
        // Select gives +0.0 outside the mask; the empty range goes there instead.
        L::Store(rowLow + x, L::Add(L::Select(in, lo), L::SelectNot(in, one)));
        L::Store(rowHigh + x, L::Add(L::Select(in, hi), L::SelectNot(in, minusOne)));
    }
}

// Goes through the blocks of lanes (x = block * L::kCount) that the sources'
// targets x0 .. x1 touch, left to right, and through the sources of each
// block in source order: open(x) starts a block, visit(source, x) adds one
// source to it, close(x) ends it. A source is taken up at the first block
// that its targets touch, unless an earlier source starts further right;
// then it is taken up late, and late(source, x) adds it, at once and in
// memory, to each of its blocks already closed. Every block thereby still
// receives its sources in source order: those taken up in time were all
// taken up (and so are all listed) before the late ones, which come in
// source order too.
template <class L, class S, class Open, class Visit, class Close, class Late>
void SweepBlocks(const S* sources, int count, BlockScratch& scratch, Open open, Visit visit, Close close,
                 Late late) {
    int* active = scratch.active;
    int* survivors = scratch.survivors;
    int activeCount = 0;
    int next = 0;
    int block = sources[0].firstBlock;
    while (next < count || activeCount > 0) {
        if (activeCount == 0 && sources[next].firstBlock > block) block = sources[next].firstBlock;
        while (next < count && sources[next].firstBlock <= block) {
            const S& s = sources[next];
            for (int b = s.firstBlock; b < block && b <= s.lastBlock; ++b) late(s, b * L::kCount);
            if (s.lastBlock >= block) active[activeCount++] = next;
            ++next;
        }
        if (activeCount == 0) continue;
        const int x = block * L::kCount;
        open(x);
        int kept = 0;
        for (int k = 0; k < activeCount; ++k) {
            const int index = active[k];
            const S& s = sources[index];
            visit(s, x);
            survivors[kept] = index;
            kept += s.lastBlock > block ? 1 : 0;
        }
        close(x);
        int* swap = active;
        active = survivors;
        survivors = swap;
        activeCount = kept;
        ++block;
    }
}

template <class L>
void SpreadSourceRow(SpreadRowJob& job) {
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
    double* const rowLow = job.rowLow;
    double* const rowHigh = job.rowHigh;
    const double* const centreDepth = job.centreDepth;
    double* const sums = job.sums;
    double* const counts = job.counts;
    SpreadSource* const found = job.sources;
    const int candidates = runs ? job.runCount : w;

    // The sources that reach this row, with their targets.
    int count = 0;
    int firstX = w, lastX = -1;
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
            const std::size_t tableRow = static_cast<std::size_t>(id) * static_cast<std::size_t>(half + 1) +
                                         static_cast<std::size_t>(ady);
            r = tableWidths[tableRow];
            if (r < 0) continue;
            j = tableValues + tableRow * tableRowLength + tableRowCentre;
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
                run.lastBlock = x1 / L::kCount;
                if (x1 > lastX) lastX = x1;
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
        s.firstBlock = s.x0 / L::kCount;
        s.lastBlock = s.x1 / L::kCount;
        s.count = n;
        s.span = r;
        if (s.x0 < firstX) firstX = s.x0;
        if (s.x1 > lastX) lastX = s.x1;
    }
    if (count == 0) return;
    WindowRangeForRow<L>(job.low, job.high, job.dy, rowLow, rowHigh, firstX - firstX % L::kCount, lastX + 1);

    const typename L::V lanes = L::Indices();
    const typename L::V zeros = L::Splat(0.0);
    const typename L::V ones = L::Splat(1.0);
    // One source on the targets x .. x + L::kCount - 1 of its span, one at a
    // time, in memory: for J computed per target.
    auto addComputed = [&](const SpreadSource& s, int x) {
        const int t0 = s.x0 > x ? s.x0 : x;
        const int t1 = s.x1 < x + L::kCount - 1 ? s.x1 : x + L::kCount - 1;
        for (int t = t0; t <= t1; ++t) {
            const int dx = s.u - t;
            if (dx < rowLow[t] || dx > rowHigh[t]) continue;
            if (!(s.depth <= centreDepth[t])) continue;
            const double jx = AttenuatedBlur(s.blur, distance[dx]);
            if (jx >= 1.0) {
                sums[t] = sums[t] + jx;
                counts[t] = counts[t] + 1.0;
            }
        }
    };
    // One run of tabulated sources on the block x, whose targets are xv and
    // whose window ranges and depths are low, high and depth; only the
    // sources that reach the block are taken, one after another.
    auto addTabulated = [&](const SpreadSource& s, int x, typename L::V xv, typename L::V low, typename L::V high,
                            typename L::V depth, typename L::V& sum, typename L::V& n) {
        const int first = x - s.span - s.u > 0 ? x - s.span - s.u : 0;
        const int reached = x + L::kCount - 1 + s.span - s.u;
        const int last = reached < s.count - 1 ? reached : s.count - 1;
        const typename L::M notBehind = L::LessEqual(L::Splat(s.depth), depth);
        typename L::V dxv = L::Sub(L::Splat(static_cast<double>(s.u + first)), xv);
        for (int i = first; i <= last; ++i, dxv = L::Add(dxv, ones)) {
            // J is symmetric in dx: J(u - x) = J(x - u).
            const typename L::V jv = L::Load(s.j + (x - s.u - i));
            const typename L::M inWindow = L::Both(L::LessEqual(low, dxv), L::LessEqual(dxv, high));
            const typename L::M take = L::Both(inWindow, L::Both(notBehind, L::Less(zeros, jv)));
            // Masked lanes add +0.0, which leaves a sum of positive terms unchanged.
            sum = L::Add(sum, L::Select(take, jv));
            n = L::Add(n, L::Select(take, ones));
        }
    };
    typename L::V xv, low, high, depth, sum, n;
    SweepBlocks<L>(
        found, count, job.scratch,
        [&](int x) {
            xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
            low = L::Load(rowLow + x);
            high = L::Load(rowHigh + x);
            depth = L::Load(centreDepth + x);
            sum = L::Load(sums + x);
            n = L::Load(counts + x);
        },
        [&](const SpreadSource& s, int x) {
            if (s.j != nullptr) {
                addTabulated(s, x, xv, low, high, depth, sum, n);
                return;
            }
            L::Store(sums + x, sum);
            L::Store(counts + x, n);
            addComputed(s, x);
            sum = L::Load(sums + x);
            n = L::Load(counts + x);
        },
        [&](int x) {
            L::Store(sums + x, sum);
            L::Store(counts + x, n);
        },
        [&](const SpreadSource& s, int x) {
            if (s.j == nullptr) {
                addComputed(s, x);
                return;
            }
            typename L::V lateSum = L::Load(sums + x);
            typename L::V lateN = L::Load(counts + x);
            addTabulated(s, x, L::Add(L::Splat(static_cast<double>(x)), lanes), L::Load(rowLow + x),
                         L::Load(rowHigh + x), L::Load(centreDepth + x), lateSum, lateN);
            L::Store(sums + x, lateSum);
            L::Store(counts + x, lateN);
        });
}

template <class L>
void GatherSourceRow(GatherRowJob& job) {
    const int w = job.width;
    const int dy = job.dy;
    const int ady = dy < 0 ? -dy : dy;
    // A spread not above the doubled row distance covers nothing in this row.
    const double minimum = 2.0 * ady;
    // Local copies: the stores below may alias anything, so fields of job
    // would be read again after each of them.
    const ColumnRun* const runs = job.runs;
    const double* const spreadRow = job.spreadRow;
    const double* const depthRow = job.depthRow;
    const std::uint32_t* const kernelIdRow = job.kernelIdRow;
    const std::uint8_t* const inFrontRow = job.inFrontRow;
    const unsigned char* const sourceByteRow = job.sourceByteRow;
    const int sourcePixelBytes = job.sourcePixelBytes;
    const double* const colourExposure = job.colourExposure;
    const double* const alphaExposure = job.alphaExposure;
    const KernelLanes* const kernelLanes = job.kernelLanes;
    const double* const distance = job.distance;
    double* const rowLow = job.rowLow;
    double* const rowHigh = job.rowHigh;
    const double* const centreDepth = job.centreDepth;
    const double* const centreSpread = job.centreSpread;
    GatherSource* const found = job.sources;
    const int candidates = runs ? job.runCount : w;

    // The sources that reach this row, with their targets (in runs of one).
    std::uint64_t visits = 0;
    int count = 0;
    int firstX = w, lastX = -1;
    for (int k = 0; k < candidates; ++k) {
        const int u = runs ? runs[k].start : k;
        if (!(spreadRow[u] > minimum)) continue;
        const KernelLanes& kernel = kernelLanes[kernelIdRow[u]];
        if (ady > kernel.reach) continue;
        const int r = kernel.span[ady];
        if (r < 0) continue;
        GatherSource& s = found[count++];
        s.kernel = KernelLaneRow(kernel, inFrontRow[u] != 0 ? 1 : 0, dy, 0);
        s.stride = static_cast<std::size_t>(kernel.stride);
        const unsigned char* b = sourceByteRow + sourcePixelBytes * u;
        s.exposure[0] = colourExposure[b[0]], s.exposure[1] = colourExposure[b[1]];
        s.exposure[2] = colourExposure[b[2]];
        s.exposure[3] = alphaExposure[sourcePixelBytes == 4 ? b[3] : 255];
        s.depth = depthRow[u];
        s.column = static_cast<double>(u);
        s.u = u;
        const int x0 = u - r > 0 ? u - r : 0;
        const int x1 = u + r < w - 1 ? u + r : w - 1;
        s.first = static_cast<double>(x0);
        s.last = static_cast<double>(x1);
        s.firstBlock = x0 / L::kCount;
        s.lastBlock = x1 / L::kCount;
        visits += static_cast<std::uint64_t>(x1 - x0 + 1);
        if (x0 < firstX) firstX = x0;
        if (x1 > lastX) lastX = x1;
    }
    if (count == 0) return;
    WindowRangeForRow<L>(job.low, job.high, job.dy, rowLow, rowHigh, firstX - firstX % L::kCount, lastX + 1);

    const typename L::V lanes = L::Indices();
    std::uint64_t contributions = 0;
    double* const sumR = job.sums[0];
    double* const sumG = job.sums[1];
    double* const sumB = job.sums[2];
    double* const sumA = job.sums[3];
    double* const weightR = job.weights[0];
    double* const weightG = job.weights[1];
    double* const weightB = job.weights[2];
    double* const weightA = job.weights[3];
    // The targets of one block and the sums of their window so far.
    struct Block {
        typename L::V xv, low, high, depth, spread;
        typename L::V sr, sg, sb, sa;  // sums
        typename L::V wr, wg, wb, wa;  // weights
    };
    auto load = [&](Block& block, int x) {
        block.xv = L::Add(L::Splat(static_cast<double>(x)), lanes);
        block.low = L::Load(rowLow + x);
        block.high = L::Load(rowHigh + x);
        block.depth = L::Load(centreDepth + x);
        block.spread = L::Load(centreSpread + x);
        block.sr = L::Load(sumR + x), block.sg = L::Load(sumG + x);
        block.sb = L::Load(sumB + x), block.sa = L::Load(sumA + x);
        block.wr = L::Load(weightR + x), block.wg = L::Load(weightG + x);
        block.wb = L::Load(weightB + x), block.wa = L::Load(weightA + x);
    };
    auto store = [&](const Block& block, int x) {
        L::Store(sumR + x, block.sr), L::Store(sumG + x, block.sg);
        L::Store(sumB + x, block.sb), L::Store(sumA + x, block.sa);
        L::Store(weightR + x, block.wr), L::Store(weightG + x, block.wg);
        L::Store(weightB + x, block.wb), L::Store(weightA + x, block.wa);
    };
    auto add = [&](const GatherSource& s, int x, Block& block) {
        const int e = x - s.u;
        const double* const kernel = s.kernel + e;
        const typename L::V dxv = L::Sub(L::Splat(s.column), block.xv);
        // Within the target's window, and a target of this source (x0 .. x1).
        const typename L::M inWindow =
            L::Both(L::Both(L::LessEqual(block.low, dxv), L::LessEqual(dxv, block.high)),
                    L::Both(L::LessEqual(L::Splat(s.first), block.xv), L::LessEqual(block.xv, L::Splat(s.last))));
        // Not behind the target, or inside the target's own spread.
        const typename L::M visible = L::Either(L::LessEqual(L::Splat(s.depth), block.depth),
                                                L::Less(L::Load(distance + e), block.spread));
        const typename L::M take = L::Both(inWindow, visible);
        contributions += static_cast<std::uint64_t>(__builtin_popcount(L::Bits(take)));
        // Masked lanes add +0.0.
        const typename L::V kr = L::Select(take, L::Load(kernel));
        const typename L::V kg = L::Select(take, L::Load(kernel + s.stride));
        const typename L::V kb = L::Select(take, L::Load(kernel + 2 * s.stride));
        const typename L::V ka = L::Select(take, L::Load(kernel + 3 * s.stride));
        block.sr = L::Add(block.sr, L::Mul(kr, L::Splat(s.exposure[0])));
        block.sg = L::Add(block.sg, L::Mul(kg, L::Splat(s.exposure[1])));
        block.sb = L::Add(block.sb, L::Mul(kb, L::Splat(s.exposure[2])));
        block.sa = L::Add(block.sa, L::Mul(ka, L::Splat(s.exposure[3])));
        block.wr = L::Add(block.wr, kr);
        block.wg = L::Add(block.wg, kg);
        block.wb = L::Add(block.wb, kb);
        block.wa = L::Add(block.wa, ka);
    };
    Block current;
    SweepBlocks<L>(
        found, count, job.scratch, [&](int x) { load(current, x); },
        [&](const GatherSource& s, int x) { add(s, x, current); }, [&](int x) { store(current, x); },
        [&](const GatherSource& s, int x) {
            Block late;
            load(late, x);
            add(s, x, late);
            store(late, x);
        });
    job.visits += visits;
    job.contributions += contributions;
}
