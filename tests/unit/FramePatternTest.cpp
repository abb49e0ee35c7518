// Frame ranges and the paths of frames.
#include <gtest/gtest.h>

#include "app/FramePattern.h"

TEST(FramePattern, RangesStepsAndLists) {
    std::vector<int> frames;
    ASSERT_TRUE(ParseFrames("1-5", frames));
    EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_TRUE(ParseFrames("1-10x3", frames));
    EXPECT_EQ(frames, (std::vector<int>{1, 4, 7, 10}));
    ASSERT_TRUE(ParseFrames("9-12,1,5,10", frames));  // the order given, each frame once
    EXPECT_EQ(frames, (std::vector<int>{9, 10, 11, 12, 1, 5}));
    ASSERT_TRUE(ParseFrames("0", frames));
    EXPECT_EQ(frames, (std::vector<int>{0}));
    for (const char* bad : {"", "5-1", "1-", "-3", "1,,2", "1-5x0", "a", "1-5x", "1 2", "0-99999999"})
        EXPECT_FALSE(ParseFrames(bad, frames)) << bad;
}

TEST(FramePattern, PatternsArePaddedNumbers) {
    EXPECT_EQ(FramePath("shot.####.exr", 7), "shot.0007.exr");
    EXPECT_EQ(FramePath("shot.%04d.exr", 12345), "shot.12345.exr");
    EXPECT_EQ(FramePath("f%d_#.tga", 3), "f3_3.tga");
    EXPECT_EQ(FramePath("lens.tga", 3), "lens.tga");
    EXPECT_EQ(FramePath("100%.tga", 3), "100%.tga");
    EXPECT_TRUE(HasFramePattern("a/b.##.png"));
    EXPECT_FALSE(HasFramePattern("a/b.png"));
    EXPECT_FALSE(HasFramePattern("50%off.png"));
    EXPECT_EQ(FrameRuns({9, 3, 4, 5, 12, 10}), "3-5, 9-10, 12");
}
