#pragma once
// The inner work of both passes: one row of output pixels ("targets") against
// one row of neighbours ("sources"). Every source adds to the targets that it
// reaches; sources come left to right and rows of sources top to bottom,
// which is the order of each target's window, so every per-target sum is
// formed in window order. Targets are handled several at a time, each lane
// keeping its own sums.
//
// The templates are built once per lane width, the wider one in a unit of its
// own compiled for those instructions; so that no shared inline function is
// ever compiled for them, they touch only raw arrays and helpers local to each
// unit.
#include <cstddef>
#include <cstdint>

#include "image/FroatImage.h"

// The id of a pixel whose blur has no J table.
constexpr std::uint16_t kNoSpreadTable = 0xffff;

// Per-target arrays carry this many unused entries before index 0 and after
// the last pixel, so that whole lanes may run past either end of a span.
constexpr int kRowPad = 8;

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

// J of a neighbour with blur b at doubled distance w.
static inline double LaneAttenuatedBlur(double b, double w) {
    const double m = 1.0 - (b - w) / b;
    return b * (1.0 - m * m);
}

// What both passes need for one target row against one source row.
struct RowJob {
    int width = 0;
    // The sources to visit, left to right: columnCount entries of columns,
    // or every pixel of the row when columns is null.
    const std::uint16_t* columns = nullptr;
    int columnCount = 0;
    int dy = 0;                        // source row - target row
    const double* distance = nullptr;  // doubled distances of this dy, element dx
    // Padded per-target arrays, element x: the window's offset range, and
    // the dx range of the window for this dy (filled by the job; empty where
    // dy is outside the window).
    const double* low = nullptr;
    const double* high = nullptr;
    double* rowLow = nullptr;
    double* rowHigh = nullptr;
    const double* centreDepth = nullptr;
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
};

// The gather for one target row against one source row.
struct GatherRowJob : RowJob {
    const double* spreadRow = nullptr;
    const double* depthRow = nullptr;
    const std::uint32_t* kernelIdRow = nullptr;
    const std::uint8_t* inFrontRow = nullptr;
    // The sources' exposure: exposureRow, or when it is null, the tables of
    // sourceByteRow's bytes (colour, and alpha).
    const FroatPixel* exposureRow = nullptr;
    const unsigned char* sourceByteRow = nullptr;
    const double* colourExposure = nullptr;
    const double* alphaExposure = nullptr;
    const KernelLanes* kernelLanes = nullptr;  // per kernel id
    // Padded per-target arrays, element x.
    const double* centreSpread = nullptr;
    double* sums[4] = {};
    double* weights[4] = {};
    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
};

typedef void (*SpreadRowFunction)(SpreadRowJob& job);
typedef void (*GatherRowFunction)(GatherRowJob& job);

// The widest lanes this processor runs, at most maxLanes (0: no limit).
SpreadRowFunction ChooseSpreadRow(int maxLanes);
GatherRowFunction ChooseGatherRow(int maxLanes);

// rowLow, rowHigh = low, high where low <= dy <= high, else the empty range
// (1, -1), for x = 0 .. width - 1 (whole lanes; the arrays are padded).
template <class L>
void WindowRangeForRow(const double* low, const double* high, double dy, double* rowLow, double* rowHigh, int width) {
    const typename L::V dyv = L::Splat(dy);
    const typename L::V one = L::Splat(1.0);
    const typename L::V minusOne = L::Splat(-1.0);
    for (int x = 0; x < width; x += L::kCount) {
        const typename L::V lo = L::Load(low + x);
        const typename L::V hi = L::Load(high + x);
        const typename L::M in = L::Both(L::LessEqual(lo, dyv), L::LessEqual(dyv, hi));
        // Select gives +0.0 outside the mask; the empty range goes there instead.
        L::Store(rowLow + x, L::Add(L::Select(in, lo), L::SelectNot(in, one)));
        L::Store(rowHigh + x, L::Add(L::Select(in, hi), L::SelectNot(in, minusOne)));
    }
}

template <class L>
void SpreadSourceRow(SpreadRowJob& job) {
    WindowRangeForRow<L>(job.low, job.high, job.dy, job.rowLow, job.rowHigh, job.width);
    const int w = job.width;
    const int dy = job.dy;
    const int ady = dy < 0 ? -dy : dy;
    const int half = job.half;
    // A positive blur not above the doubled row distance has J <= 0 there.
    const double minimum = 2.0 * ady;
    const typename L::V lanes = L::Indices();
    const typename L::V zeros = L::Splat(0.0);
    const typename L::V ones = L::Splat(1.0);
    const typename L::V step = L::Splat(L::kCount);
    // Local copies: the stores below may alias anything, so fields of job
    // would be read again after each of them.
    const std::uint16_t* const columns = job.columns;
    const double* const blurRow = job.blurRow;
    const double* const depthRow = job.depthRow;
    const std::uint16_t* const tableIds = job.tableIds;
    const double* const tableValues = job.tableValues;
    const int* const tableWidths = job.tableWidths;
    const std::size_t tableRowLength = job.tableRowLength;
    const std::size_t tableRowCentre = job.tableRowCentre;
    const double* const distance = job.distance;
    const double* const rowLow = job.rowLow;
    const double* const rowHigh = job.rowHigh;
    const double* const centreDepth = job.centreDepth;
    double* const sums = job.sums;
    double* const counts = job.counts;
    const int sources = columns ? job.columnCount : w;
    for (int k = 0; k < sources; ++k) {
        const int u = columns ? columns[k] : k;
        const double b = blurRow[u];
        const double dn = depthRow[u];
        const std::uint16_t id = tableIds[u];
        if (b > minimum && id != kNoSpreadTable) {
            // Tabulated: exactly the offsets |dx| <= r have J >= 1, and J is 0
            // past them, so lanes beyond the span add nothing.
            const std::size_t tableRow = static_cast<std::size_t>(id) * static_cast<std::size_t>(half + 1) +
                                         static_cast<std::size_t>(ady);
            const int r = tableWidths[tableRow];
            if (r < 0) continue;
            const double* j = tableValues + tableRow * tableRowLength + tableRowCentre;
            const int x0 = u - r > 0 ? u - r : 0;
            const int x1 = u + r < w - 1 ? u + r : w - 1;
            if (x0 == x1) {
                // A lone target (mostly the source itself): the same tests, one lane.
                const double jx = j[x0 - u];
                const int dx = u - x0;
                if (rowLow[x0] <= dx && dx <= rowHigh[x0] && dn <= centreDepth[x0] && 0.0 < jx) {
                    sums[x0] = sums[x0] + jx;
                    counts[x0] = counts[x0] + 1.0;
                }
                continue;
            }
            const typename L::V dnv = L::Splat(dn);
            typename L::V dxv = L::Sub(L::Splat(u - x0), lanes);
            for (int x = x0; x <= x1; x += L::kCount, dxv = L::Sub(dxv, step)) {
                // J is symmetric in dx: J(u - x) = J(x - u).
                const typename L::V jv = L::Load(j + (x - u));
                const typename L::M inWindow =
                    L::Both(L::LessEqual(L::Load(rowLow + x), dxv), L::LessEqual(dxv, L::Load(rowHigh + x)));
                const typename L::M take =
                    L::Both(inWindow, L::Both(L::LessEqual(dnv, L::Load(centreDepth + x)), L::Less(zeros, jv)));
                // Masked lanes add +0.0, which leaves a sum of positive terms unchanged.
                L::Store(sums + x, L::Add(L::Load(sums + x), L::Select(take, jv)));
                L::Store(counts + x, L::Add(L::Load(counts + x), L::Select(take, ones)));
            }
            continue;
        }
        int r;
        if (b > minimum) {
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
        const int x0 = u - r > 0 ? u - r : 0;
        const int x1 = u + r < w - 1 ? u + r : w - 1;
        for (int x = x0; x <= x1; ++x) {
            const int dx = u - x;
            if (dx < rowLow[x] || dx > rowHigh[x]) continue;
            if (!(dn <= centreDepth[x])) continue;
            const double jx = LaneAttenuatedBlur(b, distance[dx]);
            if (jx >= 1.0) {
                sums[x] = sums[x] + jx;
                counts[x] = counts[x] + 1.0;
            }
        }
    }
}

template <class L>
void GatherSourceRow(GatherRowJob& job) {
    WindowRangeForRow<L>(job.low, job.high, job.dy, job.rowLow, job.rowHigh, job.width);
    const int w = job.width;
    const int dy = job.dy;
    const int ady = dy < 0 ? -dy : dy;
    // A spread not above the doubled row distance covers nothing in this row.
    const double minimum = 2.0 * ady;
    const typename L::V lanes = L::Indices();
    const typename L::V step = L::Splat(L::kCount);
    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
    // Local copies: the stores below may alias anything, so fields of job
    // would be read again after each of them.
    const std::uint16_t* const columns = job.columns;
    const double* const spreadRow = job.spreadRow;
    const double* const depthRow = job.depthRow;
    const std::uint32_t* const kernelIdRow = job.kernelIdRow;
    const std::uint8_t* const inFrontRow = job.inFrontRow;
    const FroatPixel* const exposureRow = job.exposureRow;
    const unsigned char* const sourceByteRow = job.sourceByteRow;
    const double* const colourExposure = job.colourExposure;
    const double* const alphaExposure = job.alphaExposure;
    const KernelLanes* const kernelLanes = job.kernelLanes;
    const double* const distance = job.distance;
    const double* const rowLow = job.rowLow;
    const double* const rowHigh = job.rowHigh;
    const double* const centreDepth = job.centreDepth;
    const double* const centreSpread = job.centreSpread;
    double* const sumR = job.sums[0];
    double* const sumG = job.sums[1];
    double* const sumB = job.sums[2];
    double* const sumA = job.sums[3];
    double* const weightR = job.weights[0];
    double* const weightG = job.weights[1];
    double* const weightB = job.weights[2];
    double* const weightA = job.weights[3];
    const int sources = columns ? job.columnCount : w;
    for (int k = 0; k < sources; ++k) {
        const int u = columns ? columns[k] : k;
        if (!(spreadRow[u] > minimum)) continue;
        const KernelLanes& kernel = kernelLanes[kernelIdRow[u]];
        if (ady > kernel.reach) continue;
        const int r = kernel.span[ady];
        if (r < 0) continue;
        const int orientation = inFrontRow[u] != 0 ? 1 : 0;
        const double* lr = KernelLaneRow(kernel, orientation, dy, 0);
        const double* lg = KernelLaneRow(kernel, orientation, dy, 1);
        const double* lb = KernelLaneRow(kernel, orientation, dy, 2);
        const double* la = KernelLaneRow(kernel, orientation, dy, 3);
        double er, eg, eb, ea;
        if (exposureRow) {
            const FroatPixel& xp = exposureRow[u];
            er = xp.r, eg = xp.g, eb = xp.b, ea = xp.a;
        } else {
            const unsigned char* b = sourceByteRow + 4 * u;
            er = colourExposure[b[0]], eg = colourExposure[b[1]];
            eb = colourExposure[b[2]], ea = alphaExposure[b[3]];
        }
        const double ndepth = depthRow[u];
        const int x0 = u - r > 0 ? u - r : 0;
        const int x1 = u + r < w - 1 ? u + r : w - 1;
        visits += static_cast<std::uint64_t>(x1 - x0 + 1);
        if (x0 == x1) {
            // A lone target (mostly the source itself): the same tests, one lane.
            const int e = x0 - u;
            const int dx = -e;
            if (rowLow[x0] <= dx && dx <= rowHigh[x0] &&
                (ndepth <= centreDepth[x0] || distance[e] < centreSpread[x0])) {
                ++contributions;
                sumR[x0] = sumR[x0] + lr[e] * er;
                sumG[x0] = sumG[x0] + lg[e] * eg;
                sumB[x0] = sumB[x0] + lb[e] * eb;
                sumA[x0] = sumA[x0] + la[e] * ea;
                weightR[x0] = weightR[x0] + lr[e];
                weightG[x0] = weightG[x0] + lg[e];
                weightB[x0] = weightB[x0] + lb[e];
                weightA[x0] = weightA[x0] + la[e];
            }
            continue;
        }
        const typename L::V xr = L::Splat(er), xg = L::Splat(eg), xb = L::Splat(eb), xa = L::Splat(ea);
        const typename L::V nd = L::Splat(ndepth);
        typename L::V dxv = L::Sub(L::Splat(u - x0), lanes);
        unsigned lastBits = 0;
        for (int x = x0; x <= x1; x += L::kCount, dxv = L::Sub(dxv, step)) {
            const int e = x - u;
            const typename L::M inWindow =
                L::Both(L::LessEqual(L::Load(rowLow + x), dxv), L::LessEqual(dxv, L::Load(rowHigh + x)));
            // Not behind the target, or inside the target's own spread.
            const typename L::M visible = L::Either(L::LessEqual(nd, L::Load(centreDepth + x)),
                                                    L::Less(L::Load(distance + e), L::Load(centreSpread + x)));
            const typename L::M take = L::Both(inWindow, visible);
            lastBits = L::Bits(take);
            contributions += static_cast<std::uint64_t>(__builtin_popcount(lastBits));
            // Kernel values are 0 past the span, and masked lanes add +0.0.
            const typename L::V kr = L::Select(take, L::Load(lr + e));
            const typename L::V kg = L::Select(take, L::Load(lg + e));
            const typename L::V kb = L::Select(take, L::Load(lb + e));
            const typename L::V ka = L::Select(take, L::Load(la + e));
            L::Store(sumR + x, L::Add(L::Load(sumR + x), L::Mul(kr, xr)));
            L::Store(sumG + x, L::Add(L::Load(sumG + x), L::Mul(kg, xg)));
            L::Store(sumB + x, L::Add(L::Load(sumB + x), L::Mul(kb, xb)));
            L::Store(sumA + x, L::Add(L::Load(sumA + x), L::Mul(ka, xa)));
            L::Store(weightR + x, L::Add(L::Load(weightR + x), kr));
            L::Store(weightG + x, L::Add(L::Load(weightG + x), kg));
            L::Store(weightB + x, L::Add(L::Load(weightB + x), kb));
            L::Store(weightA + x, L::Add(L::Load(weightA + x), ka));
        }
        // The last step's lanes past x1 were counted but are no pairs.
        const int used = (x1 - x0 + 1) % L::kCount;
        if (used != 0) contributions -= static_cast<std::uint64_t>(__builtin_popcount(lastBits >> used));
    }
    job.visits += visits;
    job.contributions += contributions;
}
