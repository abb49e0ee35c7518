// Pictures through every file format and bit depth the library writes, and
// back: exact for integer formats and float, within half precision for half
// OpenEXR, and in every case the same 8-bit values for the exact blur.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <dof/dof.h>

#include "image/Conversions.h"
#include "support/TestFiles.h"

namespace {

// 17 x 9 pixels of every channel count, with every byte value among them.
dof::Image Pattern(int channels) {
    dof::Image picture(17, 9, channels, dof::SampleType::kUInt8);
    for (std::size_t i = 0; i < picture.ByteCount(); ++i) picture.Data()[i] = static_cast<unsigned char>(i * 37 + i / 5);
    return picture;
}

float SampleF(const dof::Image& image, std::size_t i) {
    float v;
    std::memcpy(&v, image.Data() + 4 * i, sizeof v);
    return v;
}

TEST(Formats, EveryFormatAndBitDepthReadsBack) {
    const struct {
        const char* name;
        int bits;
        dof::SampleType read;  // what the file reads back as
    } cases[] = {
        {"out.tga", 0, dof::SampleType::kUInt8},    {"out.png", 8, dof::SampleType::kUInt8},
        {"out.png", 16, dof::SampleType::kUInt16},  {"out.tif", 8, dof::SampleType::kUInt8},
        {"out.TIFF", 16, dof::SampleType::kUInt16}, {"out.tif", 32, dof::SampleType::kFloat32},
        {"out.exr", 16, dof::SampleType::kFloat32}, {"out.exr", 32, dof::SampleType::kFloat32},
    };
    testfiles::TempDir dir;
    for (const int channels : {1, 2, 3, 4}) {
        const dof::Image picture = Pattern(channels);
        for (const auto& c : cases) {
            const std::string what = std::string(c.name) + " " + std::to_string(c.bits) + " bits, " +
                                     std::to_string(channels) + " channels";
            dof::WriteOptions options;
            options.bitDepth = c.bits;
            ASSERT_FALSE(dof::WriteImage(dir.File(c.name), picture, options)) << what;
            const dof::Result<dof::Image> back = dof::ReadImage(dir.File(c.name));
            ASSERT_TRUE(back) << what << ": " << back.error().message;
            const dof::Image& read = back.value();
            ASSERT_EQ(read.Type(), c.read) << what;
            // TGA holds RGBA whatever it is given.
            const bool tga = std::string(c.name) == "out.tga";
            ASSERT_EQ(read.Channels(), tga ? 4 : channels) << what;
            ASSERT_EQ(read.Width(), 17);
            if (!tga) {
                const dof::Image expected = ConvertSamples(picture, c.read);
                for (std::size_t i = 0; i < picture.ByteCount(); ++i) {
                    if (c.read != dof::SampleType::kFloat32) {
                        ASSERT_EQ(std::memcmp(read.Data(), expected.Data(), expected.ByteCount()), 0) << what;
                        break;
                    }
                    const float want = SampleF(expected, i);
                    const float tolerance = c.bits == 16 ? std::ldexp(std::fabs(want), -10) : 0.0f;
                    ASSERT_NEAR(SampleF(read, i), want, tolerance) << what << " sample " << i;
                }
            }
            // What the exact blur takes from the file: the same bytes as before.
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 17; ++x) {
                    unsigned char was[4], is[4];
                    PixelToRgba8(picture, x, y, was);
                    PixelToRgba8(read, x, y, is);
                    ASSERT_EQ(std::memcmp(was, is, 4), 0) << what << " at " << x << ", " << y;
                }
        }
    }
}

TEST(Formats, BitDepthsAFormatDoesNotHoldAreRefused) {
    testfiles::TempDir dir;
    const dof::Image picture = Pattern(4);
    EXPECT_TRUE(dof::TakesBitDepth("a.exr", 32));
    EXPECT_FALSE(dof::TakesBitDepth("a.png", 32));
    EXPECT_FALSE(dof::TakesBitDepth("a.tga", 16));
    EXPECT_FALSE(dof::TakesBitDepth("a.exr", 8));
    dof::WriteOptions options;
    options.bitDepth = 12;
    EXPECT_EQ(dof::WriteImage(dir.File("a.tif"), picture, options).code, dof::ErrorCode::kInvalidImage);
    EXPECT_TRUE(testfiles::ListDirectory(dir.Path()).empty());
}

}  // namespace
