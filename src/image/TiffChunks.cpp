// Strips and tiles into a picture. Every size is worked out here and checked
// against libtiff's own before libtiff writes into a buffer of ours, and
// every read is given the exact size it must fill.
#include "image/TiffChunks.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

bool Multiply(std::uint64_t a, std::uint64_t b, std::uint64_t& product) {
    return !__builtin_mul_overflow(a, b, &product);
}

std::uint64_t DivideUp(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

std::uint64_t Least(std::uint64_t a, std::uint64_t b) { return a < b ? a : b; }

// Copies columns x rows samples of one plane (rows planeStride bytes apart)
// into one channel of stored, from pixel (x, y) on.
template <std::size_t kSampleBytes>
void ScatterPlane(const unsigned char* plane, std::size_t planeStride, dof::Image& stored, int channel,
                  std::uint64_t x, std::uint64_t y, std::uint64_t columns, std::uint64_t rows) {
    const std::size_t step = stored.PixelBytes();
    for (std::uint64_t r = 0; r < rows; ++r) {
        const unsigned char* in = plane + r * planeStride;
        unsigned char* out = stored.Row(static_cast<int>(y + r)) + x * step + channel * kSampleBytes;
        for (std::uint64_t c = 0; c < columns; ++c) std::memcpy(out + c * step, in + c * kSampleBytes, kSampleBytes);
    }
}

void ScatterPlane(const unsigned char* plane, std::size_t planeStride, dof::Image& stored, int channel,
                  std::uint64_t x, std::uint64_t y, std::uint64_t columns, std::uint64_t rows) {
    switch (dof::SampleBytes(stored.Type())) {
        case 1: ScatterPlane<1>(plane, planeStride, stored, channel, x, y, columns, rows); break;
        case 2: ScatterPlane<2>(plane, planeStride, stored, channel, x, y, columns, rows); break;
        default: ScatterPlane<4>(plane, planeStride, stored, channel, x, y, columns, rows); break;
    }
}

// What the strip and tile loops share: the checks of one chunk and the
// reasons they give.
class ChunkReader {
public:
    ChunkReader(TIFF* tiff, const TiffPicture& picture, std::uint64_t fileSize, const TiffMessages& messages,
                std::string& reason)
        : tiff_(tiff),
          picture_(picture),
          fileSize_(fileSize),
          messages_(messages),
          reason_(reason),
          kind_(picture.tiled ? "tile" : "strip") {}

    bool Fail(std::uint64_t index, const char* what) {
        char text[400];
        std::snprintf(text, sizeof text, "%s %llu %s", kind_, static_cast<unsigned long long>(index), what);
        reason_ = text;
        return false;
    }

    bool FailCount(std::uint64_t found, std::uint64_t needed) {
        char text[160];
        std::snprintf(text, sizeof text, "the file has %llu %ss where the picture needs %llu",
                      static_cast<unsigned long long>(found), kind_, static_cast<unsigned long long>(needed));
        reason_ = text;
        return false;
    }

    // Reads chunk index, decodedBytes long, into out; false unless it lies
    // within the file, holds enough bytes when stored uncompressed, and
    // decodes to exactly decodedBytes.
    bool Read(std::uint32_t index, unsigned char* out, std::uint64_t decodedBytes) {
        const std::uint64_t offset = TIFFGetStrileOffset(tiff_, index);
        const std::uint64_t count = TIFFGetStrileByteCount(tiff_, index);
        if (offset == 0 || count == 0) return Fail(index, "is missing");
        if (offset > fileSize_ || count > fileSize_ - offset) return Fail(index, "lies past the end of the file");
        if (picture_.compression == COMPRESSION_NONE && count < decodedBytes) return Fail(index, "is short");
        if (decodedBytes > static_cast<std::uint64_t>(std::numeric_limits<tmsize_t>::max()))
            return Fail(index, "is too large");
        const auto wanted = static_cast<tmsize_t>(decodedBytes);
        const tmsize_t got = picture_.tiled ? TIFFReadEncodedTile(tiff_, index, out, wanted)
                                            : TIFFReadEncodedStrip(tiff_, index, out, wanted);
        if (got == wanted) return true;
        const std::string why = std::string("does not decode: ") + (messages_.failed ? messages_.firstError : "short");
        return Fail(index, why.c_str());
    }

private:
    TIFF* tiff_;
    const TiffPicture& picture_;
    std::uint64_t fileSize_;
    const TiffMessages& messages_;
    std::string& reason_;
    const char* kind_;
};

bool ReadStrips(TIFF* tiff, const TiffPicture& picture, ChunkReader& reader, dof::Image& stored) {
    const std::uint64_t planes = picture.planar ? picture.samplesPerPixel : 1;
    const std::uint64_t rowsPerStrip = picture.rowsPerStrip;
    const std::uint64_t stripsPerPlane = DivideUp(picture.height, rowsPerStrip);
    if (TIFFNumberOfStrips(tiff) != planes * stripsPerPlane)
        return reader.FailCount(TIFFNumberOfStrips(tiff), planes * stripsPerPlane);
    // Contiguous strips go straight into the picture; planes through a strip
    // buffer, at most the picture's size. Sides of at most 2^20 pixels and 4
    // samples of 4 bytes keep every product below 2^44.
    const std::uint64_t rowBytes = std::uint64_t{picture.width} * (picture.planar ? 1 : picture.samplesPerPixel) *
                                   dof::SampleBytes(picture.type);
    std::vector<unsigned char> plane(picture.planar ? static_cast<std::size_t>(rowsPerStrip * rowBytes) : 0);
    for (std::uint64_t p = 0; p < planes; ++p) {
        for (std::uint64_t s = 0; s < stripsPerPlane; ++s) {
            const auto index = static_cast<std::uint32_t>(p * stripsPerPlane + s);
            const std::uint64_t top = s * rowsPerStrip;
            const std::uint64_t rows = Least(rowsPerStrip, picture.height - top);
            const std::uint64_t bytes = rows * rowBytes;
            if (TIFFVStripSize64(tiff, static_cast<std::uint32_t>(rows)) != bytes)
                return reader.Fail(index, "has another size than its rows");
            unsigned char* out = picture.planar ? plane.data() : stored.Row(static_cast<int>(top));
            if (!reader.Read(index, out, bytes)) return false;
            if (picture.planar)
                ScatterPlane(plane.data(), static_cast<std::size_t>(rowBytes), stored, static_cast<int>(p), 0, top,
                             picture.width, rows);
        }
    }
    return true;
}

bool ReadTiles(TIFF* tiff, const TiffPicture& picture, ChunkReader& reader, dof::Image& stored) {
    const std::uint64_t planes = picture.planar ? picture.samplesPerPixel : 1;
    const std::uint64_t across = DivideUp(picture.width, picture.tileWidth);
    const std::uint64_t down = DivideUp(picture.height, picture.tileLength);
    const std::uint64_t perPlane = across * down;  // at most 2^40: sides are at most 2^20
    if (TIFFNumberOfTiles(tiff) != planes * perPlane) return reader.FailCount(TIFFNumberOfTiles(tiff), planes * perPlane);
    // TiffPicture bounds the tile's area by the picture's; the bytes are
    // checked all the same.
    std::uint64_t rowBytes = 0;
    std::uint64_t tileBytes = 0;
    if (!Multiply(picture.tileWidth, (picture.planar ? 1 : picture.samplesPerPixel) * dof::SampleBytes(picture.type),
                  rowBytes) ||
        !Multiply(rowBytes, picture.tileLength, tileBytes) || tileBytes > std::numeric_limits<std::size_t>::max())
        return reader.Fail(0, "is too large");
    if (static_cast<std::uint64_t>(TIFFTileSize64(tiff)) != tileBytes)
        return reader.Fail(0, "has another size than its pixels");
    std::vector<unsigned char> tile(static_cast<std::size_t>(tileBytes));
    const std::size_t pixelBytes = stored.PixelBytes();
    for (std::uint64_t p = 0; p < planes; ++p) {
        for (std::uint64_t ty = 0; ty < down; ++ty) {
            for (std::uint64_t tx = 0; tx < across; ++tx) {
                const auto index = static_cast<std::uint32_t>(p * perPlane + ty * across + tx);
                if (!reader.Read(index, tile.data(), tileBytes)) return false;
                const std::uint64_t left = tx * picture.tileWidth;
                const std::uint64_t top = ty * picture.tileLength;
                const std::uint64_t columns = Least(picture.tileWidth, picture.width - left);
                const std::uint64_t rows = Least(picture.tileLength, picture.height - top);
                if (picture.planar) {
                    ScatterPlane(tile.data(), static_cast<std::size_t>(rowBytes), stored, static_cast<int>(p), left, top,
                                 columns, rows);
                    continue;
                }
                for (std::uint64_t r = 0; r < rows; ++r)
                    std::memcpy(stored.Row(static_cast<int>(top + r)) + left * pixelBytes, tile.data() + r * rowBytes,
                                static_cast<std::size_t>(columns * pixelBytes));
            }
        }
    }
    return true;
}

}  // namespace

bool ReadTiffChunks(TIFF* tiff, const TiffPicture& picture, std::size_t fileSize, const TiffMessages& messages,
                    dof::Image& stored, std::string& reason) {
    ChunkReader reader(tiff, picture, fileSize, messages, reason);
    return picture.tiled ? ReadTiles(tiff, picture, reader, stored) : ReadStrips(tiff, picture, reader, stored);
}
