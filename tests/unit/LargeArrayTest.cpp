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
