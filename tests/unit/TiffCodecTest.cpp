#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "image/Codecs.h"
#include "image/TiffWriter.h"

namespace {

using dof::SampleType;

// Samples that differ everywhere; floats include NaN, -0, denormals and
// infinities, which must come back bit for bit.
dof::Image Picture(int width, int height, int channels, SampleType type) {
    dof::Image picture(width, height, channels, type);
    const std::size_t samples = picture.ByteCount() / dof::SampleBytes(type);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 1e-42f,
                              -std::numeric_limits<float>::infinity()};
    for (std::size_t i = 0; i < samples; ++i) {
        const auto value = static_cast<std::uint32_t>(i * 2654435761u >> 9);
        if (type == SampleType::kUInt8) {
            picture.Data()[i] = static_cast<unsigned char>(value);
        } else if (type == SampleType::kUInt16) {
            const auto sample = static_cast<std::uint16_t>(value);
            std::memcpy(picture.Data() + 2 * i, &sample, 2);
        } else {
            const float sample = i % 5 == 0 ? specials[i / 5 % 4] : static_cast<float>(value) / 4096.0f - 3.0f;
            std::memcpy(picture.Data() + 4 * i, &sample, 4);
        }
    }
    return picture;
}

std::vector<unsigned char> Write(const dof::ImageView& picture, const TiffWriteOptions& options = {}) {
    std::vector<unsigned char> file;
    std::string reason;
    EXPECT_TRUE(EncodeTiffWith(picture, options, file, reason)) << reason;
    return file;
}

DecodeResult Decode(const std::vector<unsigned char>& file, dof::Image& image, const DecodeLimits& limits = {}) {
    return DecodeTiff(file.data(), file.size(), limits, image);
}

bool SameSamples(const dof::Image& a, const dof::Image& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.Channels() == b.Channels() &&
           a.Type() == b.Type() && std::memcmp(a.Data(), b.Data(), a.ByteCount()) == 0;
}

// Sets a single-valued tag in the first directory of a classic little-endian file.
void PatchTag(std::vector<unsigned char>& file, std::uint16_t tag, std::uint16_t value) {
    const auto read = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | file[at + i];
        return v;
    };
    const std::size_t directory = read(4, 4);
    for (std::size_t i = 0; i < read(directory, 2); ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (read(entry, 2) != tag) continue;
        file[entry + 8] = static_cast<unsigned char>(value);
        file[entry + 9] = static_cast<unsigned char>(value >> 8);
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

TEST(TiffCodecTest, EverySampleTypeAndChannelCountRoundTripsExactly) {
    for (const SampleType type : {SampleType::kUInt8, SampleType::kUInt16, SampleType::kFloat32}) {
        for (int channels = 1; channels <= 4; ++channels) {
            // Several strips of about 64 KiB.
            const dof::Image picture = Picture(301, 97, channels, type);
            std::vector<unsigned char> file;
            std::string reason;
            ASSERT_TRUE(EncodeTiff(picture, file, reason)) << reason;
            dof::Image decoded;
            ASSERT_EQ(Decode(file, decoded).status, DecodeStatus::kDecoded);
            EXPECT_TRUE(SameSamples(decoded, picture)) << static_cast<int>(type) << " " << channels;
        }
    }
    std::vector<unsigned char> file;
    std::string reason;
    EXPECT_FALSE(EncodeTiff(dof::Image(2, 2, 1, SampleType::kFloat64), file, reason));
    EXPECT_FALSE(reason.empty());
}

TEST(TiffCodecTest, LayoutsOfOnePictureDecodeAlikeAndPeekAgrees) {
    TiffWriteOptions planar, tiled, tiledPlanar, bigEndian, bigTiff, bigTiffBigEndian, lzw, packBits, raw, bottomUp;
    planar.planar = tiledPlanar.planar = true;
    tiled.tileSide = tiledPlanar.tileSide = 16;
    bigEndian.byteOrder = bigTiffBigEndian.byteOrder = 'b';
    bigTiff.bigTiff = bigTiffBigEndian.bigTiff = true;
    lzw.compression = COMPRESSION_LZW;
    packBits.compression = COMPRESSION_PACKBITS;
    raw.compression = COMPRESSION_NONE;
    bottomUp.bottomUp = true;
    for (const SampleType type : {SampleType::kUInt8, SampleType::kUInt16, SampleType::kFloat32}) {
        const dof::Image picture = Picture(37, 21, 4, type);
        for (const TiffWriteOptions& options :
             {planar, tiled, tiledPlanar, bigEndian, bigTiff, bigTiffBigEndian, lzw, packBits, raw, bottomUp}) {
            const std::vector<unsigned char> file = Write(picture, options);
            dof::Image decoded;
            const DecodeResult result = Decode(file, decoded);
            ASSERT_EQ(result.status, DecodeStatus::kDecoded) << result.reason;
            EXPECT_TRUE(SameSamples(decoded, picture))
                << static_cast<int>(type) << options.planar << options.tileSide << options.byteOrder << options.bigTiff
                << options.compression << options.bottomUp;
            // The whole file, and any head that holds the directory, give
            // the decoded size; no head reads past its end.
            const PeekedSize whole = PeekTiff(file.data(), file.size());
            EXPECT_TRUE(whole.sized && whole.width == 37 && whole.height == 21);
            for (std::size_t size = 0; size < file.size(); ++size) {
                const std::vector<unsigned char> head(file.begin(), file.begin() + size);
                const PeekedSize peeked = PeekTiff(head.data(), head.size());
                EXPECT_TRUE(!peeked.sized || (peeked.width == 37 && peeked.height == 21));
            }
        }
    }
}

TEST(TiffCodecTest, WhiteIsZeroPaletteAndBottomLeftGiveTheirPixels) {
    // White-is-zero grey is inverted, its alpha is not.
    dof::Image grey(3, 1, 2, SampleType::kUInt8);
    const unsigned char greyAlpha[] = {0, 7, 255, 9, 100, 11};
    std::memcpy(grey.Data(), greyAlpha, sizeof greyAlpha);
    TiffWriteOptions whiteIsZero;
    whiteIsZero.photometric = PHOTOMETRIC_MINISWHITE;
    dof::Image decoded;
    ASSERT_EQ(Decode(Write(grey, whiteIsZero), decoded).status, DecodeStatus::kDecoded);
    const unsigned char inverted[] = {255, 7, 0, 9, 155, 11};
    EXPECT_EQ(std::memcmp(decoded.Data(), inverted, sizeof inverted), 0);

    // Palette indices become 16-bit RGB; a map of 8-bit values is scaled.
    dof::Image indices(3, 1, 1, SampleType::kUInt8);
    const unsigned char index[] = {0, 1, 255};
    std::memcpy(indices.Data(), index, sizeof index);
    for (const std::uint16_t largest : {60000, 255}) {
        std::vector<std::uint16_t> map(3 * 256, 0);
        map[1] = largest;          // red of 1
        map[256 + 255] = 3;        // green of 255
        map[512 + 1] = 1;          // blue of 1
        TiffWriteOptions palette;
        palette.photometric = PHOTOMETRIC_PALETTE;
        palette.colourMap = map.data();
        ASSERT_EQ(Decode(Write(indices, palette), decoded).status, DecodeStatus::kDecoded);
        ASSERT_TRUE(decoded.Channels() == 3 && decoded.Type() == SampleType::kUInt16);
        const std::uint16_t scale = largest == 255 ? 257 : 1;
        const std::uint16_t rgb[] = {0, 0, 0, static_cast<std::uint16_t>(largest * scale), 0, scale,
                                     0, static_cast<std::uint16_t>(3 * scale), 0};
        EXPECT_EQ(std::memcmp(decoded.Data(), rgb, sizeof rgb), 0) << largest;
    }

    // A file whose rows are stored bottom first comes out top first.
    dof::Image rows(2, 3, 1, SampleType::kUInt8);
    const unsigned char stored[] = {1, 2, 3, 4, 5, 6};
    std::memcpy(rows.Data(), stored, sizeof stored);
    TiffWriteOptions little;
    little.byteOrder = 'l';
    std::vector<unsigned char> file = Write(rows, little);
    PatchTag(file, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
    ASSERT_EQ(Decode(file, decoded).status, DecodeStatus::kDecoded);
    const unsigned char flipped[] = {5, 6, 3, 4, 1, 2};
    EXPECT_EQ(std::memcmp(decoded.Data(), flipped, sizeof flipped), 0);
}

TEST(TiffCodecTest, ConvertedPhotometricsComeThroughAsRgb) {
    dof::Image inks(3, 1, 4, SampleType::kUInt8);
    const unsigned char cmyk[] = {255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0};
    std::memcpy(inks.Data(), cmyk, sizeof cmyk);
    TiffWriteOptions separated;
    separated.photometric = PHOTOMETRIC_SEPARATED;
    dof::Image decoded;
    ASSERT_EQ(Decode(Write(inks, separated), decoded).status, DecodeStatus::kDecoded);
    const unsigned char rgb[] = {0, 255, 255, 0, 0, 0, 255, 255, 255};
    ASSERT_EQ(decoded.Channels(), 3);
    EXPECT_EQ(std::memcmp(decoded.Data(), rgb, sizeof rgb), 0);

    if (!TIFFIsCODECConfigured(COMPRESSION_JPEG)) return;
    dof::Image smooth(32, 32, 3, SampleType::kUInt8);
    for (std::size_t i = 0; i < smooth.ByteCount(); ++i) smooth.Data()[i] = static_cast<unsigned char>(i / 3 % 32 * 4 + 40);
    TiffWriteOptions jpeg;
    jpeg.compression = COMPRESSION_JPEG;
    jpeg.photometric = PHOTOMETRIC_YCBCR;
    ASSERT_EQ(Decode(Write(smooth, jpeg), decoded).status, DecodeStatus::kDecoded);
    ASSERT_TRUE(decoded.Width() == 32 && decoded.Height() == 32 && decoded.Channels() == 3);
    for (std::size_t i = 0; i < smooth.ByteCount(); ++i) ASSERT_NEAR(decoded.Data()[i], smooth.Data()[i], 8) << i;
}

TEST(TiffCodecTest, RefusalBySizeAllocatesNothing) {
    const std::vector<unsigned char> file = Write(Picture(37, 21, 3, SampleType::kUInt16));
    int askedWidth = 0, askedHeight = 0;
    DecodeLimits limits;
    limits.accept = [&](int width, int height) {
        askedWidth = width;
        askedHeight = height;
        return false;
    };
    dof::Image image;
    const DecodeResult result = Decode(file, image, limits);
    EXPECT_EQ(result.status, DecodeStatus::kTooLarge);
    EXPECT_TRUE(image.Empty() && image.Data() == nullptr);
    EXPECT_TRUE(askedWidth == 37 && askedHeight == 21 && result.width == 37 && result.height == 21);
}

TEST(TiffCodecTest, BrokenAndUnreadFilesFailWithAReasonAndPrintNothing) {
    TiffWriteOptions little;
    little.byteOrder = 'l';
    const std::vector<unsigned char> file = Write(Picture(9, 7, 1, SampleType::kUInt8), little);
    testing::internal::CaptureStderr();
    dof::Image image;
    // Cut anywhere before the last directory's link to the next (which may
    // go missing), the file fails.
    for (std::size_t size = 0; size + 4 < file.size(); ++size) {
        const std::vector<unsigned char> cut(file.begin(), file.begin() + size);
        const DecodeResult result = Decode(cut, image);
        EXPECT_EQ(result.status, DecodeStatus::kFailed) << size;
        EXPECT_FALSE(result.reason.empty()) << size;
    }
    const struct {
        std::uint16_t tag, value;
        const char* reason;
    } refusals[] = {{TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP, "orientation 6"},
                    {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT, "signed"},
                    {TIFFTAG_BITSPERSAMPLE, 4, "4-bit"},
                    {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_LOGLUV, "LogLuv"},
                    {TIFFTAG_STRIPOFFSETS, 60000, "strip 0 lies past the end"}};
    for (const auto& refusal : refusals) {
        std::vector<unsigned char> patched = file;
        PatchTag(patched, refusal.tag, refusal.value);
        const DecodeResult result = Decode(patched, image);
        EXPECT_EQ(result.status, DecodeStatus::kFailed);
        EXPECT_NE(result.reason.find(refusal.reason), std::string::npos) << result.reason;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
