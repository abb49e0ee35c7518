// Gather pass: which neighbours contribute and where their kernels are read,
// on small pictures whose spreads are known, so each rule is seen alone.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/EngineHarness.h"
#include "oracle/LiteralBlur.h"
#include "support/Scenes.h"

namespace {

// One row of pixels at the given depth values, each pixel its own colour.
BlurInput Row(const std::vector<double>& depths, double blurSize) {
    const int width = static_cast<int>(depths.size());
    BlurInput input = MakeFlatScene(width, 1, 0);
    UseDepthValues(input);
    input.depthValues = depths;
    input.options.blurSize = blurSize;
    for (int x = 0; x < width; x++) {
        input.colour[4 * x] = static_cast<unsigned char>(20 + 45 * x);
        input.colour[4 * x + 1] = static_cast<unsigned char>(230 - 50 * x);
        input.colour[4 * x + 2] = static_cast<unsigned char>(x % 2 == 0 ? 40 : 210);
        input.colour[4 * x + 3] = static_cast<unsigned char>(255 - 20 * x);
    }
    return input;
}

std::vector<unsigned char> PixelBytes(const std::vector<unsigned char>& bytes, int index) {
    return std::vector<unsigned char>(bytes.begin() + 4 * index, bytes.begin() + 4 * index + 4);
}

}  // namespace

// Five pixels of blur 4 in a row: the middle one gathers itself and its two
// neighbours (spread 10/3, t = 2), whose 4 x 4 kernels are read at (1, 2)
// or (3, 2): mirrored through the centre when the neighbour lies in front of
// the focus, as stored when behind it.
TEST(GatherKernelPosition, MirroredInFrontOfTheFocusOnly) {
    int expectedBytes[2][4];
    for (const bool inFront : {true, false}) {
        // Depth 0.25 with blur size 4, or depth 1 with blur size 8: blur 4 either way.
        BlurInput input = Row(std::vector<double>(5, inFront ? 0.25 : 1.0), inFront ? 4.0 : 8.0);
        input.lens = LopsidedLens();
        input.options.strong = 1.0;  // linear averages keep the hand formula short
        const auto engine = RunEngine(input, 2);
        ASSERT_EQ(engine->SpreadAt(1, 0), 10.0 / 3.0);
        ASSERT_EQ(engine->SpreadAt(2, 0), 10.0 / 3.0);
        ASSERT_EQ(engine->SpreadAt(3, 0), 10.0 / 3.0);
        ASSERT_EQ(engine->SpreadAt(0, 0), 11.0 / 3.0);  // 11/3 - 4 < 1: the pixel two away does not reach
        const CImageFroat* kernel = engine->KernelFor(10.0 / 3.0);
        ASSERT_NE(kernel, nullptr);
        ASSERT_EQ(kernel->width, 4);

        // Linear exposure: each channel c of the source becomes c * 255.
        auto exposure = [&](int x, int c) { return input.colour[4 * x + c] / 255.0 * 255.0; };
        const FroatPixel left = kernel->PixelAt(inFront ? 1 : 3, 2);
        const FroatPixel own = kernel->PixelAt(2, 2);
        const FroatPixel right = kernel->PixelAt(inFront ? 3 : 1, 2);
        const double FroatPixel::*channels[4] = {&FroatPixel::r, &FroatPixel::g, &FroatPixel::b, &FroatPixel::a};
        const std::vector<unsigned char> bytes = engine.bytes;
        for (int c = 0; c < 4; c++) {
            const double FroatPixel::*ch = channels[c];
            const double sum = left.*ch * exposure(1, c) + own.*ch * exposure(2, c) + right.*ch * exposure(3, c);
            const double weight = left.*ch + own.*ch + right.*ch;
            const double value = sum / weight / 255.0;
            expectedBytes[inFront ? 0 : 1][c] = static_cast<int>(value * 256.0);
            EXPECT_EQ(bytes[4 * 2 + c], expectedBytes[inFront ? 0 : 1][c]) << "channel " << c << (inFront ? " in front" : " behind");
        }
        EXPECT_EQ(bytes, OracleBlur(input)) << inFront;
    }
    // The two readings must really differ, or the test above proves nothing.
    EXPECT_NE(expectedBytes[0][0], expectedBytes[1][0]);
}

// 2 x 2 pixels of blur 4: every spread is 3.0, so each side neighbour
// (t = 2) reaches with spread - t exactly 1 and counts; diagonals do not.
TEST(GatherTests, ReachTestIncludesExactlyOne) {
    BlurInput input = MakeFlatScene(2, 2, 255);
    input.options.blurSize = 8.0;
    input.colour = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128};
    LiteralBlur oracle(input);
    oracle.Run();
    EXPECT_EQ(oracle.hits.reachExactlyOne, 8u);
    for (const int threads : {1, 3}) {
        const auto engine = RunEngine(input, threads);
        for (int i = 0; i < 4; i++) ASSERT_EQ(engine->SpreadAt(i % 2, i / 2), 3.0);
        EXPECT_EQ(engine->GetStats().contributions, 12u);
        EXPECT_EQ(engine.bytes, oracle.ToBytes());
    }
}

// A pixel of spread exactly 2 in front of a background of spread 11/3: the
// side neighbours lie behind it at t = 2, not inside its spread (t < 2
// fails), so it gathers only itself. With spread 7/3 they come in.
TEST(GatherTests, BackgroundInsideTheCentreSpreadOnlyWhenStrictlyInside) {
    // Depth 0.4 gives blur 2 (to within rounding), depth 0.5 / 1.2875 gives 2.3.
    for (const double centreDepth : {0.4, 0.5 / 1.2875}) {
        BlurInput input = Row({1.0, 1.0, centreDepth, 1.0, 1.0}, 8.0);
        const bool atEdge = centreDepth == 0.4;
        LiteralBlur oracle(input);
        oracle.Run();
        EXPECT_EQ(oracle.hits.behindAtCentreSpread, atEdge ? 2u : 0u);
        const auto engine = RunEngine(input, 2);
        ASSERT_EQ(engine->SpreadAt(2, 0), atEdge ? 2.0 : 7.0 / 3.0);
        ASSERT_EQ(engine->SpreadAt(1, 0), 11.0 / 3.0);
        ASSERT_EQ(engine->SpreadAt(3, 0), 11.0 / 3.0);
        const std::vector<unsigned char> bytes = engine.bytes;
        EXPECT_EQ(bytes, oracle.ToBytes());
        EXPECT_EQ(engine->GetStats().contributions, oracle.contributions);
        if (atEdge)
            EXPECT_EQ(PixelBytes(bytes, 2), PixelBytes(input.colour, 2));
        else
            EXPECT_NE(PixelBytes(bytes, 2), PixelBytes(input.colour, 2));
    }
}

// A pixel exactly at the focus distance between pixels in front of it: it
// takes their large spread, reaches them, and its kernel is read mirrored.
TEST(GatherKernelPosition, NeighbourExactlyAtFocusIsMirrored) {
    BlurInput input = Row({0.25, 0.25, 0.25, 0.25, 0.5, 0.25, 0.25, 0.25, 0.25}, 8.0);
    input.lens = LopsidedLens();
    LiteralBlur oracle(input);
    oracle.Run();
    EXPECT_GT(oracle.hits.atFocusMirrored, 0u);
    for (const int threads : {1, 2}) {
        const auto engine = RunEngine(input, threads);
        ASSERT_GE(engine->SpreadAt(4, 0), 3.0);
        EXPECT_EQ(engine.bytes, oracle.ToBytes());
        EXPECT_EQ(engine->GetStats().contributions, oracle.contributions);
    }
}

// A lens without blue gives no blue weight anywhere: blue keeps the source
// value while the other channels are blurred.
TEST(GatherTests, ChannelWithoutWeightKeepsTheSourceValue) {
    BlurInput input = MakeScene(23, 17);
    input.lens = NoBlueLens();
    const auto engine = RunEngine(input, 2);
    const std::vector<unsigned char> bytes = engine.bytes;
    EXPECT_EQ(bytes, OracleBlur(input));
    for (size_t i = 2; i < bytes.size(); i += 4) ASSERT_EQ(bytes[i], input.colour[i]) << i / 4;
}
