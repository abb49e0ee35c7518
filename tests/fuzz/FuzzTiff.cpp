// The TIFF reader on arbitrary bytes, and its seeds.
#include <tiffio.h>

#include <cstring>
#include <functional>
#include <limits>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/SeedCorpus.h"
#include "image/Codecs.h"
#include "image/TiffWriter.h"

namespace {

// libtiff's global handlers print; every message must reach the handlers of
// its open file instead, so one that gets here is a broken promise.
void TrapMessage(const char*, const char*, va_list) { __builtin_trap(); }

void TrapPrintedMessages() {
    static const bool installed = [] {
        TIFFSetErrorHandler(TrapMessage);
        TIFFSetWarningHandler(TrapMessage);
        return true;
    }();
    (void)installed;
}

bool SameSamples(const dof::Image& a, const dof::Image& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.Channels() == b.Channels() &&
           a.Type() == b.Type() && std::memcmp(a.Data(), b.Data(), a.ByteCount()) == 0;
}

}  // namespace

bool FuzzTiff(const std::uint8_t* data, std::size_t size) {
    TrapPrintedMessages();
    const std::unique_ptr<unsigned char[]> file = Copy(data, size);
    const PeekedSize peeked = PeekTiff(file.get(), size);
    // A head that holds the directory gives the same size as the whole file.
    const PeekedSize headPeeked = PeekTiff(file.get(), size / 2);
    if (headPeeked.sized) Require(peeked.sized && headPeeked.width == peeked.width && headPeeked.height == peeked.height);
    DecodeLimits limits;
    limits.accept = [](int width, int height) {
        return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kFuzzPixels;
    };
    dof::Image image;
    const DecodeResult result = DecodeTiff(file.get(), size, limits, image);
    if (peeked.sized && result.width > 0) Require(peeked.width == result.width && peeked.height == result.height);
    if (result.status != DecodeStatus::kDecoded) {
        Require(image.Empty() && !result.reason.empty() == (result.status == DecodeStatus::kFailed));
        return false;
    }
    Require(image.Width() == result.width && image.Height() == result.height && !image.Empty());
    Require(image.Channels() >= 1 && image.Channels() <= 4);
    Require(image.Type() == dof::SampleType::kUInt8 || image.Type() == dof::SampleType::kUInt16 ||
            image.Type() == dof::SampleType::kFloat32);
    // Refused by its size, the same file allocates nothing.
    DecodeLimits none;
    none.accept = [](int, int) { return false; };
    dof::Image refused;
    Require(DecodeTiff(file.get(), size, none, refused).status == DecodeStatus::kTooLarge && refused.Empty());
    // What decodes is written and read back unchanged.
    if (image.ByteCount() <= (std::size_t{1} << 20)) {
        std::vector<unsigned char> written;
        std::string reason;
        Require(EncodeTiff(image, written, reason));
        dof::Image again;
        Require(DecodeTiff(written.data(), written.size(), DecodeLimits(), again).status == DecodeStatus::kDecoded);
        Require(SameSamples(image, again));
    }
    return true;
}

namespace {

// A picture whose samples differ from pixel to pixel and channel to channel;
// float pictures hold negative, huge and infinite values too.
dof::Image SeedPicture(int width, int height, int channels, dof::SampleType type) {
    dof::Image picture(width, height, channels, type);
    const std::size_t samples = picture.ByteCount() / dof::SampleBytes(type);
    for (std::size_t i = 0; i < samples; ++i) {
        const auto value = static_cast<std::uint32_t>((i * 2654435761u) >> 7);
        if (type == dof::SampleType::kUInt8) {
            picture.Data()[i] = static_cast<unsigned char>(value);
        } else if (type == dof::SampleType::kUInt16) {
            const auto sample = static_cast<std::uint16_t>(value);
            std::memcpy(picture.Data() + 2 * i, &sample, 2);
        } else {
            const float special[] = {-2.5f, 1e30f, std::numeric_limits<float>::infinity(), 0.0f};
            const float sample = i % 7 == 3 ? special[(i / 7) % 4] : static_cast<float>(value % 1000) / 256.0f;
            std::memcpy(picture.Data() + 4 * i, &sample, 4);
        }
    }
    return picture;
}

// Sets the one value of a tag in the first directory of a classic
// little-endian file, or its offset when the values lie elsewhere.
bool PatchTag(std::vector<std::uint8_t>& file, std::uint16_t tag, std::uint32_t value) {
    const auto read = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | file[at + i];
        return v;
    };
    if (file.size() < 8) return false;
    const std::size_t directory = read(4, 4);
    if (directory + 2 > file.size()) return false;
    for (std::size_t i = 0, entries = read(directory, 2); i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (entry + 12 > file.size()) return false;
        if (read(entry, 2) != tag) continue;
        const int bytes = read(entry + 2, 2) == 3 && read(entry + 4, 4) == 1 ? 2 : 4;  // a single SHORT
        for (int b = 0; b < bytes; ++b) file[entry + 8 + b] = static_cast<std::uint8_t>(value >> (8 * b));
        return true;
    }
    return false;
}

std::vector<std::uint8_t> Written(const dof::Image& picture, const TiffWriteOptions& options) {
    std::vector<unsigned char> file;
    std::string reason;
    if (!EncodeTiffWith(picture, options, file, reason)) return {};
    return file;
}

}  // namespace

std::vector<Seed> TiffSeeds() {
    std::vector<Seed> seeds;
    const auto add = [&seeds](const std::string& name, std::vector<std::uint8_t> bytes, int expect) {
        if (!bytes.empty()) seeds.push_back({name, std::move(bytes), expect, -1});
    };
    using dof::SampleType;
    const struct {
        SampleType type;
        const char* name;
    } types[] = {{SampleType::kUInt8, "tiff8"}, {SampleType::kUInt16, "tiff16"}, {SampleType::kFloat32, "tiff_float"}};
    for (const auto& type : types) {
        for (int channels = 1; channels <= 4; ++channels) {
            std::vector<unsigned char> file;
            std::string reason;
            if (EncodeTiff(SeedPicture(7, 5, channels, type.type), file, reason))
                add(std::string(type.name) + "_" + std::to_string(channels) + "ch", file, 1);
        }
    }

    // The layouts EncodeTiff does not write, through libtiff's own writing.
    const dof::Image rgba8 = SeedPicture(20, 18, 4, SampleType::kUInt8);
    const dof::Image rgb16 = SeedPicture(20, 18, 3, SampleType::kUInt16);
    const dof::Image greyAlphaFloat = SeedPicture(20, 18, 2, SampleType::kFloat32);
    TiffWriteOptions planar;
    planar.planar = true;
    add("tiff8_rgba_planar", Written(rgba8, planar), 1);
    TiffWriteOptions tiled;
    tiled.tileSide = 16;
    add("tiff16_rgb_tiled", Written(rgb16, tiled), 1);
    TiffWriteOptions tiledPlanar = tiled;
    tiledPlanar.planar = true;
    add("tiff_float_grey_alpha_tiled_planar", Written(greyAlphaFloat, tiledPlanar), 1);
    TiffWriteOptions bigEndian;
    bigEndian.byteOrder = 'b';
    add("tiff16_rgb_big_endian", Written(rgb16, bigEndian), 1);
    TiffWriteOptions bigEndianTiled = tiled;
    bigEndianTiled.byteOrder = 'b';
    add("tiff_float_grey_alpha_big_endian_tiled", Written(greyAlphaFloat, bigEndianTiled), 1);
    TiffWriteOptions bigTiff;
    bigTiff.bigTiff = true;
    add("bigtiff8_rgba", Written(rgba8, bigTiff), 1);
    TiffWriteOptions bigTiffBigEndian = bigTiff;
    bigTiffBigEndian.byteOrder = 'b';
    add("bigtiff16_rgb_big_endian", Written(rgb16, bigTiffBigEndian), 1);
    TiffWriteOptions whiteIsZero;
    whiteIsZero.photometric = PHOTOMETRIC_MINISWHITE;
    add("tiff8_white_is_zero", Written(SeedPicture(20, 18, 2, SampleType::kUInt8), whiteIsZero), 1);
    whiteIsZero.compression = COMPRESSION_LZW;
    add("tiff16_white_is_zero_lzw", Written(SeedPicture(20, 18, 1, SampleType::kUInt16), whiteIsZero), 1);
    std::vector<std::uint16_t> colourMap(3 * 256);
    for (std::size_t i = 0; i < colourMap.size(); ++i) colourMap[i] = static_cast<std::uint16_t>(i * 331);
    TiffWriteOptions palette;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.colourMap = colourMap.data();
    add("tiff8_palette", Written(SeedPicture(20, 18, 1, SampleType::kUInt8), palette), 1);
    TiffWriteOptions bottomUp;
    bottomUp.bottomUp = true;
    bottomUp.compression = COMPRESSION_PACKBITS;
    add("tiff8_rgba_bottom_left_packbits", Written(rgba8, bottomUp), 1);
    TiffWriteOptions lzw;
    lzw.compression = COMPRESSION_LZW;
    add("tiff16_rgb_lzw", Written(rgb16, lzw), 1);
    TiffWriteOptions uncompressed;
    uncompressed.compression = COMPRESSION_NONE;
    add("tiff_float_grey_alpha_uncompressed", Written(greyAlphaFloat, uncompressed), 1);
    // Photometrics that libtiff's RGBA interface converts.
    if (TIFFIsCODECConfigured(COMPRESSION_JPEG)) {
        TiffWriteOptions jpeg;
        jpeg.compression = COMPRESSION_JPEG;
        jpeg.photometric = PHOTOMETRIC_YCBCR;
        add("tiff8_ycbcr_jpeg", Written(SeedPicture(20, 18, 3, SampleType::kUInt8), jpeg), 1);
    }
    TiffWriteOptions cmyk;
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    add("tiff8_cmyk", Written(rgba8, cmyk), 1);

    // Broken and refused files.
    const dof::Image small = SeedPicture(7, 5, 1, SampleType::kUInt8);  // single-valued tags
    TiffWriteOptions little;
    little.byteOrder = 'l';
    const std::vector<std::uint8_t> file = Written(small, little);
    add("tiff8_cut", std::vector<std::uint8_t>(file.begin(), file.begin() + file.size() / 2), 0);
    add("tiff8_header_only", std::vector<std::uint8_t>(file.begin(), file.begin() + 8), 0);
    const auto patched = [&](std::vector<std::uint8_t> bytes, std::uint16_t tag, std::uint32_t value) {
        return PatchTag(bytes, tag, value) ? bytes : std::vector<std::uint8_t>();
    };
    add("tiff8_strip_past_end", patched(file, TIFFTAG_STRIPOFFSETS, 0xFFFFFF00u), 0);
    add("tiff8_orientation_rotated", patched(file, TIFFTAG_ORIENTATION, ORIENTATION_LEFTTOP), 0);
    add("tiff8_signed_samples", patched(file, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT), 0);
    add("tiff8_two_bit_samples", patched(file, TIFFTAG_BITSPERSAMPLE, 2), 0);
    std::vector<std::uint8_t> directoryPastEnd = file;
    directoryPastEnd[6] = 0x7F;
    add("tiff8_directory_past_end", directoryPastEnd, 0);
    // Uncompressed pixels that run past the end of the file.
    little.compression = COMPRESSION_NONE;
    const std::vector<std::uint8_t> raw = Written(small, little);
    add("tiff8_uncompressed_short_strip",
        patched(patched(raw, TIFFTAG_STRIPBYTECOUNTS, 20), TIFFTAG_STRIPOFFSETS, static_cast<std::uint32_t>(raw.size() - 20)),
        0);
    return seeds;
}
