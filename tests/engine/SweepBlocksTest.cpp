// The order in which the passes add sources to a block of targets: every
// block must receive exactly the sources whose targets touch it, in source
// order, whether a source is taken up in time or late.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/SweepBlocks.h"

namespace {

struct FourLanes {
    static constexpr int kCount = 4;
};

struct Source {
    int firstBlock, lastBlock;
};

// Sweeps the sources and returns, per block, the sources it received; counts
// the sources added late.
std::vector<std::vector<int>> Received(const std::vector<Source>& sources, int blocks, int& late) {
    std::vector<const void*> active(sources.size()), survivors(sources.size());
    BlockScratch scratch;
    scratch.active = active.data();
    scratch.survivors = survivors.data();
    std::vector<std::vector<int>> received(static_cast<std::size_t>(blocks));
    int open = -1;
    auto index = [&](const Source& s) { return static_cast<int>(&s - sources.data()); };
    SweepBlocks<FourLanes>(
        sources.data(), static_cast<int>(sources.size()), scratch,
        [&](int x) {
            EXPECT_EQ(open, -1);
            open = x / FourLanes::kCount;
        },
        [&](const Source& s, int x) {
            EXPECT_EQ(x / FourLanes::kCount, open);
            received[static_cast<std::size_t>(open)].push_back(index(s));
        },
        [&](int x) {
            EXPECT_EQ(x / FourLanes::kCount, open);
            open = -1;
        },
        [&](const Source& s, int x) {
            // Late: only into a block already closed.
            const int block = x / FourLanes::kCount;
            EXPECT_NE(block, open);
            ++late;
            received[static_cast<std::size_t>(block)].push_back(index(s));
        });
    return received;
}

}  // namespace

TEST(SweepBlocks, EveryBlockGetsItsSourcesInSourceOrder) {
    std::mt19937 random(11);
    int late = 0;
    for (int trial = 0; trial < 500; ++trial) {
        // Sources left to right with spans of any size, so that some start
        // further left than an earlier one; in every fifth trial hundreds of
        // short ones with a few of long reach among them, which keep many
        // ended ones among those taken up.
        const bool crowded = trial % 5 == 4;
        const int blocks = crowded ? 400 : 40;
        std::vector<Source> sources;
        const int count = 1 + static_cast<int>(random() % (crowded ? 600 : 30));
        int u = static_cast<int>(random() % 8);
        for (int i = 0; i < count && u < blocks * 4; ++i) {
            const int longest = crowded ? (random() % 25 == 0 ? 600 : 3) : trial % 3 == 0 ? 40 : 6;
            const int span = static_cast<int>(random() % longest);
            const int x0 = u - span > 0 ? u - span : 0;
            const int x1 = u + span < blocks * 4 - 1 ? u + span : blocks * 4 - 1;
            sources.push_back({x0 / 4, x1 / 4});
            u += 1 + static_cast<int>(random() % 5);
        }
        const auto received = Received(sources, blocks, late);
        for (int block = 0; block < blocks; ++block) {
            std::vector<int> expected;
            for (int i = 0; i < static_cast<int>(sources.size()); ++i)
                if (sources[static_cast<std::size_t>(i)].firstBlock <= block &&
                    block <= sources[static_cast<std::size_t>(i)].lastBlock)
                    expected.push_back(i);
            ASSERT_EQ(received[static_cast<std::size_t>(block)], expected) << "trial " << trial << " block " << block;
        }
    }
    EXPECT_GT(late, 100);  // the late path was taken, often
}
