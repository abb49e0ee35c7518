// TIFF through libtiff: the first directory's picture, read from memory.
// libtiff reports through the handlers of each open (TiffMemoryIo), never
// by printing; its first error is the reason of a failure.
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/Codecs.h"
#include "image/PictureLimits.h"
#include "image/TiffChunks.h"
#include "image/TiffMemoryIo.h"
#include "image/TiffPicture.h"
#include "image/TiffRgba.h"

namespace {

// libtiff's largest single allocation, from the size the first directory
// declares (PeekTiff reads the same directory), before libtiff reads it.
std::size_t AllocationBound(const unsigned char* data, std::size_t size) {
    const PeekedSize peeked = PeekTiff(data, size);
    if (!peeked.sized) return kTiffLeastAllocation;
    const std::uint64_t samples = std::uint64_t{16} * static_cast<std::uint64_t>(peeked.width) *
                                  static_cast<std::uint64_t>(peeked.height);
    return samples < kTiffLeastAllocation ? kTiffLeastAllocation
           : samples > kTiffMostAllocation ? kTiffMostAllocation
                                            : static_cast<std::size_t>(samples);
}

// White-is-zero grey made black-is-zero; alpha stays.
void InvertGrey(dof::Image& stored) {
    const std::size_t step = stored.PixelBytes();
    const std::size_t pixels = static_cast<std::size_t>(stored.Width()) * static_cast<std::size_t>(stored.Height());
    unsigned char* data = stored.Data();
    if (stored.Type() == dof::SampleType::kUInt8) {
        for (std::size_t i = 0; i < pixels; ++i) data[i * step] = static_cast<unsigned char>(255 - data[i * step]);
        return;
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint16_t grey = 0;
        std::memcpy(&grey, data + i * step, 2);
        grey = static_cast<std::uint16_t>(65535 - grey);
        std::memcpy(data + i * step, &grey, 2);
    }
}

void FlipRows(dof::Image& stored) {
    const auto rowBytes = static_cast<std::size_t>(stored.RowStride());
    std::vector<unsigned char> row(rowBytes);
    for (int top = 0, bottom = stored.Height() - 1; top < bottom; ++top, --bottom) {
        std::memcpy(row.data(), stored.Row(top), rowBytes);
        std::memcpy(stored.Row(top), stored.Row(bottom), rowBytes);
        std::memcpy(stored.Row(bottom), row.data(), rowBytes);
    }
}

// Palette indices through the colour map, to 16-bit RGB. Maps whose entries
// all lie below 256 were written as 8-bit values (as old writers did) and
// are scaled to 16 bits, as libtiff's own RGBA interface judges them.
dof::Image ExpandPalette(TIFF* tiff, const dof::Image& indices) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue);  // present: TiffPicture checked it
    const bool sixteen = indices.Type() == dof::SampleType::kUInt16;
    const std::size_t entries = std::size_t{1} << (sixteen ? 16 : 8);
    std::uint16_t scale = 257;
    for (std::size_t i = 0; i < entries; ++i)
        if (red[i] > 255 || green[i] > 255 || blue[i] > 255) scale = 1;
    dof::Image rgb(indices.Width(), indices.Height(), 3, dof::SampleType::kUInt16);
    const std::size_t pixels = static_cast<std::size_t>(indices.Width()) * static_cast<std::size_t>(indices.Height());
    const unsigned char* in = indices.Data();
    unsigned char* out = rgb.Data();
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint16_t index = in[i];
        if (sixteen) std::memcpy(&index, in + 2 * i, 2);
        const std::uint16_t colour[3] = {static_cast<std::uint16_t>(red[index] * scale),
                                         static_cast<std::uint16_t>(green[index] * scale),
                                         static_cast<std::uint16_t>(blue[index] * scale)};
        std::memcpy(out + 6 * i, colour, 6);
    }
    return rgb;
}

bool ReadSamples(TIFF* tiff, const TiffPicture& picture, std::size_t fileSize, const TiffMessages& messages,
                 dof::Image& image, std::string& reason) {
    dof::Image stored(static_cast<int>(picture.width), static_cast<int>(picture.height), picture.samplesPerPixel,
                      picture.type);
    if (!ReadTiffChunks(tiff, picture, fileSize, messages, stored, reason)) return false;
    if (picture.photometric == PHOTOMETRIC_MINISWHITE) InvertGrey(stored);
    if (picture.orientation == ORIENTATION_BOTLEFT) FlipRows(stored);
    image = picture.photometric == PHOTOMETRIC_PALETTE ? ExpandPalette(tiff, stored) : std::move(stored);
    return true;
}

}  // namespace

DecodeResult DecodeTiff(const unsigned char* data, std::size_t size, const DecodeLimits& limits, dof::Image& image) {
    DecodeResult result;
    TiffMessages messages;
    TiffSource source{data, size};
    const TiffHandle tiff = OpenTiffReader(source, AllocationBound(data, size), messages);
    if (!tiff) {
        result.reason = messages.firstError;
        return result;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!ReadTiffSize(tiff.get(), width, height) || width == 0 || height == 0) {
        result.reason = "the picture has no size";
        return result;
    }
    if (width > kMaxPictureSide || height > kMaxPictureSide) {
        char text[120];
        std::snprintf(text, sizeof text, "%ux%u pixels: a side is longer than %u", width, height, kMaxPictureSide);
        result.reason = text;
        return result;
    }
    result.width = static_cast<int>(width);
    result.height = static_cast<int>(height);
    if (limits.accept && !limits.accept(result.width, result.height)) {
        result.status = DecodeStatus::kTooLarge;
        return result;
    }
    TiffPicture picture;
    if (!DescribeTiffPicture(tiff.get(), picture, result.reason)) return result;
    // Errors libtiff recovered from while reading the directory are no
    // reason for what follows.
    messages = TiffMessages();
    dof::Image decoded;
    const bool read = picture.throughRgba
                          ? ReadTiffThroughRgba(tiff.get(), picture, messages, decoded, result.reason)
                          : ReadSamples(tiff.get(), picture, size, messages, decoded, result.reason);
    if (!read) return result;
    result.status = DecodeStatus::kDecoded;
    result.reason.clear();
    image = std::move(decoded);
    return result;
}
