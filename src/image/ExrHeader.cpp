#include "image/ExrHeader.h"

#include <algorithm>
#include <cstring>

#include "image/PictureLimits.h"

namespace {

// Coordinates beyond these make the library's own sums overflow; no real
// file comes near them.
constexpr std::int64_t kMaxCoordinate = std::int64_t{1} << 30;

// The longest attribute or channel name, without its terminating zero.
constexpr std::size_t kMaxNameLength = 255;

// Little-endian reading of a byte range that stops at its end.
class ByteReader {
public:
    ByteReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t At() const { return at_; }
    std::size_t Left() const { return size_ - at_; }
    const unsigned char* Here() const { return data_ + at_; }

    // A zero-terminated name: false when no zero comes within the longest
    // name (tooLong) or before the end.
    bool Name(std::string& name, bool& tooLong) {
        const std::size_t window = Left() < kMaxNameLength + 1 ? Left() : kMaxNameLength + 1;
        const void* zero = std::memchr(Here(), 0, window);
        tooLong = zero == nullptr && window == kMaxNameLength + 1;
        if (!zero) return false;
        const std::size_t length = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - Here());
        name.assign(reinterpret_cast<const char*>(Here()), length);
        at_ += length + 1;
        return true;
    }

    bool Int32(std::int32_t& value) {
        std::uint32_t bits = 0;
        if (!Uint32(bits)) return false;
        value = static_cast<std::int32_t>(bits);
        return true;
    }

    bool Uint32(std::uint32_t& value) {
        if (Left() < 4) return false;
        const unsigned char* p = Here();
        value = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                (std::uint32_t{p[3]} << 24);
        at_ += 4;
        return true;
    }

    bool Skip(std::size_t count) {
        if (Left() < count) return false;
        at_ += count;
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The value sizes of the library's attribute types whose readers take a
// fixed number of bytes whatever the size field says.
int FixedValueSize(const std::string& type) {
    static const struct {
        const char* type;
        int size;
    } kSizes[] = {{"box2i", 16},      {"box2f", 16},   {"chromaticities", 32},
                  {"compression", 1}, {"double", 8},   {"envmap", 1},
                  {"float", 4},       {"int", 4},      {"keycode", 28},
                  {"lineOrder", 1},   {"m33f", 36},    {"m33d", 72},
                  {"m44f", 64},       {"m44d", 128},   {"rational", 8},
                  {"tiledesc", 9},    {"timecode", 8}, {"v2i", 8},
                  {"v2f", 8},         {"v2d", 16},     {"v3i", 12},
                  {"v3f", 12},        {"v3d", 24},     {"deepImageState", 1}};
    for (const auto& known : kSizes)
        if (type == known.type) return known.size;
    return -1;
}

// A channel list that ends exactly at its value's end (the library reads it
// up to its terminating empty name, whatever the size field says), sorted
// by name as the library keeps it.
bool ReadChannels(const unsigned char* value, std::size_t size, std::vector<ExrChannel>& channels) {
    ByteReader reader(value, size);
    channels.clear();
    for (;;) {
        ExrChannel channel;
        bool tooLong = false;
        if (!reader.Name(channel.name, tooLong)) return false;
        if (channel.name.empty()) {
            std::stable_sort(channels.begin(), channels.end(),
                             [](const ExrChannel& a, const ExrChannel& b) { return a.name < b.name; });
            return reader.Left() == 0;
        }
        std::int32_t type = 0;
        if (!reader.Int32(type) || !reader.Skip(4) || !reader.Int32(channel.xSampling) ||
            !reader.Int32(channel.ySampling))
            return false;
        if (type < 0 || type > 2) return false;
        channel.type = static_cast<ExrPixelType>(type);
        channels.push_back(std::move(channel));
    }
}

// Values whose length the library works out from the bytes themselves must
// say the same as the size field.
bool VariableValueFits(const std::string& type, const unsigned char* value, std::size_t size) {
    if (type == "floatvector") return size % 4 == 0;
    if (type == "idmanifest") return size >= 8;
    if (type == "preview") {
        // Width and height, then that many RGBA pixels.
        ByteReader reader(value, size);
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (!reader.Uint32(width) || !reader.Uint32(height)) return false;
        const std::uint64_t pixels = std::uint64_t{width} * height;  // no overflow: both below 2^32
        return reader.Left() % 4 == 0 && pixels == reader.Left() / 4;
    }
    if (type == "stringvector") {
        // Each string is a length and its bytes.
        ByteReader reader(value, size);
        while (reader.Left() > 0) {
            std::int32_t length = 0;
            if (!reader.Int32(length) || length < 0 || !reader.Skip(static_cast<std::size_t>(length))) return false;
        }
    }
    return true;
}

std::int32_t Int32At(const unsigned char* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                                     (std::uint32_t{p[3]} << 24));
}

ExrBox BoxAt(const unsigned char* value) {
    return {Int32At(value), Int32At(value + 4), Int32At(value + 8), Int32At(value + 12)};
}

// One attribute's value taken into part; false (with reason) when it is not
// what the library would take.
bool TakeAttribute(const std::string& name, const std::string& type, const unsigned char* value, std::size_t size,
                   ExrPart& part, std::string& reason) {
    const int fixed = FixedValueSize(type);
    if (fixed >= 0 ? size != static_cast<std::size_t>(fixed) : !VariableValueFits(type, value, size)) {
        reason = "the attribute " + name + " (" + type + ") has a wrong size";
        return false;
    }
    // The attributes the reader uses must have their standard types.
    const struct {
        const char* name;
        const char* type;
    } kStandard[] = {
        {"displayWindow", "box2i"}, {"dataWindow", "box2i"}, {"channels", "chlist"}, {"compression", "compression"},
        {"tiles", "tiledesc"},      {"type", "string"},      {"name", "string"},     {"chunkCount", "int"}};
    for (const auto& standard : kStandard) {
        if (name == standard.name && type != standard.type) {
            reason = "the attribute " + name + " has the type " + type + ", not " + standard.type;
            return false;
        }
    }
    if (name == "displayWindow") {
        part.hasDisplayWindow = true;
        part.displayWindow = BoxAt(value);
    } else if (name == "dataWindow") {
        part.hasDataWindow = true;
        part.dataWindow = BoxAt(value);
    } else if (name == "channels") {
        if (!ReadChannels(value, size, part.channels)) {
            reason = "the channel list is damaged";
            return false;
        }
    } else if (name == "compression") {
        part.compression = value[0];
    } else if (name == "tiles") {
        part.hasTiles = true;
        part.tileWidth = static_cast<std::uint32_t>(Int32At(value));
        part.tileHeight = static_cast<std::uint32_t>(Int32At(value + 4));
        part.levelMode = value[8] & 0x0f;
        part.roundingMode = value[8] >> 4;
    } else if (name == "type") {
        part.hasType = true;
        part.type.assign(reinterpret_cast<const char*>(value), size);
    } else if (name == "name") {
        part.name.assign(reinterpret_cast<const char*>(value), size);
    } else if (name == "chunkCount") {
        part.hasChunkCount = true;
        part.chunkCount = Int32At(value);
    }
    return true;
}

// One part's attributes, up to the empty name that ends them.
ExrHeaderStatus ReadPart(ByteReader& reader, ExrPart& part, std::string& reason) {
    for (;;) {
        std::string name;
        std::string type;
        bool tooLong = false;
        if (!reader.Name(name, tooLong)) {
            if (tooLong) reason = "an attribute name is too long";
            return tooLong ? ExrHeaderStatus::kBroken : ExrHeaderStatus::kCut;
        }
        if (name.empty()) return ExrHeaderStatus::kRead;
        std::int32_t size = 0;
        if (!reader.Name(type, tooLong)) {
            if (tooLong) reason = "an attribute type name is too long";
            return tooLong ? ExrHeaderStatus::kBroken : ExrHeaderStatus::kCut;
        }
        if (!reader.Int32(size)) return ExrHeaderStatus::kCut;
        if (size < 0) {
            reason = "the attribute " + name + " has a negative size";
            return ExrHeaderStatus::kBroken;
        }
        const std::size_t valueSize = static_cast<std::size_t>(size);
        if (valueSize > kMaxChunkBytes) {
            reason = "the attribute " + name + " is larger than this reader keeps";
            return ExrHeaderStatus::kBroken;
        }
        const unsigned char* value = reader.Here();
        if (!reader.Skip(valueSize)) return ExrHeaderStatus::kCut;
        if (!TakeAttribute(name, type, value, valueSize, part, reason)) return ExrHeaderStatus::kBroken;
    }
}

}  // namespace

bool BoxSize(const ExrBox& box, int& width, int& height) {
    const std::int64_t coordinates[] = {box.xMin, box.yMin, box.xMax, box.yMax};
    for (const std::int64_t c : coordinates)
        if (c < -kMaxCoordinate || c > kMaxCoordinate) return false;
    const std::int64_t w = std::int64_t{box.xMax} - box.xMin + 1;
    const std::int64_t h = std::int64_t{box.yMax} - box.yMin + 1;
    if (w < 1 || h < 1 || w > kMaxPictureSide || h > kMaxPictureSide) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

const ExrChannel* ExrPart::FindChannel(const std::string& channelName) const {
    for (const ExrChannel& channel : channels)
        if (channel.name == channelName) return &channel;
    return nullptr;
}

ExrHeaderStatus ReadExrHeaders(const unsigned char* data, std::size_t size, bool firstPartOnly, ExrHeaders& headers,
                               std::string& reason) {
    static const unsigned char kMagic[4] = {0x76, 0x2f, 0x31, 0x01};
    headers = ExrHeaders();
    ByteReader reader(data, size);
    if (size < 4 || std::memcmp(data, kMagic, 4) != 0) {
        reason = "not an OpenEXR file";
        return size < 4 ? ExrHeaderStatus::kCut : ExrHeaderStatus::kBroken;
    }
    reader.Skip(4);
    std::uint32_t version = 0;
    if (!reader.Uint32(version)) return ExrHeaderStatus::kCut;
    headers.flags = version & ~std::uint32_t{0xff};
    const std::uint32_t known = kExrTiledFlag | kExrLongNamesFlag | kExrNonImageFlag | kExrMultiPartFlag;
    if ((version & 0xff) != 2 || (headers.flags & ~known) != 0) {
        reason = "an OpenEXR version this reader does not know";
        return ExrHeaderStatus::kBroken;
    }
    const bool multiPart = (headers.flags & kExrMultiPartFlag) != 0;
    if (multiPart && (headers.flags & kExrTiledFlag) != 0) {
        reason = "the version word says both tiled and multi-part";
        return ExrHeaderStatus::kBroken;
    }
    for (;;) {
        // A multi-part file's list of headers ends with an empty one.
        if (multiPart && !headers.parts.empty()) {
            if (reader.Left() < 1) return ExrHeaderStatus::kCut;
            if (*reader.Here() == 0) {
                reader.Skip(1);
                break;
            }
        }
        headers.parts.emplace_back();
        const ExrHeaderStatus status = ReadPart(reader, headers.parts.back(), reason);
        if (status != ExrHeaderStatus::kRead) return status;
        if (!multiPart || firstPartOnly) break;
    }
    headers.end = reader.At();
    return ExrHeaderStatus::kRead;
}
