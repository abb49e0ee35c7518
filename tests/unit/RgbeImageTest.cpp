#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "image/RgbeImage.h"
#include "support/TestFiles.h"

namespace {

using testfiles::Bytes;
using testfiles::MakeRgbe;
using testfiles::RgbeHeader;
using testfiles::RgbeLayout;

enum class Outcome { HeaderRefused, LoadRefused, Loaded };

// Parses and loads a copy of bytes held in a buffer of exactly their size.
Outcome Decode(RgbeImage& image, const Bytes& bytes) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    if (!image.ParseHeader(data.get(), bytes.size())) return Outcome::HeaderRefused;
    return image.Load(data, bytes.size()) ? Outcome::Loaded : Outcome::LoadRefused;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A w x h picture of R, G, B, E bytes with runs and literals in every plane.
Bytes Pixels(int w, int h) {
    Bytes p(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < p.size() / 4; ++i) {
        p[4 * i] = static_cast<unsigned char>(i / 5);
        p[4 * i + 1] = static_cast<unsigned char>(i * 37);
        p[4 * i + 2] = static_cast<unsigned char>(i % 3 ? 9 : i);
        p[4 * i + 3] = static_cast<unsigned char>(120 + i / 50);
    }
    return p;
}

double Value(unsigned char m, unsigned char e) { return std::ldexp(m / 255.0, e - 128); }

void ExpectPixels(const RgbeImage& image, const Bytes& rgbe) {
    ASSERT_EQ(image.rgb.size(), rgbe.size() / 4 * 3);
    for (std::size_t i = 0; i < rgbe.size() / 4; ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(image.rgb[3 * i + c], Value(rgbe[4 * i + c], rgbe[4 * i + 3])) << "pixel " << i << " channel " << c;
}

TEST(RgbeHeader, AcceptsLfAndCrlfHeadersWithExtraLinesInAnyOrder) {
    const Bytes pixels = Pixels(300, 4);
    for (bool crlf : {false, true}) {
        RgbeLayout layout;
        layout.crlf = crlf;
        layout.extraLines = {"# made by a test", "EXPOSURE=1.0", "SOFTWARE=generator 2.1", "GAMMA=1"};
        RgbeImage image;
        ASSERT_EQ(Decode(image, MakeRgbe(300, 4, pixels, layout)), Outcome::Loaded) << crlf;
        EXPECT_STREQ(image.programType, "RADIANCE");
        EXPECT_STREQ(image.format, "32-bit_rle_rgbe");
        EXPECT_EQ(image.width, 300);
        EXPECT_EQ(image.height, 4);
        EXPECT_EQ(image.scanlineLength, 300);
        EXPECT_EQ(image.scanlineCount, 4);
        ExpectPixels(image, pixels);
    }
    // FORMAT before the other lines, and a CR LF blank line after LF lines.
    const Bytes header = Text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\r\n# note\n\r\n-Y 2 +X 3\n");
    const Bytes rgbe = Pixels(3, 2);
    Bytes file = header;
    for (int k = 0; k < 2; ++k) file = Concat(file, testfiles::EncodeRgbeScanline(&rgbe[k * 12], 3));
    RgbeImage image;
    ASSERT_EQ(Decode(image, file), Outcome::Loaded);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    ExpectPixels(image, rgbe);
}

TEST(RgbeHeader, RefusesOtherProgramsFormatsAndResolutions) {
    const Bytes pixels = Pixels(3, 2);
    auto outcome = [&](RgbeLayout layout) {
        RgbeImage image;
        return Decode(image, MakeRgbe(3, 2, pixels, layout));
    };
    RgbeLayout layout;
    layout.programType = "RGBE";
    EXPECT_EQ(outcome(layout), Outcome::HeaderRefused);
    layout.programType = "radiance";
    EXPECT_EQ(outcome(layout), Outcome::HeaderRefused);
    layout = RgbeLayout{};
    layout.format = "32-bit_rle_xyze";
    EXPECT_EQ(outcome(layout), Outcome::HeaderRefused);
    for (const char* resolution : {"-Y 2 +X 0", "-Y 0 +X 3", "-Y -2 +X 3", "-Y 2", "+X 3", "-y 2 +x 3", "2 3",
                                   "+X 3 -Y 2", "-X 3 +Y 2"}) {
        layout = RgbeLayout{};
        layout.resolution = resolution;
        EXPECT_EQ(outcome(layout), Outcome::HeaderRefused) << '"' << resolution << '"';
    }
    RgbeImage image;
    EXPECT_FALSE(image.ParseHeader(nullptr, 0));
    const Bytes noMagic = Text("RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 1\n");
    EXPECT_FALSE(image.ParseHeader(noMagic.data(), noMagic.size()));
    // No FORMAT line at all.
    const Bytes noFormat = Text("#?RADIANCE\n\n-Y 1 +X 1\n");
    EXPECT_FALSE(image.ParseHeader(noFormat.data(), noFormat.size()));
}

TEST(RgbeHeader, TextLongerThan63CharactersIsRefused) {
    RgbeLayout layout;
    layout.programType = "RADIANCE" + std::string(60, ' ');
    RgbeImage image;
    EXPECT_EQ(Decode(image, MakeRgbe(1, 1, Pixels(1, 1), layout)), Outcome::HeaderRefused);
    layout = RgbeLayout{};
    layout.format = std::string(200, 'f');
    EXPECT_EQ(Decode(image, MakeRgbe(1, 1, Pixels(1, 1), layout)), Outcome::HeaderRefused);
    // Two "#?" lines append to one text.
    layout = RgbeLayout{};
    layout.extraLines = {"#?" + std::string(40, 'a'), "#?" + std::string(40, 'b')};
    EXPECT_EQ(Decode(image, MakeRgbe(1, 1, Pixels(1, 1), layout)), Outcome::HeaderRefused);
    EXPECT_LE(std::strlen(image.programType), 63u);
    EXPECT_LE(std::strlen(image.format), 63u);
}

TEST(RgbeHeader, ResolutionWithLeadingSpacesAndSigns) {
    RgbeLayout layout;
    layout.resolution = "-Y   2 +X  +3";
    RgbeImage image;
    EXPECT_EQ(Decode(image, MakeRgbe(3, 2, Pixels(3, 2), layout)), Outcome::Loaded);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
}

TEST(RgbeDecode, MantissaTimesPowerOfTwo) {
    const Bytes pixels = {255, 0, 51, 128, 255, 255, 255, 129, 255, 255, 255, 127, 255, 1, 0, 0, 128, 64, 2, 140};
    RgbeImage image;
    ASSERT_EQ(Decode(image, MakeRgbe(5, 1, pixels)), Outcome::Loaded);
    const std::vector<double> expected = {1.0, 0.0, 0.2, 2.0, 2.0, 2.0, 0.5, 0.5, 0.5, std::ldexp(1.0, -128),
                                          std::ldexp(1 / 255.0, -128), 0.0, 128 / 255.0 * 4096, 64 / 255.0 * 4096,
                                          2 / 255.0 * 4096};
    ASSERT_EQ(image.rgb.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(image.rgb[i], expected[i]) << i;

    std::vector<double> means(5);
    image.ComputeMeans(means.data());
    EXPECT_EQ(means[0], ((0.0 + 1.0) + 0.2) / 3.0);
    EXPECT_EQ(means[1], 2.0);
    EXPECT_EQ(means[2], 0.5);
}

TEST(RgbeDecode, PositiveYKeepsFileOrder) {
    const Bytes pixels = Pixels(3, 2);
    RgbeLayout layout;
    layout.resolution = "+Y 2 +X 3";
    RgbeImage image;
    ASSERT_EQ(Decode(image, MakeRgbe(3, 2, pixels, layout)), Outcome::Loaded);
    ExpectPixels(image, pixels);
}

// Builds a one-scanline file from hand-made plane codes.
Bytes OneScanline(int length, const Bytes& planes) {
    RgbeLayout layout;
    Bytes file = RgbeHeader(length, 1, layout);
    file.insert(file.end(), {2, 2, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length & 0xff)});
    return Concat(file, planes);
}

TEST(RgbeDecode, Code128IsALiteralOf128AndCode129ARunOfOne) {
    Bytes planes;
    planes.push_back(128);  // R: 128 literal bytes
    for (int x = 0; x < 128; ++x) planes.push_back(static_cast<unsigned char>(2 * x));
    for (int x = 0; x < 128; ++x) planes.insert(planes.end(), {129, static_cast<unsigned char>(x)});  // G: runs of 1
    planes.insert(planes.end(), {255, 7, 129, 8});  // B: a run of 127 and a run of 1
    planes.insert(planes.end(), {128 + 100, 128, 28});  // E: a run of 100, then 28 literals
    for (int x = 0; x < 28; ++x) planes.push_back(129);
    RgbeImage image;
    ASSERT_EQ(Decode(image, OneScanline(128, planes)), Outcome::Loaded);
    EXPECT_EQ(image.rgb[3 * 5], 10 / 255.0);
    EXPECT_EQ(image.rgb[3 * 127], 254 / 255.0 * 2);  // E is 129 from pixel 100 on
    EXPECT_EQ(image.rgb[3 * 6 + 1], 6 / 255.0);
    EXPECT_EQ(image.rgb[3 * 99 + 2], 7 / 255.0);
    EXPECT_EQ(image.rgb[3 * 126 + 2], 7 / 255.0 * 2);
    EXPECT_EQ(image.rgb[3 * 127 + 2], 8 / 255.0 * 2);
    EXPECT_EQ(image.rgb[3 * 99 + 1], 99 / 255.0);
    EXPECT_EQ(image.rgb[3 * 100 + 1], 100 / 255.0 * 2);
}

TEST(RgbeDecode, RunOrLiteralPastTheScanlineEndIsRefused) {
    const Bytes fill = {132, 1, 132, 1, 132, 1};  // G, B, E: runs of 4
    RgbeImage image;
    EXPECT_EQ(Decode(image, OneScanline(4, Concat({132, 1}, fill))), Outcome::Loaded);
    EXPECT_EQ(Decode(image, OneScanline(4, Concat({133, 1}, fill))), Outcome::LoadRefused);
    EXPECT_EQ(Decode(image, OneScanline(4, Concat({5, 1, 2, 3, 4, 5}, fill))), Outcome::LoadRefused);
    EXPECT_EQ(Decode(image, OneScanline(4, Concat({2, 1, 2, 131, 3}, fill))), Outcome::LoadRefused);
    // Overshooting in the last plane, where nothing follows.
    EXPECT_EQ(Decode(image, OneScanline(4, {132, 1, 132, 1, 132, 1, 3, 1, 1, 1, 2, 1, 1})), Outcome::LoadRefused);
}

TEST(RgbeDecode, WrongEmbeddedLengthIsRefused) {
    const Bytes pixels = Pixels(6, 2);
    Bytes file = MakeRgbe(6, 2, pixels);
    const std::size_t first = RgbeHeader(6, 2).size();
    file[first + 3] = 7;
    RgbeImage image;
    EXPECT_EQ(Decode(image, file), Outcome::LoadRefused);
}

TEST(RgbeDecode, EveryTruncationIsRefused) {
    RgbeLayout layout;
    layout.crlf = true;
    const Bytes file = MakeRgbe(140, 3, Pixels(140, 3), layout);
    for (std::size_t size = 0; size < file.size(); ++size) {
        RgbeImage image;
        EXPECT_NE(Decode(image, Bytes(file.begin(), file.begin() + size)), Outcome::Loaded) << "size " << size;
    }
    RgbeImage image;
    EXPECT_EQ(Decode(image, file), Outcome::Loaded);
}

TEST(RgbeDecode, HugeResolutionInATinyFileIsRefusedQuickly) {
    RgbeLayout layout;
    layout.resolution = "-Y 65535 +X 65535";
    Bytes file = RgbeHeader(0, 0, layout);
    file.resize(100, 0xff);
    for (const char* resolution : {"-Y 65535 +X 65535", "-Y 2147483647 +X 2147483647", "-Y 99999999999 +X 1"}) {
        layout.resolution = resolution;
        Bytes hostile = RgbeHeader(0, 0, layout);
        hostile.insert(hostile.end(), {2, 2, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
        const auto start = std::chrono::steady_clock::now();
        RgbeImage image;
        EXPECT_NE(Decode(image, hostile), Outcome::Loaded) << resolution;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.05);
    }
    RgbeImage image;
    EXPECT_NE(Decode(image, file), Outcome::Loaded);
}

}  // namespace
