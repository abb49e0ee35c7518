#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "image/Conversions.h"
#include "image/SrgbBytes.h"

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

TEST(DepthFromView, FirstChannelOverByteAndReverseFromTheOtherEnd) {
    const Bytes bytes = {0, 9, 9, 255, 255, 9, 9, 255, 64, 9, 9, 255};
    const dof::ImageView view(bytes.data(), 3, 1, 4, dof::SampleType::kUInt8);
    const UnfilledArray<double> plain = DepthFromView(view, false);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0], 0.0);
    EXPECT_EQ(plain[1], 1.0);
    EXPECT_EQ(plain[2], 64 / 255.0);
    const UnfilledArray<double> reversed = DepthFromView(view, true);
    EXPECT_EQ(reversed[0], 1.0);
    EXPECT_EQ(reversed[1], 0.0);
    EXPECT_EQ(reversed[2], 191 / 255.0);  // (255 - b) / 255, not 1 - b / 255
}

TEST(DepthFromView, ValuesAreTakenUnclampedAndReversedAsOneMinus) {
    const std::vector<double> values = {0.25, 3.0, -1.5, 1.0};
    const dof::ImageView view(values.data(), 2, 2, 1, dof::SampleType::kFloat64);
    const UnfilledArray<double> plain = DepthFromView(view, false);
    EXPECT_EQ(std::vector<double>(plain.begin(), plain.end()), values);
    const UnfilledArray<double> reversed = DepthFromView(view, true);
    EXPECT_EQ(std::vector<double>(reversed.begin(), reversed.end()), (std::vector<double>{0.75, -2.0, 2.5, 0.0}));
    const std::vector<float> floats = {0.5f, 2.0f};
    const UnfilledArray<double> fromFloat =
        DepthFromView(dof::ImageView(floats.data(), 2, 1, 1, dof::SampleType::kFloat32), false);
    EXPECT_EQ(fromFloat[0], 0.5);
    EXPECT_EQ(fromFloat[1], 2.0);
}

TEST(LensFromView, AlphaBecomesTheIntegerMeanOfTheColour) {
    Bytes bytes(256 * 256 * 4, 7);
    const Bytes first = {30, 60, 91, 0, 1, 1, 2, 200, 255, 0, 0, 255, 255, 255, 255, 0};
    std::copy(first.begin(), first.end(), bytes.begin());
    const CImageFroat lens = LensFromView(dof::ImageView(bytes.data(), 256, 256, 4, dof::SampleType::kUInt8));
    ASSERT_EQ(lens.width, 256);
    ASSERT_EQ(lens.height, 256);
    EXPECT_EQ(lens.pixelData[0].a, 60 / 255.0);
    EXPECT_EQ(lens.pixelData[0].b, 91 / 255.0);
    EXPECT_EQ(lens.pixelData[1].a, 1 / 255.0);
    EXPECT_EQ(lens.pixelData[2].a, 85 / 255.0);
    EXPECT_EQ(lens.pixelData[3].a, 1.0);
    EXPECT_EQ(lens.pixelData[65535].a, 7 / 255.0);
}

// 8-bit RGB and RGBA are read where they lie; grey and float pictures are
// converted, float colour from linear light to sRGB.
TEST(ColourFromView, BorrowsBytesAndConvertsTheRest) {
    const Bytes rgb = {10, 20, 30, 40, 50, 60, 0, 0, 70, 80, 90, 100, 110, 120, 0, 0};
    const ColourBytes borrowed = ColourFromView(dof::ImageView(rgb.data(), 2, 2, 3, dof::SampleType::kUInt8, 8));
    EXPECT_EQ(borrowed.pixels, rgb.data());
    EXPECT_EQ(borrowed.rowStride, 8);
    EXPECT_EQ(borrowed.pixelBytes, 3);
    EXPECT_TRUE(borrowed.owned.empty());

    const Bytes grey = {0, 255, 128, 7};
    const ColourBytes fromGrey = ColourFromView(dof::ImageView(grey.data(), 2, 1, 2, dof::SampleType::kUInt8));
    EXPECT_EQ(Bytes(fromGrey.pixels, fromGrey.pixels + 8), (Bytes{0, 0, 0, 255, 128, 128, 128, 7}));

    const std::vector<float> linear = {0.0f, 0.21586f, 1.0f, 0.5f, 4.0f, -1.0f, std::nanf(""), 2.0f};
    const ColourBytes fromFloat = ColourFromView(dof::ImageView(linear.data(), 2, 1, 4, dof::SampleType::kFloat32));
    // 0.21586 is sRGB 128 / 255; alpha is only clipped; NaN gives 0.
    EXPECT_EQ(Bytes(fromFloat.pixels, fromFloat.pixels + 8), (Bytes{0, 128, 255, 128, 255, 0, 0, 255}));
}

// The table of linear floats to 8-bit sRGB against the formula: at every
// step of the value and 40 floats either side, and at a stride through all
// floats below 1.5.
TEST(SrgbBytes, TheTableGivesTheFormulasBytes) {
    const SrgbBytes& table = SrgbBytes::Get();
    auto bits = [](float v) {
        std::uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    auto fromBits = [](std::uint32_t b) {
        float v;
        std::memcpy(&v, &b, sizeof v);
        return v;
    };
    for (std::uint32_t b = 1; b < bits(1.5f); b += 61) ASSERT_EQ(table.Byte(fromBits(b)), SrgbBytes::ByFormula(fromBits(b)));
    // Each step, found by bisection between strided floats whose values differ.
    int steps = 0;
    for (std::uint32_t b = 1 << 20; b < bits(1.0f); b += 1 << 12) {
        std::uint32_t lo = b - (1 << 12), hi = b;
        if (SrgbBytes::ByFormula(fromBits(lo)) == SrgbBytes::ByFormula(fromBits(hi))) continue;
        while (hi - lo > 1) {
            const std::uint32_t mid = lo + (hi - lo) / 2;
            (SrgbBytes::ByFormula(fromBits(mid)) == SrgbBytes::ByFormula(fromBits(lo)) ? lo : hi) = mid;
        }
        ++steps;
        for (std::uint32_t near = hi - 40; near <= hi + 40; ++near)
            ASSERT_EQ(table.Byte(fromBits(near)), SrgbBytes::ByFormula(fromBits(near))) << fromBits(near);
    }
    EXPECT_GE(steps, 255);
    EXPECT_EQ(table.Byte(std::nanf("")), 0);
    EXPECT_EQ(table.Byte(-1.0f), 0);
    EXPECT_EQ(table.Byte(std::numeric_limits<float>::infinity()), 255);
}

TEST(ChannelToByte, ScalesBy256AndTruncates) {
    EXPECT_EQ(ChannelToByte(0.5), 128);
    EXPECT_EQ(ChannelToByte(0.00390625), 1);
    EXPECT_EQ(ChannelToByte(0.0039), 0);
    EXPECT_EQ(ChannelToByte(0.99999), 255);
    EXPECT_EQ(ChannelToByte(0.0), 0);
    EXPECT_EQ(ChannelToByte(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(ChannelToByte(-std::numeric_limits<double>::quiet_NaN()), 0);
    for (int b = 0; b <= 254; ++b) EXPECT_EQ(ChannelToByte(b / 255.0), b) << b;
}

}  // namespace
