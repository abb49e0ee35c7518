// The OpenEXR reader and writer: round trips, the choice of layers and depth
// channels, windows, tiles, refusals, and the size peeked from the header.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfTiledOutputPart.h>
#include <gtest/gtest.h>
#include <half.h>

#include <algorithm>
#include <limits>

#include "image/Codecs.h"
#include "image/ExrStreams.h"

namespace {

// One part of a file the library writes for a test.
struct TestPart {
    std::string name;
    std::vector<std::string> channels;
    Imf::PixelType type = Imf::HALF;
    Imath::Box2i display{Imath::V2i(0, 0), Imath::V2i(9, 6)};
    Imath::Box2i data = display;
    bool tiled = false;
};

// Exact in half: channel c, at (x, y) of the file's coordinates.
float Sample(int c, int x, int y) { return static_cast<float>(c * 100 + y * 10) + 0.5f * static_cast<float>(x); }

std::vector<unsigned char> WriteParts(const std::vector<TestPart>& parts) {
    std::vector<Imf::Header> headers;
    for (const TestPart& part : parts) {
        Imf::Header header(part.display, part.data);
        for (const std::string& channel : part.channels) header.channels().insert(channel, Imf::Channel(part.type));
        if (!part.name.empty()) header.setName(part.name);
        header.setType(part.tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
        if (part.tiled) header.setTileDescription(Imf::TileDescription(4, 3));
        headers.push_back(header);
    }
    std::vector<unsigned char> file;
    ExrMemoryOutput stream(file);
    Imf::MultiPartOutputFile output(stream, headers.data(), static_cast<int>(headers.size()));
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Imath::Box2i& box = parts[p].data;
        const int width = box.max.x - box.min.x + 1;
        const int height = box.max.y - box.min.y + 1;
        // Samples in the channels' own type: the library converts only when reading.
        const Imf::PixelType type = parts[p].type;
        const std::size_t bytes = type == Imf::HALF ? 2 : 4;
        std::vector<std::vector<char>> samples(parts[p].channels.size());
        Imf::FrameBuffer frame;
        for (std::size_t c = 0; c < parts[p].channels.size(); ++c) {
            for (int y = box.min.y; y <= box.max.y; ++y) {
                for (int x = box.min.x; x <= box.max.x; ++x) {
                    const float value = Sample(static_cast<int>(c), x, y);
                    const half halfValue(value);
                    const unsigned uintValue = static_cast<unsigned>(std::max(0.0f, value));
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
            tiles.writeTiles(0, tiles.numXTiles() - 1, 0, tiles.numYTiles() - 1);
        } else {
            Imf::OutputPart lines(output, static_cast<int>(p));
            lines.setFrameBuffer(frame);
            lines.writePixels(height);
        }
    }
    return file;
}

DecodeResult Colour(const std::vector<unsigned char>& file, dof::Image& image, const std::string& layer = "") {
    return DecodeExrColour(file.data(), file.size(), layer, DecodeLimits(), image);
}

DecodeResult Depth(const std::vector<unsigned char>& file, dof::Image& image, const std::string& channel = "") {
    return DecodeExrDepth(file.data(), file.size(), channel, DecodeLimits(), image);
}

float At(const dof::Image& image, int x, int y, int c = 0) {
    return reinterpret_cast<const float*>(image.Row(y))[x * image.Channels() + c];
}

TEST(ExrCodecTest, RoundTripsHalfAndFloatForOneToFourChannels) {
    for (const bool half : {true, false}) {
        for (int channels = 1; channels <= 4; ++channels) {
            dof::Image picture(5, 3, channels, dof::SampleType::kFloat32);
            float* samples = reinterpret_cast<float*>(picture.Data());
            for (int i = 0; i < 5 * 3 * channels; ++i) samples[i] = 0.1f * static_cast<float>(i) - 0.77f;
            std::vector<unsigned char> file;
            std::string reason;
            ASSERT_TRUE(EncodeExr(picture, half, file, reason)) << reason;
            dof::Image decoded;
            ASSERT_EQ(Colour(file, decoded).status, DecodeStatus::kDecoded);
            ASSERT_EQ(decoded.Channels(), channels);
            ASSERT_EQ(decoded.Width(), 5);
            ASSERT_EQ(decoded.Height(), 3);
            const float* out = reinterpret_cast<const float*>(decoded.Data());
            for (int i = 0; i < 5 * 3 * channels; ++i)
                EXPECT_EQ(out[i], half ? static_cast<float>(::half(samples[i])) : samples[i]) << half << channels << i;
        }
    }
    std::vector<unsigned char> file;
    std::string reason;
    EXPECT_FALSE(EncodeExr(dof::Image(2, 2, 3, dof::SampleType::kUInt8), true, file, reason));
    EXPECT_FALSE(reason.empty());
}

TEST(ExrCodecTest, ColourComesFromTheFirstPartOrTheNamedLayer) {
    const std::vector<unsigned char> file = WriteParts({{"grey", {"A", "Y", "depth.Z"}},
                                                        {"beauty", {"B", "G", "R"}},
                                                        {"aovs", {"diffuse.B", "diffuse.G", "diffuse.R", "Z"}}});
    dof::Image image;
    ASSERT_EQ(Colour(file, image).status, DecodeStatus::kDecoded);
    ASSERT_EQ(image.Channels(), 2);  // Y, then A
    EXPECT_EQ(At(image, 3, 2, 0), Sample(1, 3, 2));
    EXPECT_EQ(At(image, 3, 2, 1), Sample(0, 3, 2));
    ASSERT_EQ(Colour(file, image, "beauty").status, DecodeStatus::kDecoded);
    ASSERT_EQ(image.Channels(), 3);  // R, G, B
    EXPECT_EQ(At(image, 1, 4, 0), Sample(2, 1, 4));
    EXPECT_EQ(At(image, 1, 4, 2), Sample(0, 1, 4));
    ASSERT_EQ(Colour(file, image, "diffuse").status, DecodeStatus::kDecoded);
    EXPECT_EQ(At(image, 1, 4, 0), Sample(2, 1, 4));
    const DecodeResult missing = Colour(file, image, "specular");
    EXPECT_EQ(missing.status, DecodeStatus::kFailed);
    EXPECT_NE(missing.reason.find("diffuse.R"), std::string::npos) << missing.reason;

    const DecodeResult none = Colour(WriteParts({{"", {"Z", "normal.X"}}}), image);
    EXPECT_EQ(none.status, DecodeStatus::kFailed);
    EXPECT_NE(none.reason.find("normal.X"), std::string::npos) << none.reason;
}

TEST(ExrCodecTest, DepthIsTheNamedChannelOrTheFirstOfZDepthZAnyZAndALoneChannel) {
    const struct {
        std::vector<TestPart> parts;
        std::string channel;
        std::size_t sample;  // Sample's channel number of the one expected
    } cases[] = {
        {{{"a", {"R", "depth.Z"}}, {"b", {"Z"}}}, "", 0},      // Z, though in a later part
        {{{"a", {"R", "a.Z", "depth.Z"}}}, "", 2},             // depth.Z before other *.Z
        {{{"a", {"R", "b.Z", "c.Z"}}}, "", 1},                 // the first *.Z
        {{{"a", {"R", "G"}}, {"b", {"distance"}}}, "", 0},     // a part's only channel
        {{{"a", {"R", "Z"}}, {"b", {"X", "far"}}}, "far", 1},  // the named one
    };
    for (const auto& test : cases) {
        dof::Image image;
        ASSERT_EQ(Depth(WriteParts(test.parts), image, test.channel).status, DecodeStatus::kDecoded);
        ASSERT_EQ(image.Channels(), 1);
        EXPECT_EQ(At(image, 2, 5), Sample(static_cast<int>(test.sample), 2, 5)) << test.parts[0].channels[1];
    }
    dof::Image image;
    const DecodeResult none = Depth(WriteParts({{"", {"R", "G"}}}), image);
    EXPECT_EQ(none.status, DecodeStatus::kFailed);
    EXPECT_NE(none.reason.find("G, R"), std::string::npos) << none.reason;
    EXPECT_EQ(Depth(WriteParts({{"", {"Z"}}}), image, "W").status, DecodeStatus::kFailed);
}

TEST(ExrCodecTest, SamplesOutsideTheDataWindowAreBlackOrFar) {
    // Inside and offset, and reaching out of the display window on every side.
    const Imath::Box2i windows[] = {{Imath::V2i(3, 2), Imath::V2i(6, 4)}, {Imath::V2i(-5, 4), Imath::V2i(20, 12)}};
    for (const Imath::Box2i& data : windows) {
        for (const bool tiled : {false, true}) {
            TestPart part{"", {"G", "R", "B", "Z"}, Imf::FLOAT};
            part.data = data;
            part.tiled = tiled;
            const std::vector<unsigned char> file = WriteParts({part});
            dof::Image colour;
            dof::Image depth;
            ASSERT_EQ(Colour(file, colour).status, DecodeStatus::kDecoded);
            ASSERT_EQ(Depth(file, depth).status, DecodeStatus::kDecoded);
            ASSERT_EQ(colour.Width(), 10);
            ASSERT_EQ(depth.Height(), 7);
            for (int y = 0; y < 7; ++y) {
                for (int x = 0; x < 10; ++x) {
                    const bool inside = data.intersects(Imath::V2i(x, y));
                    EXPECT_EQ(At(colour, x, y, 0), inside ? Sample(1, x, y) : 0.0f) << x << "," << y;
                    EXPECT_EQ(At(depth, x, y), inside ? Sample(3, x, y) : std::numeric_limits<float>::infinity());
                }
            }
        }
    }
}

TEST(ExrCodecTest, TiledAndUintFilesReadLikeScanlineHalfOnes) {
    dof::Image lines;
    ASSERT_EQ(Colour(WriteParts({{"", {"B", "G", "R"}}}), lines).status, DecodeStatus::kDecoded);
    TestPart tiled{"", {"B", "G", "R"}};
    tiled.tiled = true;
    TestPart whole{"", {"B", "G", "R"}, Imf::UINT};
    whole.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(0, 6));  // integers: x = 0 only
    for (const TestPart& part : {tiled, whole}) {
        dof::Image image;
        ASSERT_EQ(Colour(WriteParts({part}), image).status, DecodeStatus::kDecoded);
        const int width = part.type == Imf::UINT ? 1 : 10;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) EXPECT_EQ(At(image, x, y, c), At(lines, x, y, c));
    }
}

TEST(ExrCodecTest, RefusalBySizeAllocatesNothingAndCutFilesFailWithAReason) {
    const std::vector<unsigned char> file = WriteParts({{"", {"R", "G", "B", "Z"}}});
    int askedWidth = 0;
    int askedHeight = 0;
    DecodeLimits refuse;
    refuse.accept = [&](int width, int height) {
        askedWidth = width;
        askedHeight = height;
        return false;
    };
    dof::Image image;
    const DecodeResult refused = DecodeExrDepth(file.data(), file.size(), "", refuse, image);
    EXPECT_EQ(refused.status, DecodeStatus::kTooLarge);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(askedWidth, 10);
    EXPECT_EQ(askedHeight, 7);

    for (const std::size_t cut : {file.size() - 1, file.size() / 2, std::size_t{40}, std::size_t{3}}) {
        const std::vector<unsigned char> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const DecodeResult result = Colour(part, image);
        EXPECT_EQ(result.status, DecodeStatus::kFailed) << cut;
        EXPECT_FALSE(result.reason.empty());
        EXPECT_TRUE(image.Empty());
    }
}

TEST(ExrCodecTest, PeekGivesTheDecodedSizeOnceTheFirstHeaderIsThere) {
    TestPart part{"beauty", {"B", "G", "R"}};
    part.display = Imath::Box2i(Imath::V2i(-3, 5), Imath::V2i(30, 9));
    const std::vector<unsigned char> file = WriteParts({part, {"depth", {"Z"}, Imf::FLOAT, part.display}});
    dof::Image image;
    const DecodeResult decoded = Depth(file, image);
    ASSERT_EQ(decoded.status, DecodeStatus::kDecoded);
    const PeekedSize whole = PeekExr(file.data(), file.size());
    EXPECT_TRUE(whole.sized);
    EXPECT_EQ(whole.width, 34);
    EXPECT_EQ(whole.height, 5);
    EXPECT_EQ(decoded.width, 34);
    EXPECT_EQ(decoded.height, 5);
    // A head that stops inside the first header gives no size.
    std::size_t sized = file.size();
    for (std::size_t head = 0; head < file.size(); ++head) {
        const std::vector<unsigned char> bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(head));
        if (PeekExr(bytes.data(), head).sized) {
            sized = head;
            break;
        }
    }
    EXPECT_GT(sized, 100u);
    EXPECT_LT(sized, file.size() / 2);
}

}  // namespace
