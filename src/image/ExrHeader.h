#pragma once
// The headers of an OpenEXR file, read by hand: the magic number, the version
// word, then for each part a list of attributes (name, type name, size,
// value), each list ending with an empty name. Only what the reader needs is
// kept. The values of the predefined types must have their exact sizes, so
// that any header taken here is read the same way by the OpenEXR library.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A box2i: inclusive corners, as the file stores them.
struct ExrBox {
    std::int32_t xMin = 0;
    std::int32_t yMin = 0;
    std::int32_t xMax = -1;
    std::int32_t yMax = -1;
};

// Width and height of a box, or false when it is empty, inverted, lies
// outside the coordinates a file may use, or is wider or higher than
// kMaxPictureSide.
bool BoxSize(const ExrBox& box, int& width, int& height);

enum class ExrPixelType : std::int32_t { kUint = 0, kHalf = 1, kFloat = 2 };

struct ExrChannel {
    std::string name;
    ExrPixelType type = ExrPixelType::kHalf;
    std::int32_t xSampling = 1;
    std::int32_t ySampling = 1;
};

struct ExrPart {
    bool hasDisplayWindow = false;
    bool hasDataWindow = false;
    ExrBox displayWindow;
    ExrBox dataWindow;
    std::vector<ExrChannel> channels;  // sorted by name
    int compression = 0;               // NO_COMPRESSION when absent
    bool hasTiles = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
    int levelMode = 0;     // one level, mipmap, ripmap
    int roundingMode = 0;  // down, up
    bool hasType = false;
    std::string type;  // scanlineimage, tiledimage, deepscanline, deeptile
    std::string name;
    bool hasChunkCount = false;
    std::int32_t chunkCount = 0;

    const ExrChannel* FindChannel(const std::string& channelName) const;
};

// The version word's flags.
constexpr std::uint32_t kExrTiledFlag = 0x200;
constexpr std::uint32_t kExrLongNamesFlag = 0x400;
constexpr std::uint32_t kExrNonImageFlag = 0x800;  // deep data
constexpr std::uint32_t kExrMultiPartFlag = 0x1000;

struct ExrHeaders {
    std::uint32_t flags = 0;
    std::vector<ExrPart> parts;
    std::size_t end = 0;  // the first byte after the headers: the chunk tables
};

enum class ExrHeaderStatus {
    kRead,
    kCut,     // the bytes end inside the headers
    kBroken,  // not a header this reader takes; reason says why
};

// The headers in data[0, size): all of them, or only the first part's when
// firstPartOnly (then headers.end is where that part's header ends).
ExrHeaderStatus ReadExrHeaders(const unsigned char* data, std::size_t size, bool firstPartOnly, ExrHeaders& headers,
                               std::string& reason);
