#pragma once
// The gather for one target row against one source row, in lanes L.
#include "engine/SweepBlocks.h"
#include "engine/TargetBlock.h"

// kGrey: the kernels have one channel (see KernelLanes), so the four weight
// sums receive the same values in the same order and one of them stands for
// all four.
template <class L, bool kGrey>
void GatherSourceRowOf(GatherRowJob& job) {
    typedef typename L::V V;
    typedef typename L::M M;
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
    const double* const centreSpread = job.centreSpread;
    GatherSource* const found = job.sources;

    // The sources that reach this row, with their targets (in runs of one).
    // Neighbouring sources mostly share a kernel, and so its row and span.
    std::uint64_t visits = 0;
    int count = 0;
    std::uint32_t lastId = 0xffffffffu;
    int lastFront = -1, lastSpan = -1;
    const double* lastRow = nullptr;
    std::size_t lastStride = 0;
    auto list = [&](int u) {
        if (!(spreadRow[u] > minimum)) return;
        const std::uint32_t id = kernelIdRow[u];
        const int front = inFrontRow[u] != 0 ? 1 : 0;
        if (id != lastId || front != lastFront) {
            const KernelLanes& kernel = kernelLanes[id];
            lastId = id;
            lastFront = front;
            lastSpan = ady > kernel.reach ? -1 : kernel.span[ady];
            if (lastSpan >= 0) {
                lastRow = KernelLaneRow(kernel, front, dy, 0);
                lastStride = static_cast<std::size_t>(kernel.stride);
            }
        }
        const int r = lastSpan;
        if (r < 0) return;
        GatherSource& s = found[count++];
        s.kernelAtZero = reinterpret_cast<std::uintptr_t>(lastRow) - static_cast<std::uintptr_t>(u) * sizeof(double);
        s.stride = lastStride;
        const unsigned char* b = sourceByteRow + sourcePixelBytes * u;
        s.exposure[0] = colourExposure[b[0]], s.exposure[1] = colourExposure[b[1]];
        s.exposure[2] = colourExposure[b[2]];
        s.exposure[3] = alphaExposure[sourcePixelBytes == 4 ? b[3] : 255];
        s.depth = depthRow[u];
        s.u = u;
        s.span = r;
        s.reach = static_cast<double>(r);
        const int x0 = u - r > 0 ? u - r : 0;
        const int x1 = u + r < w - 1 ? u + r : w - 1;
        s.x0 = x0;
        s.x1 = x1;
        s.firstBlock = static_cast<int>(static_cast<unsigned>(x0) / L::kCount);
        s.lastBlock = static_cast<int>(static_cast<unsigned>(x1) / L::kCount);
        visits += static_cast<std::uint64_t>(x1 - x0 + 1);
    };
    if (runs != nullptr) {
        for (int k = 0; k < job.runCount; ++k) list(runs[k].start);
    } else {
        for (int u = 0; u < w; ++u) list(u);
    }
    if (count == 0) return;

    const V lanes = L::Indices();
    // Visited targets that the tests turned away; the rest contribute.
    std::uint64_t refused = 0;
    double* const sumR = job.sums[0];
    double* const sumG = job.sums[1];
    double* const sumB = job.sums[2];
    double* const sumA = job.sums[3];
    double* const weightR = job.weights[0];
    double* const weightG = job.weights[1];
    double* const weightB = job.weights[2];
    double* const weightA = job.weights[3];
    // The targets of one block and the sums of their window so far.
    struct Block : TargetBlock<L> {
        V spread;
        V sr, sg, sb, sa;  // sums
        V wr, wg, wb, wa;  // weights (wr alone for a grey lens)
    };
    auto load = [&](Block& block, int x) {
        block.Load(job, x, lanes);
        block.spread = L::Load(centreSpread + x);
        block.sr = L::Load(sumR + x), block.sg = L::Load(sumG + x);
        block.sb = L::Load(sumB + x), block.sa = L::Load(sumA + x);
        block.wr = L::Load(weightR + x);
        if (!kGrey) block.wg = L::Load(weightG + x), block.wb = L::Load(weightB + x), block.wa = L::Load(weightA + x);
    };
    auto store = [&](const Block& block, int x) {
        L::Store(sumR + x, block.sr), L::Store(sumG + x, block.sg);
        L::Store(sumB + x, block.sb), L::Store(sumA + x, block.sa);
        L::Store(weightR + x, block.wr);
        if (!kGrey) {
            L::Store(weightG + x, block.wg), L::Store(weightB + x, block.wb);
            L::Store(weightA + x, block.wa);
        }
    };
    // Adds kernel values k (zero in lanes that take nothing) times the
    // source's exposure. A lane that adds +0.0 keeps its sum: the sums are
    // never -0.0.
    auto accumulate = [](const GatherSource& s, Block& block, V kr, V kg, V kb, V ka) {
        block.sr = L::Add(block.sr, L::Mul(kr, L::Splat(s.exposure[0])));
        block.sg = L::Add(block.sg, L::Mul(kg, L::Splat(s.exposure[1])));
        block.sb = L::Add(block.sb, L::Mul(kb, L::Splat(s.exposure[2])));
        block.sa = L::Add(block.sa, L::Mul(ka, L::Splat(s.exposure[3])));
        block.wr = L::Add(block.wr, kr);
        if (!kGrey) {
            block.wg = L::Add(block.wg, kg);
            block.wb = L::Add(block.wb, kb);
            block.wa = L::Add(block.wa, ka);
        }
    };
    auto add = [&](const GatherSource& s, int x, Block& block) {
        const double* const kernel =
            reinterpret_cast<const double*>(s.kernelAtZero + static_cast<std::uintptr_t>(x) * sizeof(double));
        if (block.TakesWhole(s.reach, s.depth)) {
            // Every target of the block passes the tests; those past the
            // span read kernel values of 0.
            const V kr = L::Load(kernel);
            if (kGrey) {
                accumulate(s, block, kr, kr, kr, kr);
            } else {
                accumulate(s, block, kr, L::Load(kernel + s.stride), L::Load(kernel + 2 * s.stride),
                           L::Load(kernel + 3 * s.stride));
            }
            return;
        }
        // A target of this source (x0 .. x1), within the target's window.
        const M span = L::Both(L::LessEqual(L::Splat(static_cast<double>(s.x0)), block.xv),
                               L::LessEqual(block.xv, L::Splat(static_cast<double>(s.x1))));
        // Not behind the target, or inside the target's own spread.
        const M visible = L::Either(L::LessEqual(L::Splat(s.depth), block.depth),
                                    L::Less(L::Load(distance + (x - s.u)), block.spread));
        M take = visible;
        if (!block.WindowsHold(s.reach)) {
            const V dxv = L::Sub(L::Splat(static_cast<double>(s.u)), block.xv);
            const M inWindow =
                L::Both(block.rowIn, L::Both(L::LessEqual(block.low, dxv), L::LessEqual(dxv, block.high)));
            take = L::Both(span, L::Both(inWindow, visible));
        }
        // Otherwise lanes past the span that take the source read kernel values of 0.
        refused += static_cast<std::uint64_t>(__builtin_popcount(L::Bits(span) & ~L::Bits(take)));
        // Masked lanes add +0.0.
        const V kr = L::Select(take, L::Load(kernel));
        if (kGrey) {
            accumulate(s, block, kr, kr, kr, kr);
        } else {
            accumulate(s, block, kr, L::Select(take, L::Load(kernel + s.stride)),
                       L::Select(take, L::Load(kernel + 2 * s.stride)), L::Select(take, L::Load(kernel + 3 * s.stride)));
        }
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
    job.contributions += visits - refused;
}

template <class L>
void GatherSourceRow(GatherRowJob& job) {
    if (job.grey)
        GatherSourceRowOf<L, true>(job);
    else
        GatherSourceRowOf<L, false>(job);
}
