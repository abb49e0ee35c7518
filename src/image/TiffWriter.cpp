// Pictures to TIFF in memory: every chunk is copied from the picture into a
// buffer of ours first, since libtiff may change the bytes it is given
// (byte swapping, predictors).
#include "image/TiffWriter.h"

#include <algorithm>
#include <cstring>

#include "image/Codecs.h"
#include "image/TiffMemoryIo.h"

namespace {

constexpr std::size_t kStripBytes = 64 * 1024;
// Classic TIFF addresses 4 GiB; samples that may not compress go to BigTIFF.
constexpr std::uint64_t kBigTiffSamples = 0xF0000000u;

int ColourCount(std::uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR: return 3;
        case PHOTOMETRIC_SEPARATED: return 4;
        default: return 1;
    }
}

bool TakesPredictor(std::uint16_t compression) {
    return compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
           compression == COMPRESSION_DEFLATE || compression == COMPRESSION_ZSTD || compression == COMPRESSION_LZMA;
}

// The samples of a rectangle of the file's pixels (file rows counted in the
// file's order), all channels or one, into rows rowBytes apart.
struct Rectangle {
    int left, top, columns, rows;
};

void Gather(const dof::ImageView& image, bool bottomUp, const Rectangle& area, int channel, unsigned char* out,
            std::size_t rowBytes) {
    const std::size_t sample = dof::SampleBytes(image.Type());
    const std::size_t pixel = image.PixelBytes();
    for (int r = 0; r < area.rows; ++r) {
        const int fileRow = area.top + r;
        const unsigned char* in = image.Row(bottomUp ? image.Height() - 1 - fileRow : fileRow) + area.left * pixel;
        unsigned char* row = out + static_cast<std::size_t>(r) * rowBytes;
        if (channel < 0) {
            std::memcpy(row, in, static_cast<std::size_t>(area.columns) * pixel);
            continue;
        }
        for (int x = 0; x < area.columns; ++x) std::memcpy(row + x * sample, in + x * pixel + channel * sample, sample);
    }
}

bool SetTags(TIFF* tiff, const dof::ImageView& image, const TiffWriteOptions& options, std::uint16_t photometric,
             std::uint32_t rowsPerStrip) {
    const bool floating = image.Type() == dof::SampleType::kFloat32;
    const auto channels = static_cast<std::uint16_t>(image.Channels());
    bool set = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.Width())) &&
               TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.Height())) &&
               TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(8 * dof::SampleBytes(image.Type()))) &&
               TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, channels) &&
               TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, floating ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) &&
               TIFFSetField(tiff, TIFFTAG_COMPRESSION, options.compression) &&
               TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) &&
               TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, options.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG) &&
               TIFFSetField(tiff, TIFFTAG_ORIENTATION, options.bottomUp ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT);
    // libtiff 4.5 swaps the bytes of floats before its floating-point
    // predictor, not after: in the other byte order than the machine's it
    // would write them wrongly, so such files go without a predictor.
    const bool swapped = TIFFIsByteSwapped(tiff) != 0;
    if (set && TakesPredictor(options.compression) && photometric != PHOTOMETRIC_PALETTE && !(floating && swapped))
        set = TIFFSetField(tiff, TIFFTAG_PREDICTOR, floating ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    if (set && options.compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        set = TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const int alphas = image.Channels() - ColourCount(photometric);
    if (set && alphas > 0) {
        const std::uint16_t kinds[4] = {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNASSALPHA,
                                        EXTRASAMPLE_UNASSALPHA};
        set = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(alphas), kinds);
    }
    if (set && photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t entries = std::size_t{1} << (8 * dof::SampleBytes(image.Type()));
        const std::uint16_t* map = options.colourMap;
        set = TIFFSetField(tiff, TIFFTAG_COLORMAP, map, map + entries, map + 2 * entries);
    }
    if (!set) return false;
    if (options.tileSide > 0)
        return TIFFSetField(tiff, TIFFTAG_TILEWIDTH, options.tileSide) &&
               TIFFSetField(tiff, TIFFTAG_TILELENGTH, options.tileSide);
    return TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

bool WriteStrips(TIFF* tiff, const dof::ImageView& image, const TiffWriteOptions& options, std::uint32_t rowsPerStrip) {
    const int planes = options.planar ? image.Channels() : 1;
    const std::size_t rowBytes = static_cast<std::size_t>(image.Width()) *
                                 (options.planar ? dof::SampleBytes(image.Type()) : image.PixelBytes());
    const int rows = static_cast<int>(rowsPerStrip);
    const int stripsPerPlane = (image.Height() + rows - 1) / rows;
    std::vector<unsigned char> strip(rowBytes * rowsPerStrip);
    for (int plane = 0; plane < planes; ++plane) {
        for (int s = 0; s < stripsPerPlane; ++s) {
            const Rectangle area{0, s * rows, image.Width(), std::min(rows, image.Height() - s * rows)};
            Gather(image, options.bottomUp, area, options.planar ? plane : -1, strip.data(), rowBytes);
            const auto index = static_cast<std::uint32_t>(plane * stripsPerPlane + s);
            const auto bytes = static_cast<tmsize_t>(rowBytes * static_cast<std::size_t>(area.rows));
            if (TIFFWriteEncodedStrip(tiff, index, strip.data(), bytes) != bytes) return false;
        }
    }
    return true;
}

bool WriteTiles(TIFF* tiff, const dof::ImageView& image, const TiffWriteOptions& options) {
    const int planes = options.planar ? image.Channels() : 1;
    const int side = static_cast<int>(options.tileSide);
    const std::size_t rowBytes =
        static_cast<std::size_t>(side) * (options.planar ? dof::SampleBytes(image.Type()) : image.PixelBytes());
    std::vector<unsigned char> tile(rowBytes * static_cast<std::size_t>(side));
    for (int plane = 0; plane < planes; ++plane) {
        for (int top = 0; top < image.Height(); top += side) {
            for (int left = 0; left < image.Width(); left += side) {
                // Beyond the picture's edge a tile holds zeros.
                std::fill(tile.begin(), tile.end(), 0);
                const Rectangle area{left, top, std::min(side, image.Width() - left), std::min(side, image.Height() - top)};
                Gather(image, options.bottomUp, area, options.planar ? plane : -1, tile.data(), rowBytes);
                if (TIFFWriteTile(tiff, tile.data(), static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0,
                                  static_cast<std::uint16_t>(plane)) < 0)
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

bool EncodeTiffWith(const dof::ImageView& image, const TiffWriteOptions& options, std::vector<unsigned char>& file,
                    std::string& reason) {
    const dof::SampleType type = image.Type();
    if ((type != dof::SampleType::kUInt8 && type != dof::SampleType::kUInt16 && type != dof::SampleType::kFloat32) ||
        image.Channels() < 1 || image.Channels() > 4 || image.Empty()) {
        reason = "a TIFF file holds 8-bit, 16-bit or 32-bit float samples of 1 to 4 channels and at least one pixel";
        return false;
    }
    const auto photometric = static_cast<std::uint16_t>(options.photometric >= 0 ? options.photometric
                                                        : image.Channels() <= 2 ? PHOTOMETRIC_MINISBLACK
                                                                                : PHOTOMETRIC_RGB);
    if (image.Channels() < ColourCount(photometric) ||
        (photometric == PHOTOMETRIC_PALETTE && (!options.colourMap || image.Channels() != 1 || dof::IsFloat(type))) ||
        options.tileSide % 16 != 0) {
        reason = "the samples do not fit the TIFF layout asked for";
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.Width()) * image.PixelBytes();
    auto rowsPerStrip = static_cast<std::uint32_t>(std::max<std::size_t>(1, kStripBytes / rowBytes));
    if (options.compression == COMPRESSION_JPEG) rowsPerStrip = std::max<std::uint32_t>(16, rowsPerStrip / 16 * 16);
    rowsPerStrip = std::min(rowsPerStrip, static_cast<std::uint32_t>(image.Height()));
    const bool bigTiff =
        options.bigTiff || static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(image.Height()) > kBigTiffSamples;
    char mode[4] = {'w', options.byteOrder == 'n' ? '\0' : options.byteOrder, '\0', '\0'};
    if (bigTiff) std::strcat(mode, "8");

    file.clear();
    TiffMessages messages;
    TiffSink sink{&file};
    TiffHandle tiff = OpenTiffWriter(sink, mode, messages);
    bool written = tiff && SetTags(tiff.get(), image, options, photometric, rowsPerStrip) &&
                   (options.tileSide > 0 ? WriteTiles(tiff.get(), image, options)
                                         : WriteStrips(tiff.get(), image, options, rowsPerStrip)) &&
                   TIFFWriteDirectory(tiff.get());
    tiff.reset();
    written = written && !messages.failed && !sink.outOfMemory;
    if (!written) {
        reason = sink.outOfMemory ? "out of memory" : messages.failed ? messages.firstError : "the TIFF file could not be made";
        file.clear();
    }
    return written;
}

bool EncodeTiff(const dof::ImageView& image, std::vector<unsigned char>& file, std::string& reason) {
    return EncodeTiffWith(image, TiffWriteOptions(), file, reason);
}
