#pragma once
// The order in which blocks of targets receive their sources. The sweeps are
// always inlined: a block's sums live in registers that the caller's open,
// visit and close share, which a call would put in memory.
#include "engine/RowJobs.h"

// Opens the block, visits its active sources and closes it; the sources
// that reach a later block are left in active, and their count returned.
template <class L, class S, class Open, class Visit, class Close>
__attribute__((always_inline)) inline int SweepBlock(int block, const void**& active, int activeCount, const void**& survivors, Open& open, Visit& visit,
               Close& close) {
    const int x = block * L::kCount;
    open(x);
    int kept = 0;
    for (int k = 0; k < activeCount; ++k) {
        const S& s = *static_cast<const S*>(active[k]);
        visit(s, x);
        survivors[kept] = &s;
        kept += s.lastBlock > block ? 1 : 0;
    }
    close(x);
    const void** swap = active;
    active = survivors;
    survivors = swap;
    return kept;
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
__attribute__((always_inline)) inline void SweepBlocks(const S* sources, int count, const BlockScratch& scratch, Open open, Visit visit, Close close,
                 Late late) {
    const void** active = scratch.active;
    const void** survivors = scratch.survivors;
    int activeCount = 0;
    int next = 0;
    int block = sources[0].firstBlock;
    while (next < count || activeCount > 0) {
        if (activeCount == 0 && sources[next].firstBlock > block) block = sources[next].firstBlock;
        while (next < count && sources[next].firstBlock <= block) {
            const S& s = sources[next];
            for (int b = s.firstBlock; b < block && b <= s.lastBlock; ++b) late(s, b * L::kCount);
            if (s.lastBlock >= block) active[activeCount++] = &s;
            ++next;
        }
        if (activeCount == 0) continue;
        activeCount = SweepBlock<L, S>(block, active, activeCount, survivors, open, visit, close);
        ++block;
    }
}

// Goes through the blocks like SweepBlocks, but takes each source up at its
// first block whatever its place in the list, and a block's sources in no
// particular order: for sums that do not depend on the order. byBlock has
// room for count sources, ends for blocks + 1 (blocks: of the whole row).
template <class L, class S, class Open, class Visit, class Close>
__attribute__((always_inline)) inline void SweepBlocksInAnyOrder(const S* sources, int count, int blocks, const S** byBlock, int* ends,
                           const BlockScratch& scratch, Open open, Visit visit, Close close) {
    // The sources by their first block (a counting sort): those of block b end at ends[b].
    for (int b = 0; b <= blocks; ++b) ends[b] = 0;
    for (int i = 0; i < count; ++i) ++ends[sources[i].firstBlock + 1];
    for (int b = 0; b < blocks; ++b) ends[b + 1] += ends[b];
    for (int i = 0; i < count; ++i) byBlock[ends[sources[i].firstBlock]++] = &sources[i];

    const void** active = scratch.active;
    const void** survivors = scratch.survivors;
    int activeCount = 0, next = 0;
    for (int block = 0; block < blocks; ++block) {
        while (next < ends[block]) active[activeCount++] = byBlock[next++];
        if (activeCount == 0) {
            if (next == count) return;
            block = byBlock[next]->firstBlock - 1;
            continue;
        }
        activeCount = SweepBlock<L, S>(block, active, activeCount, survivors, open, visit, close);
    }
}
