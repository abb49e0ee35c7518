// Setup and first pass: window sizes, reaches, spreads and kernels of the
// engine, against hand values and against the literal transcription.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "engine/EngineHarness.h"
#include "engine/Rounding.h"
#include "oracle/LiteralBlur.h"
#include "oracle/LiteralRounding.h"
#include "support/Scenes.h"

namespace {

// A flat picture at depth 1 with focus 0.5: every blur is blurSize / 2.
BlurInput UniformBlur(int width, int height, double blur) {
    BlurInput input = MakeFlatScene(width, height, 255);
    input.options.blurSize = 2.0 * blur;
    return input;
}

}  // namespace

TEST(Rounding, EngineRulesMatchTheLiteralOnes) {
    for (int i = -30; i <= 3000; i++) {
        const double v = i / 30.0;
        ASSERT_EQ(KernelDimension(v), LiteralKernelDimension(v)) << v;
        ASSERT_EQ(RoundUpThird(v), LiteralRoundUpThird(v)) << v;
    }
    EXPECT_EQ(KernelDimension(2.9), 4);
}

// The numerator of a spread in thirds, against the plain test by rounding.
TEST(Rounding, ThirdsOfMatchesTheTestByRounding) {
    const double odd[] = {-0.0, 0.0, -1.0 / 3.0, 0.1, 1.0 / 6.0, 0.5, 1e6 / 3.0, 999999.0 / 3.0, 1e300, -1e300,
                          std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()};
    std::vector<double> values(std::begin(odd), std::end(odd));
    for (int i = -30; i <= 30000; i++) values.push_back(RoundUpThird(i / 7.0)), values.push_back(i / 7.0);
    for (const double v : values) {
        const double thirds = std::round(3.0 * v);
        const bool numbered = thirds >= 0.0 && thirds < 1e6 && thirds / 3.0 == v;
        std::size_t n = 12345;
        ASSERT_EQ(ThirdsOf(v, 1000000, n), numbered) << v;
        if (numbered) {
            ASSERT_EQ(n, static_cast<std::size_t>(thirds)) << v;
        }
    }
}

TEST(Setup, WindowSizeFromTheLargestBlur) {
    const struct {
        double blur;
        int size;
    } cases[] = {{2.9, 4}, {3.0, 4}, {16.2, 16}, {17.0, 18}, {1.0, 3}, {2.5, 3}};
    for (const auto& c : cases) {
        const auto engine = RunEngine(UniformBlur(3, 2, c.blur), 2);
        EXPECT_EQ(engine->LargestBlur(), c.blur);
        EXPECT_EQ(engine->KernelSize(), c.size) << c.blur;
    }
    const auto engine = RunEngine(UniformBlur(3, 2, 4.0), 1);
    ASSERT_EQ(engine->DistanceTable().size(), 16u);
    EXPECT_EQ(engine->DistanceTable()[0], 2.0 * std::sqrt(8.0));  // offset (-2, -2)
    EXPECT_EQ(engine->DistanceTable()[2 * 4 + 2], 0.0);
    EXPECT_EQ(engine->DistanceTable()[2 * 4 + 3], 2.0);            // offset (1, 0)
}

TEST(FirstPass, UniformBlurFourGivesTheWorkedOutSpreads) {
    const auto engine = RunEngine(UniformBlur(7, 6, 4.0), 3);
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 7; x++) ASSERT_EQ(engine->ReachAt(x, y), 4.0);
    EXPECT_EQ(engine->SpreadAt(3, 3), 8.0 / 3.0);  // nine contributors
    EXPECT_EQ(engine->SpreadAt(2, 2), 8.0 / 3.0);
    EXPECT_EQ(engine->SpreadAt(0, 0), 3.0);        // corners: four contributors (4, 3, 3, 2)
    EXPECT_EQ(engine->SpreadAt(6, 0), 3.0);
    EXPECT_EQ(engine->SpreadAt(0, 5), 3.0);
    EXPECT_EQ(engine->SpreadAt(6, 5), 3.0);
    ASSERT_NE(engine->KernelFor(8.0 / 3.0), nullptr);
    EXPECT_EQ(engine->KernelFor(8.0 / 3.0)->width, 3);
    ASSERT_NE(engine->KernelFor(3.0), nullptr);
    EXPECT_EQ(engine->KernelFor(3.0)->width, 4);
}

TEST(FirstPass, OnlyNeighboursNotBehindCount) {
    // A pixel at the focus between two others: behind it they never count,
    // in front of it they do.
    for (const bool neighboursInFront : {false, true}) {
        BlurInput input = MakeFlatScene(3, 1, 0);
        UseDepthValues(input);
        input.depthValues = {neighboursInFront ? 0.25 : 1.0, 0.5, neighboursInFront ? 0.25 : 1.0};
        input.options.blurSize = neighboursInFront ? 20.0 : 40.0;  // neighbour blur 20 either way
        const auto engine = RunEngine(input, 1);
        ASSERT_EQ(engine->BlurAt(0, 0), 20.0);
        ASSERT_EQ(engine->BlurAt(1, 0), 1.0);
        // J = 20 (1 - 0.1^2) = 19.8 for a neighbour one pixel away.
        const double expected = neighboursInFront ? RoundUpThird((1.0 + 19.8 + 19.8) / 3.0) : 1.0;
        EXPECT_EQ(engine->SpreadAt(1, 0), expected) << neighboursInFront;
    }
}

// One pixel of large blur on a flat picture: the reach window reaches K/2
// to the left and up but only K/2 - 1 to the right and down.
TEST(FirstPass, ReachWindowIsLopsidedForEvenSizes) {
    BlurInput input = MakeFlatScene(25, 21, 0);
    UseDepthValues(input);
    for (double& d : input.depthValues) d = 0.5;  // at the focus: blur 1
    input.depthValues[10 * 25 + 12] = 0.0;        // distance 0: blur maxBlur = 10
    input.options.blurSize = 2.0;
    const auto engine = RunEngine(input, 2);
    ASSERT_EQ(engine->KernelSize(), 10);
    for (int y = 0; y < 21; y++)
        for (int x = 0; x < 25; x++) {
            const bool sees = x >= 12 - 4 && x <= 12 + 5 && y >= 10 - 4 && y <= 10 + 5;
            ASSERT_EQ(engine->ReachAt(x, y), sees ? 10.0 : 1.0) << x << ", " << y;
        }
    EXPECT_EQ(engine.bytes, OracleBlur(input));
}

TEST(FirstPass, BlursBelowOneGiveSpreadOne) {
    BlurInput input = MakeScene(37, 23);
    input.options.blurSize = 0.15;
    const auto engine = RunEngine(input, 2);
    EXPECT_EQ(engine->KernelSize(), 3);
    for (int y = 0; y < 23; y++)
        for (int x = 0; x < 37; x++) {
            ASSERT_EQ(engine->BlurAt(x, y), 0.75);
            ASSERT_EQ(engine->ReachAt(x, y), 1.0);
            ASSERT_EQ(engine->SpreadAt(x, y), 1.0);
        }
    EXPECT_EQ(engine->KernelCount(), 1u);
    EXPECT_EQ(engine.bytes, input.colour);  // each pixel keeps its own light
}

// Where a first-pass fault shows first: the per-pixel values and the kernels
// of whole generated scenes, compared with the literal transcription.
TEST(FirstPass, RecordsAndKernelsMatchTheLiteralOnes) {
    for (const int config : {0, 1, 2}) {
        BlurInput input = MakeScene(61, 47, 5);
        input.lens = LopsidedLens();
        if (config == 1) UseDepthValues(input);
        if (config == 2) input.options.blurSize = 3.0;  // window 16: its edges fall inside the picture
        LiteralBlur oracle(input);
        oracle.Run();
        const auto engine = RunEngine(input, 3);
        EXPECT_EQ(engine->LargestBlur(), oracle.largestBlur);
        EXPECT_EQ(engine->KernelSize(), oracle.kernelSize);
        EXPECT_EQ(engine->DistanceTable(), oracle.distanceTable);
        for (int y = 0; y < 47; y++)
            for (int x = 0; x < 61; x++) {
                const LiteralBlur::Record& r = oracle.RecordAt(x, y);
                ASSERT_EQ(engine->BlurAt(x, y), r.blur) << x << ", " << y;
                ASSERT_EQ(engine->ReachAt(x, y), r.reach) << x << ", " << y;
                ASSERT_EQ(engine->SpreadAt(x, y), r.spread) << x << ", " << y;
            }
        ASSERT_EQ(engine->KernelCount(), oracle.kernels.size());
        for (const auto& entry : oracle.kernels) {
            const CImageFroat* kernel = engine->KernelFor(entry.first);
            ASSERT_NE(kernel, nullptr) << entry.first;
            ASSERT_EQ(kernel->width, entry.second.width);
            ASSERT_EQ(kernel->height, entry.second.height);
            for (size_t i = 0; i < entry.second.pixelData.size(); i++) {
                const FroatPixel& a = kernel->pixelData[i];
                const FroatPixel& b = entry.second.pixelData[i];
                ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a) << entry.first << " at " << i;
            }
        }
    }
}
