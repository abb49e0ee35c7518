#include "image/ExrLayout.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// A chunk may decode to this much, or to as much as a float RGBA picture of
// the display window when that is more: the library keeps a few such buffers
// per thread.
constexpr std::uint64_t kChunkBudgetFloor = std::uint64_t{64} << 20;
constexpr std::uint64_t kChunkBudgetPerPixel = 16;

constexpr int kCompressionMethods = 10;  // NO_COMPRESSION to DWAB_COMPRESSION

std::uint64_t MulCapped(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// Scan lines in one chunk, for each compression method.
int LinesPerChunk(int compression) {
    static const int kLines[kCompressionMethods] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
    return kLines[compression];
}

// The library's level arithmetic (ImfTiledMisc): a side at level l, and the
// number of levels of a side.
std::uint64_t LevelSide(std::uint64_t side, int level, int roundingMode) {
    const std::uint64_t scale = std::uint64_t{1} << level;
    std::uint64_t size = side / scale;
    if (roundingMode == 1 && size * scale < side) ++size;
    return std::max<std::uint64_t>(size, 1);
}

int LevelCount(std::uint64_t side, int roundingMode) {
    int log = 0;
    bool inexact = false;
    for (; side > 1; side >>= 1, ++log) inexact = inexact || (side & 1) != 0;
    return log + (roundingMode == 1 && inexact ? 1 : 0) + 1;
}

std::uint64_t TilesAcross(std::uint64_t side, int level, int roundingMode, std::uint64_t tileSide) {
    return (LevelSide(side, level, roundingMode) + tileSide - 1) / tileSide;
}

// The entries of a tiled part's chunk table, as the library counts them.
std::uint64_t TileCount(const ExrPart& part, std::uint64_t width, std::uint64_t height) {
    std::uint64_t count = 0;
    if (part.levelMode == 2) {  // ripmap: every pair of x and y levels
        std::uint64_t across = 0;
        std::uint64_t down = 0;
        for (int level = 0; level < LevelCount(width, part.roundingMode); ++level)
            across += TilesAcross(width, level, part.roundingMode, part.tileWidth);
        for (int level = 0; level < LevelCount(height, part.roundingMode); ++level)
            down += TilesAcross(height, level, part.roundingMode, part.tileHeight);
        return MulCapped(across, down);
    }
    const int levels = part.levelMode == 1 ? LevelCount(std::max(width, height), part.roundingMode) : 1;
    for (int level = 0; level < levels; ++level)
        count += TilesAcross(width, level, part.roundingMode, part.tileWidth) *
                 TilesAcross(height, level, part.roundingMode, part.tileHeight);
    return count;
}

bool Refuse(std::string& reason, const std::string& why) {
    reason = why;
    return false;
}

// One part's type, windows, compression, tiles and channels; its chunk
// count and the decoded size of its largest chunk.
bool CheckPart(const ExrHeaders& headers, const ExrPart& part, std::uint64_t& chunks, std::uint64_t& chunkBytes,
               std::string& reason) {
    const bool multiPart = (headers.flags & kExrMultiPartFlag) != 0;
    if (part.hasType || multiPart) {
        if (part.type == "deepscanline" || part.type == "deeptile")
            return Refuse(reason, "deep OpenEXR files are not read");
        const bool tiledFlag = (headers.flags & kExrTiledFlag) != 0;
        const bool known = part.type == "scanlineimage" || part.type == "tiledimage";
        if (!known || (!multiPart && (part.type == "tiledimage") != tiledFlag))
            return Refuse(reason, "a part of an unknown type (" + part.type + ")");
    }
    int width = 0;
    int height = 0;
    if (!part.hasDataWindow || !BoxSize(part.dataWindow, width, height))
        return Refuse(reason, "the data window is missing, empty or too large");
    if (part.compression >= kCompressionMethods) return Refuse(reason, "an unknown compression method");
    if (part.channels.empty()) return Refuse(reason, "a part without channels");
    std::uint64_t pixelBytes = 0;
    for (const ExrChannel& channel : part.channels) {
        if (channel.xSampling < 1 || channel.ySampling < 1 || channel.xSampling > width || channel.ySampling > height)
            return Refuse(reason, "the channel " + channel.name + " has a wrong sampling");
        pixelBytes += channel.type == ExrPixelType::kHalf ? 2 : 4;
    }
    if (IsTiledPart(headers, part)) {
        if (!part.hasTiles || part.tileWidth < 1 || part.tileHeight < 1 || part.tileWidth > kMaxExrTileSide ||
            part.tileHeight > kMaxExrTileSide || part.levelMode > 2 || part.roundingMode > 1)
            return Refuse(reason, "the tiles are missing or of a wrong size");
        chunks = TileCount(part, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
        // A tile, and a row of tiles as the reader of scan lines keeps it.
        chunkBytes = std::max(MulCapped(std::uint64_t{part.tileWidth} * part.tileHeight, pixelBytes),
                              std::uint64_t{16} * static_cast<std::uint64_t>(width) * part.tileHeight);
    } else {
        const int lines = LinesPerChunk(part.compression);
        chunks = (static_cast<std::uint64_t>(height) + lines - 1) / static_cast<std::uint64_t>(lines);
        chunkBytes = MulCapped(static_cast<std::uint64_t>(width) * std::min(lines, height), pixelBytes);
    }
    if (part.hasChunkCount && (part.chunkCount < 0 || static_cast<std::uint64_t>(part.chunkCount) != chunks))
        return Refuse(reason, "the chunk count does not match the data window");
    return true;
}

}  // namespace

bool IsTiledPart(const ExrHeaders& headers, const ExrPart& part) {
    if ((headers.flags & kExrMultiPartFlag) != 0) return part.type == "tiledimage";
    return (headers.flags & kExrTiledFlag) != 0;
}

bool CheckExrLayout(const ExrHeaders& headers, std::size_t fileSize, std::string& reason) {
    if ((headers.flags & kExrNonImageFlag) != 0) return Refuse(reason, "deep OpenEXR files are not read");
    if (headers.parts.empty()) return Refuse(reason, "a file without parts");
    const ExrPart& first = headers.parts.front();
    int width = 0;
    int height = 0;
    if (!first.hasDisplayWindow || !BoxSize(first.displayWindow, width, height))
        return Refuse(reason, "the display window is missing, empty or too large");
    const std::uint64_t budget = std::max(kChunkBudgetFloor, kChunkBudgetPerPixel * static_cast<std::uint64_t>(width) *
                                                                 static_cast<std::uint64_t>(height));
    std::uint64_t tableEntries = 0;
    for (const ExrPart& part : headers.parts) {
        const ExrBox& box = part.displayWindow;
        if (!part.hasDisplayWindow || box.xMin != first.displayWindow.xMin || box.yMin != first.displayWindow.yMin ||
            box.xMax != first.displayWindow.xMax || box.yMax != first.displayWindow.yMax)
            return Refuse(reason, "the parts have different display windows");
        std::uint64_t chunks = 0;
        std::uint64_t chunkBytes = 0;
        if (!CheckPart(headers, part, chunks, chunkBytes, reason)) return false;
        if (chunkBytes > budget) return Refuse(reason, "a chunk larger than this reader decodes");
        tableEntries += chunks;
    }
    // Each chunk has an 8-byte entry in the tables after the headers.
    if (tableEntries > (fileSize - headers.end) / 8) return Refuse(reason, "the file ends inside its chunk tables");
    return true;
}
