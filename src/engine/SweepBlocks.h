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
//
// The sources taken up are first visited where they lie, in one run from the
// first still open, each checked for whether it has ended; that reads them
// in order and writes nothing. Where ended ones come to crowd that run (a
// source of long reach among many short ones keeps them all in it), the
// sweep goes on with lists of the open sources, rewritten at each block.
// (Always inlined: the callers keep their block's sums in registers.)
template <class L, class S, class Open, class Visit, class Close, class Late>
__attribute__((always_inline)) inline void SweepBlocks(const S* sources, int count, const BlockScratch& scratch,
                                                       Open open, Visit visit, Close close, Late late) {
    // Pointers rather than indices: the block's loops then need fewer registers.
    const S* const end = sources + count;
    const S* next = sources;
    // Takes up the sources whose targets start by the block, in order,
    // adding those that start earlier to their closed blocks late; keep(s)
    // takes each.
    auto takeUp = [&](int block, auto keep) {
        while (next != end && next->firstBlock <= block) {
            const S& s = *next;
            for (int b = s.firstBlock; b < block && b <= s.lastBlock; ++b) late(s, b * L::kCount);
            keep(s);
            ++next;
        }
    };
    // Where they lie: sources first .. next - 1.
    constexpr int kFewEnded = 16;
    const S* first = sources;
    int block = sources[0].firstBlock;
    for (;;) {
        if (first == next) {
            if (next == end) return;
            if (next->firstBlock > block) block = next->firstBlock;
        }
        takeUp(block, [](const S&) {});
        while (first != next && first->lastBlock < block) ++first;
        if (first == next) continue;
        const int x = block * L::kCount;
        open(x);
        int ended = 0;
        for (const S* s = first; s != next; ++s) {
            if (s->lastBlock >= block)
                visit(*s, x);
            else
                ++ended;
        }
        close(x);
        ++block;
        if (ended > kFewEnded && 2 * ended > next - first) break;
    }
    // In lists.
    const void** active = scratch.active;
    const void** survivors = scratch.survivors;
    int activeCount = 0;
    for (const S* s = first; s != next; ++s)
        if (s->lastBlock >= block) active[activeCount++] = s;
    while (next != end || activeCount > 0) {
        if (activeCount == 0 && next->firstBlock > block) block = next->firstBlock;
        takeUp(block, [&](const S& s) {
            if (s.lastBlock >= block) active[activeCount++] = &s;
        });
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
