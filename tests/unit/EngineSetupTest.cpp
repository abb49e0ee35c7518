#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "api/ExactRun.h"
#include "app/ProgressLines.h"
#include "engine/DepthBlur.h"

namespace {

// Blur of depth d with the default options (size 16, focus 0.5, near 0, far 1).
double DefaultBlur(double d) { return BlurFromDepth(d, 16.0, 0.5, 0.0, 1.0, 80.0); }

TEST(DepthBlur, DefaultOptions) {
    EXPECT_EQ(DefaultBlur(0.25), 16.0);
    EXPECT_EQ(DefaultBlur(0.5), 1.0);  // in focus: the lower clamp
    EXPECT_EQ(DefaultBlur(1.0), 8.0);
    EXPECT_NEAR(DefaultBlur(0.1), 64.0, 1e-12);
    EXPECT_EQ(DefaultBlur(0.0), 80.0);  // distance 0: ratio 100, clamped to maxBlur
}

TEST(DepthBlur, ClampsAndSpecialValues) {
    // maxBlur below 1: the upper clamp comes last and wins everywhere.
    for (double d : {0.0, 0.3, 0.5, 1.0}) EXPECT_EQ(BlurFromDepth(d, 0.1, 0.5, 0.0, 1.0, 0.5), 0.5);
    // Zero distance with a wider clamp shows the ratio of 100.
    EXPECT_EQ(BlurFromDepth(0.0, 2.0, 0.5, 0.0, 1.0, 1000.0), 200.0);
    // Distance from near and far: d = 0.5 between 2 and 4 is 3, focus 1.5.
    EXPECT_EQ(BlurFromDepth(0.5, 10.0, 1.5, 2.0, 4.0, 50.0), 5.0);
}

// An engine over a w x h picture whose depth is d everywhere, with a plain lens.
// The lines are the program's, from the run's reports.
struct SmallEngine {
    std::unique_ptr<CBlurEngine> engine;
    std::string printed;

    SmallEngine(int w, int h, double d, double blurSize) {
        const std::vector<unsigned char> colour(static_cast<std::size_t>(w * h) * 4, 128);
        const std::vector<double> depth(static_cast<std::size_t>(w * h), d);
        const std::vector<unsigned char> lens(256 * 256 * 4, 255);
        dof::ExactParams params;
        params.blurSize = blurSize;
        dof::RunOptions options;
        options.progress = ProgressLines();
        testing::internal::CaptureStdout();
        RunExact(dof::ImageView(colour.data(), w, h, 4, dof::SampleType::kUInt8),
                 dof::ImageView(depth.data(), w, h, 1, dof::SampleType::kFloat64),
                 dof::ImageView(lens.data(), 256, 256, 4, dof::SampleType::kUInt8), params, options, 0, &engine);
        printed = testing::internal::GetCapturedStdout();
    }
};

TEST(EngineSetup, WindowFromTheLargestBlurAndTheInitLine) {
    // Depth 1 with focus 0.5 gives the blur blurSize / 2.
    SmallEngine fourWide(3, 2, 1.0, 6.0);
    EXPECT_EQ(fourWide.engine->LargestBlur(), 3.0);
    EXPECT_EQ(fourWide.engine->KernelSize(), 4);
    EXPECT_EQ(fourWide.printed.rfind("Init... size = 3.000000\n", 0), 0u) << fourWide.printed;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(fourWide.engine->BlurAt(x, y), 3.0);

    // 2.9 rounds up to 3, so the window is 4, not 3; the line shows the blur.
    SmallEngine justBelow(2, 2, 1.0, 5.8);
    EXPECT_EQ(justBelow.engine->KernelSize(), 4);
    EXPECT_EQ(justBelow.printed.rfind("Init... size = 2.900000\n", 0), 0u) << justBelow.printed;

    SmallEngine small(1, 1, 0.5, 16.0);
    EXPECT_EQ(small.engine->LargestBlur(), 1.0);
    EXPECT_EQ(small.engine->KernelSize(), 3);
    EXPECT_EQ(small.printed, "Init... size = 1.000000\nstate... 100%\n");
}

TEST(EngineSetup, DistanceTableCoversOneMoreOffsetOnTheNegativeSide) {
    SmallEngine four(3, 2, 1.0, 6.0);
    const std::vector<double>& table = four.engine->DistanceTable();
    ASSERT_EQ(table.size(), 16u);
    auto at = [&](int dx, int dy) { return table[static_cast<std::size_t>((2 + dy) * 4 + (2 + dx))]; };
    EXPECT_EQ(at(-2, -2), 2.0 * std::sqrt(8.0));
    EXPECT_EQ(at(0, 0), 0.0);
    EXPECT_EQ(at(1, 1), 2.0 * std::sqrt(2.0));
    EXPECT_EQ(at(-2, 1), 2.0 * std::sqrt(5.0));
    EXPECT_EQ(at(1, 0), 2.0);

    SmallEngine three(2, 1, 0.5, 16.0);
    ASSERT_EQ(three.engine->DistanceTable().size(), 9u);
    EXPECT_EQ(three.engine->DistanceTable()[0], 2.0 * std::sqrt(2.0));  // (-1, -1)
    EXPECT_EQ(three.engine->DistanceTable()[4], 0.0);
    EXPECT_EQ(three.engine->DistanceTable()[5], 2.0);  // (1, 0)
}

}  // namespace
