// Lens kernels: the engine's resampling against the literal one, bit for
// bit, and against values worked out by hand.
#include <gtest/gtest.h>

#include <string>

#include "engine/EngineHarness.h"
#include "engine/LensResample.h"
#include "image/Conversions.h"
#include "oracle/LiteralBlur.h"
#include "oracle/LiteralLens.h"
#include "support/ImageMean.h"
#include "support/Scenes.h"

namespace {

// The lens as the engine holds it after the program's conversion.
CImageFroat EngineLens(const std::vector<unsigned char>& bytes) {
    BlurInput input = MakeFlatScene(1, 1, 0);
    input.lens = bytes;
    return LensFromView(ViewsOf(input).lens);
}

bool SamePixel(const FroatPixel& a, const FroatPixel& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

// Empty when both kernels are identical, otherwise where they first differ.
std::string KernelDifference(const CImageFroat& engine, const CImageFroat& oracle) {
    if (engine.width != oracle.width || engine.height != oracle.height)
        return "size " + std::to_string(engine.width) + "x" + std::to_string(engine.height);
    for (int y = 0; y < oracle.height; y++)
        for (int x = 0; x < oracle.width; x++)
            if (!SamePixel(engine.PixelAt(x, y), oracle.PixelAt(x, y)))
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    return "";
}

// Mean of the lens over canvas columns c0..c1 and rows k0..k1, the canvas
// holding the lens at offset pad and repeating its edges around it.
FroatPixel CanvasMean(const CImageFroat& lens, int pad, int c0, int c1, int k0, int k1) {
    return Mean(lens, c0 - pad, k0 - pad, c1 - pad, k1 - pad);
}

void ExpectNear(const FroatPixel& a, const FroatPixel& b, const char* what) {
    EXPECT_NEAR(a.r, b.r, 1e-12) << what;
    EXPECT_NEAR(a.g, b.g, 1e-12) << what;
    EXPECT_NEAR(a.b, b.b, 1e-12) << what;
    EXPECT_NEAR(a.a, b.a, 1e-12) << what;
}

struct NamedLens {
    const char* name;
    std::vector<unsigned char> (*make)();
};
const NamedLens kLenses[] = {{"disc", DiscLens},     {"grey border", GreyBorderLens}, {"no blue", NoBlueLens},
                             {"ring", RingLens},     {"lopsided", LopsidedLens}};

}  // namespace

TEST(LensConversion, EngineLensEqualsTheLiteralOne) {
    for (const NamedLens& l : kLenses) {
        BlurInput input = MakeFlatScene(1, 1, 0);
        input.lens = l.make();
        EXPECT_EQ(KernelDifference(EngineLens(input.lens), LiteralBlur(input).lens), "") << l.name;
    }
}

TEST(LensResample, MatchesTheLiteralFilterBitForBit) {
    // (dimension, spread) as the first pass pairs them, plus the plain cases.
    const struct {
        int n;
        double spread;
    } cases[] = {{1, 1.0},           {3, 1.0},         {3, 4.0 / 3.0},    {3, 8.0 / 3.0},    {4, 3.0},
                 {4, 14.0 / 3.0},    {6, 5.0},         {6, 17.0 / 3.0},   {16, 16.0},        {80, 80.0},
                 {256, 256.0},       {256, 769.0 / 3}, {300, 901.0 / 3.0}, {302, 905.0 / 3.0}, {300, 300.0}};
    for (const NamedLens& l : kLenses) {
        const CImageFroat lens = EngineLens(l.make());
        for (const auto& c : cases) {
            const double scale = static_cast<double>(c.n) / c.spread;
            EXPECT_EQ(KernelDifference(ResampleLens(lens, c.n, scale), LiteralResampleLens(lens, c.n, scale)), "")
                << l.name << ", n " << c.n << ", spread " << c.spread;
        }
    }
}

TEST(LensResample, BoxFilterHandValues) {
    const CImageFroat lens = EngineLens(LopsidedLens());

    const CImageFroat one = ResampleLens(lens, 1, 1.0);
    ASSERT_EQ(one.width, 1);
    ASSERT_EQ(one.height, 1);
    ExpectNear(one.PixelAt(0, 0), Mean(lens, 0, 0, 255, 255), "mean of the lens");

    const CImageFroat same = ResampleLens(lens, 256, 1.0);
    EXPECT_EQ(KernelDifference(same, lens), "");

    const CImageFroat three = ResampleLens(lens, 3, 3.0);
    ExpectNear(three.PixelAt(1, 1), Mean(lens, 0, 0, 255, 255), "centre");
    ExpectNear(three.PixelAt(0, 0), lens.PixelAt(0, 0), "top left corner");
    ExpectNear(three.PixelAt(2, 0), lens.PixelAt(255, 0), "top right corner");
    ExpectNear(three.PixelAt(0, 2), lens.PixelAt(0, 255), "bottom left corner");
    ExpectNear(three.PixelAt(2, 2), lens.PixelAt(255, 255), "bottom right corner");
    ExpectNear(three.PixelAt(1, 0), Mean(lens, 0, 0, 255, 0), "top edge");
    ExpectNear(three.PixelAt(2, 1), Mean(lens, 255, 0, 255, 255), "right edge");

    // Spread 5 in 6 x 6: canvas 307, margin 25, bins 307 / 6 wide.
    const CImageFroat six = ResampleLens(lens, 6, 1.2);
    ExpectNear(six.PixelAt(2, 3), Mean(lens, 103 - 25, 154 - 25, 153 - 25, 204 - 25), "inner bin");
    const CImageFroat grey = EngineLens(GreyBorderLens());
    const CImageFroat sixGrey = ResampleLens(grey, 6, 1.2);
    ExpectNear(sixGrey.PixelAt(0, 0), CanvasMean(grey, 25, 0, 51, 0, 51), "margin repeats the edge");
    ExpectNear(sixGrey.PixelAt(5, 2), CanvasMean(grey, 25, 256, 306, 103, 153), "right margin");

    // Spread 14/3 in 4 x 4: the margin is -18 (truncated toward zero), bins 54.75 wide.
    const CImageFroat four = ResampleLens(lens, 4, 4.0 / (14.0 / 3.0));
    ExpectNear(four.PixelAt(0, 0), Mean(lens, 18, 18, 72, 72), "cropped corner");
    ExpectNear(four.PixelAt(3, 1), Mean(lens, 183, 73, 236, 127), "cropped edge");
}

// Scales the first pass never uses: the bilinear filter's offset o is then
// not 0, and the box filter's margins are wide.
TEST(LensResample, OtherScalesMatchTheLiteralFilter) {
    const struct {
        int n;
        double scale;
    } cases[] = {{300, 0.5}, {301, 0.7}, {5, 0.9}, {7, 2.5}, {2, 1.0}};
    const CImageFroat lens = EngineLens(LopsidedLens());
    for (const auto& c : cases)
        EXPECT_EQ(KernelDifference(ResampleLens(lens, c.n, c.scale), LiteralResampleLens(lens, c.n, c.scale)), "")
            << "n " << c.n << ", scale " << c.scale;

    // n - n / scale = -129: halved toward zero, the offset is 64, not 65.
    const CImageFroat shifted = ResampleLens(lens, 301, 0.7);
    const double step = (256.0 / 301.0) * 0.7;
    EXPECT_TRUE(SamePixel(shifted.PixelAt(0, 0), SampleBilinear(lens, 64 * step, 64 * step)));
    EXPECT_TRUE(SamePixel(shifted.PixelAt(10, 3), SampleBilinear(lens, 74 * step, 67 * step)));
}

TEST(LensResample, BilinearHandValues) {
    const CImageFroat lens = EngineLens(GreyBorderLens());
    EXPECT_TRUE(SamePixel(SampleBilinear(lens, 17.0, 200.0), lens.PixelAt(17, 200)));
    EXPECT_TRUE(SamePixel(SampleBilinear(lens, 255.5, 40.0), lens.PixelAt(255, 40)));
    EXPECT_TRUE(SamePixel(SampleBilinear(lens, -3.0, 300.0), lens.PixelAt(0, 255)));

    const CImageFroat big = ResampleLens(lens, 300, 300.0 / (901.0 / 3.0));
    ASSERT_EQ(big.width, 300);
    EXPECT_TRUE(SamePixel(big.PixelAt(0, 0), lens.PixelAt(0, 0)));

    // The last column samples x of about 255.43: its right tap is column 255 again.
    const CImageFroat wide = ResampleLens(lens, 302, 302.0 / (905.0 / 3.0));
    const double step = (256.0 / 302.0) * (302.0 / (905.0 / 3.0));
    const double x = 301 * step;
    ASSERT_GT(x, 255.0);
    ExpectNear(wide.PixelAt(301, 0), lens.PixelAt(255, 0), "clamped right tap");
    // The grey border is repeated, never replaced by black.
    EXPECT_NEAR(wide.PixelAt(0, 150).r, 60 / 255.0, 1e-12);
    EXPECT_NEAR(wide.PixelAt(301, 301).g, 90 / 255.0, 1e-12);
}
