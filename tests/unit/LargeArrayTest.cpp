// Arrays of any size hold what is stored in them; big ones are mapped on
// their own, at a page boundary (outside sanitizer builds, which keep
// operator new).
#include <gtest/gtest.h>

#include <cstdint>
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
