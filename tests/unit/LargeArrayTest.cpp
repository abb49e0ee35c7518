// Arrays of any size hold what is stored in them; big ones are mapped on
// their own, at a page boundary (outside sanitizer builds, which keep
// operator new).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <numeric>

#include "platform/LargeArray.h"

TEST(LargeArray, SmallAndBigArraysKeepTheirValuesAcrossGrowth) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{1000}, std::size_t{1} << 17,
                                    (std::size_t{3} << 20) + 5}) {
        LargeArray<double> values(count);
        std::iota(values.begin(), values.end(), 0.0);
        values.resize(count * 2 + 1, -1.0);
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(values[i], static_cast<double>(i));
        for (std::size_t i = count; i < values.size(); ++i) ASSERT_EQ(values[i], -1.0);
        LargeArray<double> copy = values;
        EXPECT_TRUE(copy == values);
        LargeArray<double>().swap(values);
        EXPECT_TRUE(values.empty());
    }
}

TEST(LargeArray, BigArraysStartOnAPage) {
    LargeArray<unsigned char> bytes(std::size_t{5} << 20, 7);
    if (LargeBlocksAreMapped()) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes.data()) % 4096, 0u);
    }
    EXPECT_EQ(bytes.back(), 7);
}

// Where huge pages are asked for, a big block lies in whole ones, so that
// none of it falls in small pages.
TEST(LargeArray, BigBlocksLieInWholeHugePagesWhereAsked) {
    if (!LargeBlocksAreMapped() || !BigBlocksAskForHugePages()) GTEST_SKIP() << "small pages here";
    constexpr std::size_t kHuge = std::size_t{2} << 20, kBytes = 3 * kHuge + 5;
    auto* const block = static_cast<unsigned char*>(AllocateLargeZeroed(kBytes));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHuge, 0u);
    block[kBytes - 1] = 9;
    EXPECT_EQ(block[kBytes - 2], 0);
    FreeLarge(block, kBytes);
}

// A block readied for a whole write keeps what it holds, at either end too.
TEST(LargeArray, ReadyingABlockForWritingKeepsItsBytes) {
    for (const std::size_t bytes : {std::size_t{4096}, (std::size_t{5} << 20) + 3}) {
        std::unique_ptr<unsigned char[]> block(new unsigned char[bytes + 1]);
        unsigned char* const start = block.get() + 1;  // not on a page
        for (std::size_t i = 0; i < bytes; ++i) start[i] = static_cast<unsigned char>(i * 7 + 1);
        ReadyForWriting(start, bytes);
        for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(start[i], static_cast<unsigned char>(i * 7 + 1)) << i;
    }
}

// While blocks are kept, a big block freed serves the next ones asked for,
// a part of it at a time, as it was left; never a block that must start
// zeroed.
TEST(LargeArray, KeptBlocksServeLaterBlocksButNotZeroedOnes) {
    if (!LargeBlocksAreMapped()) GTEST_SKIP() << "big blocks come from operator new here";
    constexpr std::size_t kBig = std::size_t{8} << 20, kHalf = kBig / 2;
    const KeptBlocks keep;
    auto* const big = static_cast<unsigned char*>(AllocateLarge(kBig));
    big[0] = 1, big[kHalf] = 2;
    FreeLarge(big, kBig);
    auto* const zeroed = static_cast<unsigned char*>(AllocateLargeZeroed(kHalf));
    EXPECT_NE(zeroed, big);
    EXPECT_EQ(zeroed[0], 0);
    auto* const first = static_cast<unsigned char*>(AllocateLarge(kHalf));
    auto* const second = static_cast<unsigned char*>(AllocateLarge(kHalf));
    EXPECT_EQ(first, big);
    EXPECT_EQ(second, big + kHalf);
    EXPECT_EQ(second[0], 2);  // as it was left
    FreeLarge(zeroed, kHalf);
    FreeLarge(first, kHalf);
    FreeLarge(second, kHalf);
}
