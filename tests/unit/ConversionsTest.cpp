#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/BlurEngine.h"
#include "image/Conversions.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(SetFromRGBA8, EveryChannelIsByteOver255InOrder) {
    CImageFroat image;
    const Bytes bytes = {255, 255, 255, 255, 0, 0, 0, 255, 1, 2, 3, 4};
    image.SetFromRGBA8(3, 1, bytes.data());
    ASSERT_EQ(image.pixelData.size(), 3u);
    EXPECT_EQ(image.pixelData[0].r, 1.0);
    EXPECT_EQ(image.pixelData[0].a, 1.0);
    EXPECT_EQ(image.pixelData[1].g, 0.0);
    EXPECT_EQ(image.pixelData[1].a, 1.0);
    EXPECT_EQ(image.pixelData[2].r, 1 / 255.0);
    EXPECT_EQ(image.pixelData[2].g, 2 / 255.0);
    EXPECT_EQ(image.pixelData[2].b, 3 / 255.0);
    EXPECT_EQ(image.pixelData[2].a, 4 / 255.0);
}

TEST(SetDepthFromBytes, ReverseInvertsAllFourChannelsInTheBuffer) {
    CBlurEngine engine;
    Bytes bytes = {0, 0, 0, 255, 255, 255, 255, 255, 64, 64, 64, 255};
    const Bytes original = bytes;
    SetDepthFromBytes(engine, 3, 1, bytes.data());
    EXPECT_EQ(bytes, original);
    EXPECT_EQ(engine.depth.pixelData[0].r, 0.0);
    EXPECT_EQ(engine.depth.pixelData[2].r, 64 / 255.0);

    engine.zReverse = true;
    SetDepthFromBytes(engine, 3, 1, bytes.data());
    EXPECT_EQ(bytes, (Bytes{255, 255, 255, 0, 0, 0, 0, 0, 191, 191, 191, 0}));
    EXPECT_EQ(engine.depth.pixelData[0].r, 1.0);
    EXPECT_EQ(engine.depth.pixelData[0].a, 0.0);
    EXPECT_EQ(engine.depth.pixelData[1].r, 0.0);
    EXPECT_EQ(engine.depth.pixelData[2].g, 191 / 255.0);
}

TEST(SetDepthFromValues, SameValueInAllChannelsUnclamped) {
    CBlurEngine engine;
    const std::vector<double> values = {0.25, 3.0, -1.5, 1.0};
    SetDepthFromValues(engine, values.data(), 2, 2);
    EXPECT_EQ(engine.depth.width, 2);
    EXPECT_EQ(engine.depth.height, 2);
    const FroatPixel& p = engine.depth.PixelAt(0, 0);
    EXPECT_EQ(p.r, 0.25);
    EXPECT_EQ(p.g, 0.25);
    EXPECT_EQ(p.b, 0.25);
    EXPECT_EQ(p.a, 0.25);
    EXPECT_EQ(engine.depth.PixelAt(1, 0).r, 3.0);
    EXPECT_EQ(engine.depth.PixelAt(0, 1).a, -1.5);

    engine.zReverse = true;
    SetDepthFromValues(engine, values.data(), 2, 2);
    EXPECT_EQ(engine.depth.PixelAt(0, 0).a, 0.75);
    EXPECT_EQ(engine.depth.PixelAt(1, 0).r, -2.0);
    EXPECT_EQ(engine.depth.PixelAt(0, 1).g, 2.5);
    EXPECT_EQ(engine.depth.PixelAt(1, 1).b, 0.0);
}

TEST(SetLensFromBytes, AlphaBecomesTheIntegerMeanOfTheColour) {
    CBlurEngine engine;
    Bytes bytes(256 * 256 * 4, 7);
    const Bytes first = {30, 60, 91, 0, 1, 1, 2, 200, 255, 0, 0, 255, 255, 255, 255, 0};
    std::copy(first.begin(), first.end(), bytes.begin());
    SetLensFromBytes(engine, bytes.data());
    EXPECT_EQ(bytes[3], 60);
    EXPECT_EQ(bytes[7], 1);
    EXPECT_EQ(bytes[11], 85);
    EXPECT_EQ(bytes[15], 255);
    ASSERT_EQ(engine.lens.width, 256);
    ASSERT_EQ(engine.lens.height, 256);
    EXPECT_EQ(engine.lens.pixelData[0].a, 60 / 255.0);
    EXPECT_EQ(engine.lens.pixelData[0].b, 91 / 255.0);
    EXPECT_EQ(engine.lens.pixelData[1].a, 1 / 255.0);
    EXPECT_EQ(engine.lens.pixelData[3].a, 1.0);
    EXPECT_EQ(engine.lens.pixelData[65535].a, 7 / 255.0);
}

TEST(ResultToBytes, ScalesBy256AndTruncates) {
    EXPECT_EQ(ChannelToByte(0.5), 128);
    EXPECT_EQ(ChannelToByte(0.00390625), 1);
    EXPECT_EQ(ChannelToByte(0.0039), 0);
    EXPECT_EQ(ChannelToByte(0.99999), 255);
    EXPECT_EQ(ChannelToByte(0.0), 0);
    EXPECT_EQ(ChannelToByte(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(ChannelToByte(-std::numeric_limits<double>::quiet_NaN()), 0);
    for (int b = 0; b <= 254; ++b) EXPECT_EQ(ChannelToByte(b / 255.0), b) << b;

    CBlurEngine engine;
    engine.source.Resize(2, 2, FroatPixel{});
    engine.result.Resize(2, 2, FroatPixel{});
    engine.result.SetPixel(0, 0, FroatPixel{0.5, 0.00390625, 0.99999, 0.0});
    engine.result.SetPixel(1, 0, FroatPixel{std::nan(""), 0.25, 0.75, 0.5});
    engine.result.SetPixel(0, 1, FroatPixel{10 / 255.0, 20 / 255.0, 30 / 255.0, 40 / 255.0});
    Bytes bytes(16, 99);
    ResultToBytes(engine, bytes.data());
    EXPECT_EQ(bytes, (Bytes{128, 1, 255, 0, 0, 64, 192, 128, 10, 20, 30, 40, 0, 0, 0, 0}));
    EXPECT_EQ(ResultPixel(engine, 5, -3).g, 0.25);
}

}  // namespace
