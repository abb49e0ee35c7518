#include <gtest/gtest.h>

#include "engine/Rounding.h"

TEST(KernelDimension, FollowsItsFormulaForEveryValue) {
    EXPECT_EQ(KernelDimension(1.0), 3);
    EXPECT_EQ(KernelDimension(2.0), 3);
    EXPECT_EQ(KernelDimension(8.0 / 3.0), 3);
    // ceil(8.7) / 3 = 3, made even: a reach that rounds up to 3 needs a window of 4.
    EXPECT_EQ(KernelDimension(2.9), 4);
    EXPECT_EQ(KernelDimension(3.0), 4);
    EXPECT_EQ(KernelDimension(4.0 + 2.0 / 3.0), 4);
    EXPECT_EQ(KernelDimension(5.0), 6);
    EXPECT_EQ(KernelDimension(16.0), 16);
    EXPECT_EQ(KernelDimension(16.2), 16);
    EXPECT_EQ(KernelDimension(16.5), 16);
    EXPECT_EQ(KernelDimension(17.0), 18);
    EXPECT_EQ(KernelDimension(0.5), 3);
    EXPECT_EQ(KernelDimension(-7.0), 3);
}

TEST(RoundUpThird, RoundsUpToMultiplesOfAThird) {
    EXPECT_EQ(RoundUpThird(1.0), 1.0);
    EXPECT_EQ(RoundUpThird(1.1), 4.0 / 3.0);
    EXPECT_EQ(RoundUpThird(2.9), 3.0);
    EXPECT_EQ(RoundUpThird(16.0), 16.0);
}
