// Hand-checked values for the literal transcription itself, so that the
// reference the engine is held to is known to be right on its own.
#include <gtest/gtest.h>

#include <cmath>

#include "oracle/LiteralBlur.h"
#include "oracle/LiteralLens.h"
#include "oracle/LiteralRounding.h"
#include "support/ImageMean.h"
#include "support/Scenes.h"

namespace {

CImageFroat LensImage(const std::vector<unsigned char>& bytes) {
    BlurInput input = MakeFlatScene(1, 1, 0);
    input.lens = bytes;
    return LiteralBlur(input).lens;
}

void ExpectNear(const FroatPixel& a, const FroatPixel& b, double tolerance) {
    EXPECT_NEAR(a.r, b.r, tolerance);
    EXPECT_NEAR(a.g, b.g, tolerance);
    EXPECT_NEAR(a.b, b.b, tolerance);
    EXPECT_NEAR(a.a, b.a, tolerance);
}

void ExpectSame(const FroatPixel& a, const FroatPixel& b) {
    EXPECT_EQ(a.r, b.r);
    EXPECT_EQ(a.g, b.g);
    EXPECT_EQ(a.b, b.b);
    EXPECT_EQ(a.a, b.a);
}

}  // namespace

TEST(LiteralInputs, ConvertLikeTheProgram) {
    BlurInput input = MakeFlatScene(2, 1, 0);
    input.depthBytes = {0, 0, 0, 255, 255, 255, 255, 255};
    input.options.zReverse = true;
    input.lens[0] = 30;
    input.lens[1] = 60;
    input.lens[2] = 91;
    input.lens[3] = 0;
    const LiteralBlur blur(input);
    EXPECT_EQ(blur.depth.PixelAt(0, 0).r, 1.0);
    EXPECT_EQ(blur.depth.PixelAt(0, 0).a, 0.0);  // alpha is reversed too
    EXPECT_EQ(blur.depth.PixelAt(1, 0).r, 0.0);
    EXPECT_EQ(blur.lens.PixelAt(0, 0).a, 60 / 255.0);
    EXPECT_EQ(blur.source.PixelAt(1, 0).r, 200 / 255.0);

    input.depthIsValues = true;
    input.depthValues = {0.25, 3.0};
    const LiteralBlur values(input);
    EXPECT_EQ(values.depth.PixelAt(0, 0).a, 0.75);
    EXPECT_EQ(values.depth.PixelAt(1, 0).r, -2.0);
}

TEST(LiteralSetup, BlurFromDepthWithTheDefaults) {
    BlurInput input = MakeFlatScene(5, 1, 0);
    input.depthIsValues = true;
    input.depthValues = {0.25, 0.5, 1.0, 0.1, 0.0};
    LiteralBlur blur(input);
    blur.Setup();
    EXPECT_EQ(blur.RecordAt(0, 0).blur, 16.0);
    EXPECT_EQ(blur.RecordAt(1, 0).blur, 1.0);
    EXPECT_EQ(blur.RecordAt(2, 0).blur, 8.0);
    EXPECT_NEAR(blur.RecordAt(3, 0).blur, 64.0, 1e-12);
    EXPECT_EQ(blur.RecordAt(4, 0).blur, 80.0);  // distance 0: ratio 100, clamped
    EXPECT_EQ(blur.largestBlur, 80.0);
    EXPECT_EQ(blur.kernelSize, 80);
    ASSERT_EQ(blur.distanceTable.size(), 6400u);
    EXPECT_EQ(blur.distanceTable[0], 2.0 * std::sqrt(3200.0));
    EXPECT_EQ(blur.distanceTable[40 * 80 + 40], 0.0);
}

TEST(LiteralSetup, WindowSizeFollowsTheLargestBlur) {
    // Depth 1 with focus 0.5 gives the blur blurSize / 2.
    const double blurSizes[] = {5.8, 6.0, 32.4, 34.0};
    const int sizes[] = {4, 4, 16, 18};
    for (int i = 0; i < 4; i++) {
        BlurInput input = MakeFlatScene(2, 2, 255);
        input.options.blurSize = blurSizes[i];
        LiteralBlur blur(input);
        blur.Setup();
        EXPECT_EQ(blur.kernelSize, sizes[i]) << blurSizes[i];
    }
    LiteralBlur blur(MakeFlatScene(2, 2, 255));
    blur.options.blurSize = 8.0;
    blur.maxBlur = 40.0;
    blur.Setup();
    ASSERT_EQ(blur.kernelSize, 4);
    EXPECT_EQ(blur.distanceTable[0], 2.0 * std::sqrt(8.0));  // offset (-2, -2)
}

TEST(LiteralFirstPass, UniformBlurFourSpreadsAsWorkedOut) {
    BlurInput input = MakeFlatScene(7, 6, 255);
    input.options.blurSize = 8.0;  // depth 1, focus 0.5: blur 4 everywhere
    LiteralBlur blur(input);
    blur.Run();
    EXPECT_EQ(blur.kernelSize, 4);
    EXPECT_EQ(blur.RecordAt(3, 3).reach, 4.0);
    EXPECT_EQ(blur.RecordAt(3, 3).spread, 8.0 / 3.0);
    EXPECT_EQ(blur.RecordAt(0, 0).spread, 3.0);
    EXPECT_EQ(blur.RecordAt(6, 5).spread, 3.0);
    EXPECT_EQ(blur.RecordAt(6, 0).spread, 3.0);
    EXPECT_GT(blur.hits.spreadEqualDepth, 0u);
}

TEST(LiteralFirstPass, BlursBelowOneLeaveEveryPixelItsOwnLight) {
    BlurInput input = MakeScene(9, 7);
    input.options.blurSize = 0.15;  // maxBlur 0.75 wins over the lower clamp
    LiteralBlur blur(input);
    blur.Run();
    EXPECT_EQ(blur.RecordAt(4, 4).blur, 0.75);
    EXPECT_EQ(blur.RecordAt(4, 4).reach, 1.0);
    EXPECT_EQ(blur.hits.spreadWithoutContributors, 63u);
    EXPECT_EQ(blur.RecordAt(4, 4).spread, 1.0);
    EXPECT_EQ(blur.kernels.size(), 1u);
    EXPECT_EQ(blur.contributions, 63u);  // each pixel alone
    EXPECT_EQ(blur.ToBytes(), input.colour);
}

TEST(LiteralGather, SharpPictureComesBackUnchanged) {
    // Depth exactly at the focus: blur 1, every pixel gathers only itself.
    for (const double strong : {1.035, 1.0, 1.1}) {
        BlurInput input = MakeScene(13, 9);
        UseDepthValues(input);
        for (double& d : input.depthValues) d = 0.5;
        input.options.strong = strong;
        LiteralBlur blur(input);
        blur.Run();
        EXPECT_EQ(blur.ToBytes(), input.colour) << strong;
        EXPECT_EQ(blur.hits.emptyWeightChannels, 0u);
    }
}

TEST(LiteralGather, ChannelWithoutWeightKeepsTheSourceValue) {
    BlurInput input = MakeScene(11, 8);
    input.lens = NoBlueLens();
    LiteralBlur blur(input);
    blur.Run();
    const std::vector<unsigned char> bytes = blur.ToBytes();
    EXPECT_EQ(blur.hits.emptyWeightChannels, 88u);
    for (size_t i = 2; i < bytes.size(); i += 4) ASSERT_EQ(bytes[i], input.colour[i]) << i / 4;
}

TEST(LiteralGather, EmptyPictureGivesNoBytes) {
    for (const auto& size : {std::pair<int, int>{0, 5}, {5, 0}, {0, 0}}) {
        BlurInput input = MakeScene(size.first, size.second);
        EXPECT_TRUE(OracleBlur(input).empty());
    }
}

TEST(LiteralLens, BoxFilterHandValues) {
    const CImageFroat lens = LensImage(LopsidedLens());

    const CImageFroat one = LiteralResampleLens(lens, 1, 1.0);
    ASSERT_EQ(one.width, 1);
    ExpectNear(one.PixelAt(0, 0), Mean(lens, 0, 0, 255, 255), 1e-12);

    const CImageFroat same = LiteralResampleLens(lens, 256, 1.0);
    for (int y = 0; y < 256; y += 15)
        for (int x = 0; x < 256; x += 17) ExpectSame(same.PixelAt(x, y), lens.PixelAt(x, y));

    // Spread 1: a canvas three lenses wide, the lens in the middle bin.
    const CImageFroat three = LiteralResampleLens(lens, 3, 3.0);
    ExpectNear(three.PixelAt(1, 1), Mean(lens, 0, 0, 255, 255), 1e-12);
    ExpectNear(three.PixelAt(0, 0), lens.PixelAt(0, 0), 1e-12);
    ExpectNear(three.PixelAt(2, 2), lens.PixelAt(255, 255), 1e-12);
    ExpectNear(three.PixelAt(1, 0), Mean(lens, 0, 0, 255, 0), 1e-12);
    ExpectNear(three.PixelAt(0, 1), Mean(lens, 0, 0, 0, 255), 1e-12);

    // Spread 14/3 in a 4 x 4 kernel: the margin -18 crops the lens to 18..236.
    const CImageFroat cropped = LiteralResampleLens(lens, 4, 4.0 / (14.0 / 3.0));
    ExpectNear(cropped.PixelAt(0, 0), Mean(lens, 18, 18, 72, 72), 1e-12);
    ExpectNear(cropped.PixelAt(3, 3), Mean(lens, 183, 183, 236, 236), 1e-12);
}

TEST(LiteralLens, BilinearHandValues) {
    const CImageFroat lens = LensImage(GreyBorderLens());
    ExpectSame(LiteralSampleBilinear(lens, 17.0, 200.0), lens.PixelAt(17, 200));
    ExpectSame(LiteralSampleBilinear(lens, 255.5, 3.0), lens.PixelAt(255, 3));

    const CImageFroat big = LiteralResampleLens(lens, 300, 300.0 / (901.0 / 3.0));
    ExpectSame(big.PixelAt(0, 0), lens.PixelAt(0, 0));
    // The grey border is repeated, never replaced by black.
    EXPECT_NEAR(big.PixelAt(0, 150).r, 60 / 255.0, 1e-12);
    EXPECT_NEAR(big.PixelAt(0, 150).b, 70 / 255.0, 1e-12);
}
