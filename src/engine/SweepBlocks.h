#pragma once
// The order in which blocks of targets receive their sources.
#include "engine/RowJobs.h"

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
void SweepBlocks(const S* sources, int count, const BlockScratch& scratch, Open open, Visit visit, Close close,
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
        activeCount = kept;
        ++block;
    }
}
