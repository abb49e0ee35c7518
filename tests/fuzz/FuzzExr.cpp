// The OpenEXR reader on arbitrary bytes, and its seeds.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfTiledOutputPart.h>
#include <half.h>

#include <algorithm>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/SeedCorpus.h"
#include "image/Codecs.h"
#include "image/ExrStreams.h"

namespace {

// A decoded picture as the decoders promise it.
void RequireDecoded(const DecodeResult& result, const dof::Image& image, int minChannels, int maxChannels) {
    if (result.status != DecodeStatus::kDecoded) {
        Require(image.Empty() && !result.reason.empty() == (result.status == DecodeStatus::kFailed));
        return;
    }
    Require(image.Width() == result.width && image.Height() == result.height && !image.Empty());
    Require(image.Channels() >= minChannels && image.Channels() <= maxChannels);
    Require(image.Type() == dof::SampleType::kFloat32);
}

}  // namespace

bool FuzzExr(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<unsigned char[]> file = Copy(data, size);
    const PeekedSize peeked = PeekExr(file.get(), size);
    // A head that holds the first header gives the same size as the whole.
    const std::unique_ptr<unsigned char[]> head = Copy(data, size / 2);
    const PeekedSize headPeeked = PeekExr(head.get(), size / 2);
    Require(!headPeeked.sized ||
            (peeked.sized && headPeeked.width == peeked.width && headPeeked.height == peeked.height));

    DecodeLimits limits;
    limits.accept = [](int width, int height) {
        return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kFuzzPixels;
    };
    dof::Image colour;
    dof::Image depth;
    const DecodeResult colourResult = DecodeExrColour(file.get(), size, "", limits, colour);
    const DecodeResult depthResult = DecodeExrDepth(file.get(), size, "", limits, depth);
    // Named ones, as multi-layer renders have them.
    dof::Image layer;
    dof::Image channel;
    const DecodeResult layerResult = DecodeExrColour(file.get(), size, "beauty", limits, layer);
    const DecodeResult channelResult = DecodeExrDepth(file.get(), size, "depth.Z", limits, channel);
    for (const DecodeResult* result : {&colourResult, &depthResult, &layerResult, &channelResult})
        if (peeked.sized && result->width > 0)
            Require(peeked.width == result->width && peeked.height == result->height);
    RequireDecoded(colourResult, colour, 1, 4);
    RequireDecoded(depthResult, depth, 1, 1);
    RequireDecoded(layerResult, layer, 1, 4);
    RequireDecoded(channelResult, channel, 1, 1);
    const bool decoded = colourResult.status == DecodeStatus::kDecoded || depthResult.status == DecodeStatus::kDecoded;
    if (!decoded) return false;
    // Refused by its size, the same file allocates nothing.
    DecodeLimits none;
    none.accept = [](int, int) { return false; };
    dof::Image refused;
    Require(DecodeExrColour(file.get(), size, "", none, refused).status == DecodeStatus::kTooLarge && refused.Empty());
    Require(DecodeExrDepth(file.get(), size, "", none, refused).status == DecodeStatus::kTooLarge && refused.Empty());
    return true;
}

namespace {

// One part of a seed that the library writes itself.
struct SeedPart {
    std::string name;
    std::vector<std::string> channels;
    Imf::PixelType type = Imf::HALF;
    Imf::Compression compression = Imf::ZIP_COMPRESSION;
    Imath::Box2i display{Imath::V2i(0, 0), Imath::V2i(12, 8)};
    Imath::Box2i data = display;
    Imf::LevelMode levels = Imf::ONE_LEVEL;
    bool tiled = false;
};

// Channel c at (x, y): smooth ramps with a few edges, as renders have.
float SeedSample(std::size_t c, int x, int y) {
    return static_cast<float>(c + 1) * 0.25f + 0.03f * static_cast<float>(x * y) + ((x + y) % 5 == 0 ? 2.0f : 0.0f);
}

std::vector<std::uint8_t> WriteSeedParts(const std::vector<SeedPart>& parts) {
    std::vector<Imf::Header> headers;
    for (const SeedPart& part : parts) {
        Imf::Header header(part.display, part.data);
        header.compression() = part.compression;
        for (const std::string& channel : part.channels) header.channels().insert(channel, Imf::Channel(part.type));
        if (!part.name.empty()) header.setName(part.name);
        header.setType(part.tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
        if (part.tiled) header.setTileDescription(Imf::TileDescription(4, 4, part.levels));
        headers.push_back(header);
    }
    std::vector<unsigned char> file;
    ExrMemoryOutput stream(file);
    Imf::MultiPartOutputFile output(stream, headers.data(), static_cast<int>(headers.size()));
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Imath::Box2i& box = parts[p].data;
        const int width = box.max.x - box.min.x + 1;
        const int height = box.max.y - box.min.y + 1;
        // Float and uint samples alike take 4 bytes.
        // Samples in the channels' own type: the library converts only when reading.
        const Imf::PixelType type = parts[p].type;
        const std::size_t bytes = type == Imf::HALF ? 2 : 4;
        std::vector<std::vector<char>> samples(parts[p].channels.size());
        Imf::FrameBuffer frame;
        for (std::size_t c = 0; c < parts[p].channels.size(); ++c) {
            for (int y = box.min.y; y <= box.max.y; ++y) {
                for (int x = box.min.x; x <= box.max.x; ++x) {
                    const float value = SeedSample(c, x, y);
                    const half halfValue(value);
                    const std::uint32_t uintValue = static_cast<std::uint32_t>(std::max(0.0f, value) * 1000.0f);
                    const void* sample = type == Imf::HALF   ? static_cast<const void*>(&halfValue)
                                         : type == Imf::UINT ? static_cast<const void*>(&uintValue)
                                                             : &value;
                    samples[c].insert(samples[c].end(), static_cast<const char*>(sample),
                                      static_cast<const char*>(sample) + bytes);
                }
            }
            frame.insert(parts[p].channels[c], Imf::Slice::Make(type, samples[c].data(), box.min, width, height));
        }
        if (parts[p].tiled) {
            Imf::TiledOutputPart tiles(output, static_cast<int>(p));
            tiles.setFrameBuffer(frame);
            // Every level: the pairs of x and y levels a ripmap has, the diagonal of the others.
            for (int x = 0; x < tiles.numXLevels(); ++x)
                for (int y = 0; y < tiles.numYLevels(); ++y)
                    if (x == y || parts[p].levels == Imf::RIPMAP_LEVELS)
                        tiles.writeTiles(0, tiles.numXTiles(x) - 1, 0, tiles.numYTiles(y) - 1, x, y);
        } else {
            Imf::OutputPart lines(output, static_cast<int>(p));
            lines.setFrameBuffer(frame);
            lines.writePixels(height);
        }
    }
    return file;
}

// The same file cut short (which still decodes when the cut spares what the
// default choice reads), with a header attribute's size damaged, and marked
// as deep.
void AddBroken(std::vector<Seed>& seeds, const std::string& name, const std::vector<std::uint8_t>& file,
               int cutExpect = 0) {
    const auto cut = file.begin() + static_cast<std::ptrdiff_t>(file.size() * 2 / 3);
    seeds.push_back({name + "_cut", std::vector<std::uint8_t>(file.begin(), cut), cutExpect, -1});
    std::vector<std::uint8_t> broken = file;
    const std::string attribute = "dataWindow";
    const auto at = std::search(broken.begin(), broken.end(), attribute.begin(), attribute.end());
    if (at == broken.end()) return;
    // The size after the name and "box2i": 16 becomes 15.
    *(at + static_cast<std::ptrdiff_t>(attribute.size() + 1 + 6)) = 15;
    seeds.push_back({name + "_header", broken, 0, -1});
    // Marked as deep data in the version word.
    std::vector<std::uint8_t> deep = file;
    deep[5] |= 0x08;
    seeds.push_back({name + "_deep", deep, 0, -1});
}

}  // namespace

std::vector<Seed> ExrSeeds() {
    std::vector<Seed> seeds;
    // The project's own writer: Y, YA, RGB, RGBA, half and float.
    for (const bool half : {true, false}) {
        for (int channels = 1; channels <= 4; ++channels) {
            dof::Image picture(9, 6, channels, dof::SampleType::kFloat32);
            float* samples = reinterpret_cast<float*>(picture.Data());
            for (int i = 0; i < 9 * 6 * channels; ++i) samples[i] = SeedSample(0, i % 13, i / 13);
            std::vector<unsigned char> file;
            std::string reason;
            if (!EncodeExr(picture, half, file, reason)) continue;
            const std::string name = std::string(half ? "exr_half_" : "exr_float_") + std::to_string(channels) + "ch";
            seeds.push_back({name, file, 1, -1});
            if (channels == 4) AddBroken(seeds, name, file);
        }
    }
    // Layouts it does not write, through the library itself.
    SeedPart rgbaz{"", {"A", "B", "G", "R", "Z"}};
    SeedPart tiled = rgbaz;
    tiled.tiled = true;
    SeedPart mipmap = tiled;
    mipmap.levels = Imf::MIPMAP_LEVELS;
    SeedPart ripmap = tiled;
    ripmap.levels = Imf::RIPMAP_LEVELS;
    SeedPart uints{"", {"Y", "Z"}, Imf::UINT};
    SeedPart inside = rgbaz;
    inside.data = Imath::Box2i(Imath::V2i(3, 2), Imath::V2i(9, 5));
    SeedPart overscan = rgbaz;
    overscan.data = Imath::Box2i(Imath::V2i(-4, -3), Imath::V2i(15, 10));
    const SeedPart layered{"", {"beauty.A", "beauty.B", "beauty.G", "beauty.R", "depth.Z"}};
    const SeedPart beauty{"beauty", {"A", "B", "G", "R"}};
    SeedPart depthPart{"depth", {"Z"}, Imf::FLOAT};
    depthPart.tiled = true;
    const struct {
        const char* name;
        std::vector<SeedPart> parts;
    } layouts[] = {{"exr_tiled", {tiled}},        {"exr_mipmap", {mipmap}},
                   {"exr_ripmap", {ripmap}},      {"exr_uint", {uints}},
                   {"exr_data_inside", {inside}}, {"exr_overscan", {overscan}},
                   {"exr_layers", {layered}},     {"exr_multipart", {beauty, depthPart}}};
    for (const auto& layout : layouts) {
        const std::vector<std::uint8_t> file = WriteSeedParts(layout.parts);
        seeds.push_back({layout.name, file, 1, -1});
        // Cut inside the depth part, the multi-part file still gives its colour.
        if (layout.parts.size() > 1) AddBroken(seeds, layout.name, file, 1);
    }
    // Every compression method the library has.
    const struct {
        const char* name;
        Imf::Compression compression;
    } methods[] = {{"none", Imf::NO_COMPRESSION},   {"rle", Imf::RLE_COMPRESSION},     {"zips", Imf::ZIPS_COMPRESSION},
                   {"piz", Imf::PIZ_COMPRESSION},   {"pxr24", Imf::PXR24_COMPRESSION}, {"b44", Imf::B44_COMPRESSION},
                   {"b44a", Imf::B44A_COMPRESSION}, {"dwaa", Imf::DWAA_COMPRESSION},   {"dwab", Imf::DWAB_COMPRESSION}};
    for (const auto& method : methods) {
        SeedPart part = rgbaz;
        part.compression = method.compression;
        seeds.push_back({std::string("exr_") + method.name, WriteSeedParts({part}), 1, -1});
        part.tiled = true;
        seeds.push_back({std::string("exr_tiled_") + method.name, WriteSeedParts({part}), 1, -1});
    }
    // Neither colour nor a depth the default choice finds.
    seeds.push_back({"exr_no_known_channels", WriteSeedParts({{"", {"U", "V"}}}), 0, -1});
    return seeds;
}
