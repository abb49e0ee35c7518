// The size of a TIFF file's first picture, read by hand from its header and
// first directory, so that a file can be judged before it is read whole.
#include <cstdint>

#include "image/Codecs.h"
#include "image/PictureLimits.h"

namespace {

constexpr std::uint16_t kImageWidthTag = 256;
constexpr std::uint16_t kImageLengthTag = 257;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kLongType = 4;
constexpr std::uint16_t kLong8Type = 16;  // BigTIFF only

std::uint64_t ReadUnsigned(const unsigned char* p, int bytes, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t{p[bigEndian ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
    return value;
}

}  // namespace

PeekedSize PeekTiff(const unsigned char* head, std::size_t headSize) {
    PeekedSize peeked;
    if (headSize < 8) return peeked;
    bool bigEndian = false;
    if (head[0] == 'M' && head[1] == 'M')
        bigEndian = true;
    else if (head[0] != 'I' || head[1] != 'I')
        return peeked;
    // Classic: a 4-byte directory offset, 2-byte entry count, 12-byte entries
    // with 4-byte counts and values. BigTIFF: 8, 8, 20, 8 and 8.
    const std::uint64_t magic = ReadUnsigned(head + 2, 2, bigEndian);
    const bool bigTiff = magic == 43;
    if (magic != 42 && !bigTiff) return peeked;
    if (bigTiff && (headSize < 16 || ReadUnsigned(head + 4, 2, bigEndian) != 8 || ReadUnsigned(head + 6, 2, bigEndian) != 0))
        return peeked;
    const int wordBytes = bigTiff ? 8 : 4;
    const std::uint64_t directory = ReadUnsigned(head + (bigTiff ? 8 : 4), wordBytes, bigEndian);
    const std::uint64_t countBytes = bigTiff ? 8 : 2;
    const std::uint64_t entryBytes = bigTiff ? 20 : 12;
    if (directory > headSize || headSize - directory < countBytes) return peeked;
    const std::uint64_t entries = ReadUnsigned(head + directory, static_cast<int>(countBytes), bigEndian);
    if (entries > (headSize - directory - countBytes) / entryBytes) return peeked;

    // libtiff keeps the first of a repeated tag and takes a single SHORT,
    // LONG or (BigTIFF) LONG8; anything else is not sized here.
    std::uint64_t sides[2] = {0, 0};
    bool seen[2] = {false, false};
    for (std::uint64_t i = 0; i < entries; ++i) {
        const unsigned char* entry = head + directory + countBytes + i * entryBytes;
        const std::uint64_t tag = ReadUnsigned(entry, 2, bigEndian);
        if (tag != kImageWidthTag && tag != kImageLengthTag) continue;
        const int side = tag == kImageWidthTag ? 0 : 1;
        if (seen[side]) continue;
        seen[side] = true;
        const std::uint64_t type = ReadUnsigned(entry + 2, 2, bigEndian);
        const std::uint64_t count = ReadUnsigned(entry + 4, wordBytes, bigEndian);
        const unsigned char* value = entry + 4 + wordBytes;
        if (count != 1) continue;
        if (type == kShortType)
            sides[side] = ReadUnsigned(value, 2, bigEndian);
        else if (type == kLongType)
            sides[side] = ReadUnsigned(value, 4, bigEndian);
        else if (type == kLong8Type && bigTiff)
            sides[side] = ReadUnsigned(value, 8, bigEndian);
    }
    for (const std::uint64_t side : sides)
        if (side == 0 || side > kMaxPictureSide) return peeked;
    peeked.sized = true;
    peeked.width = static_cast<int>(sides[0]);
    peeked.height = static_cast<int>(sides[1]);
    return peeked;
}
