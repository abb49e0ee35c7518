#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "image/TgaImage.h"
#include "image/TgaWriter.h"
#include "support/TestFiles.h"

namespace {

using testfiles::Bytes;
using testfiles::MakeTga;
using testfiles::Picture;
using testfiles::TgaLayout;

// Loads a copy of bytes held in a buffer of exactly their size.
bool Load(CImageTga& image, const Bytes& bytes) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    return image.Load(data, bytes.size());
}

Bytes Decoded(const CImageTga& image) {
    Bytes out(image.rgba.size());
    image.CopyRGBA(out.data());
    return out;
}

std::string Describe(const TgaLayout& l) {
    return std::to_string(l.bitsPerPixel) + (l.runLength ? " rle" : " raw") + (l.topLeft ? " top-left" : " bottom-left") +
           " id=" + std::to_string(l.imageId.size()) + " map=" + std::to_string(l.colourMapEntries) + "x" +
           std::to_string(l.colourMapEntryBits);
}

TEST(TgaReader, EveryVariantDecodesToThePicture) {
    // Width 7: run-length packets of up to 128 pixels cross many row ends.
    const Picture colour = Picture::Pattern(7, 23, 1, /*opaque=*/false);
    for (int bits : {8, 24, 32}) {
        Picture expected = bits == 8 ? colour.AsGrey() : colour;
        if (bits == 24)
            for (std::size_t i = 3; i < expected.rgba.size(); i += 4) expected.rgba[i] = 255;
        for (bool runLength : {false, true})
            for (bool topLeft : {false, true})
                for (int id : {0, 39, 255})
                    for (int mapBits : {0, 15, 24, 32}) {
                        TgaLayout layout;
                        layout.bitsPerPixel = bits;
                        layout.runLength = runLength;
                        layout.topLeft = topLeft;
                        layout.imageId = std::string(static_cast<std::size_t>(id), 'I');
                        layout.colourMapEntries = mapBits ? 5 : 0;
                        layout.colourMapEntryBits = mapBits;
                        layout.footer = id == 39;
                        SCOPED_TRACE(Describe(layout));
                        const Bytes file = MakeTga(colour, layout);
                        CImageTga image;
                        ASSERT_TRUE(Load(image, file));
                        EXPECT_EQ(image.width, 7);
                        EXPECT_EQ(image.height, 23);
                        EXPECT_EQ(Decoded(image), expected.rgba);
                        // In the file's own channels: the same samples.
                        dof::Image natural;
                        ASSERT_TRUE(CImageTga::DecodeImage(file.data(), file.size(), natural));
                        const int channels = bits / 8;
                        ASSERT_EQ(natural.Channels(), channels);
                        Bytes samples;
                        for (std::size_t i = 0; i < expected.rgba.size(); i += 4)
                            samples.insert(samples.end(), &expected.rgba[i], &expected.rgba[i] + channels);
                        EXPECT_EQ(Bytes(natural.Data(), natural.Data() + samples.size()), samples);
                    }
    }
}

TEST(TgaReader, RunLengthFilesReallyUseBothPacketKinds) {
    // Guards the test above: the generator must emit runs and raw packets.
    const Picture picture = Picture::Pattern(7, 23, 1);
    const Bytes raw = MakeTga(picture, TgaLayout{});
    TgaLayout rle;
    rle.runLength = true;
    const Bytes packed = MakeTga(picture, rle);
    EXPECT_LT(packed.size(), raw.size());
    // Walk the packets, noting those that run on from one row into the next.
    bool sawRaw = false;
    bool sawRun = false;
    std::size_t pixel = 0;
    for (std::size_t i = 18; i < packed.size();) {
        const unsigned c = packed[i];
        const std::size_t count = c < 128 ? c + 1 : c - 127;
        const bool crossesRow = pixel / 7 != (pixel + count - 1) / 7;
        sawRun = sawRun || (c >= 128 && crossesRow);
        sawRaw = sawRaw || (c < 128 && crossesRow);
        i += 1 + (c < 128 ? count * 3 : 3);
        pixel += count;
    }
    EXPECT_EQ(pixel, 7u * 23u);
    EXPECT_TRUE(sawRun);
    EXPECT_TRUE(sawRaw);
}

TEST(TgaReader, BottomLeftFileStoresTheLastRowFirst) {
    Picture picture = Picture::Filled(2, 2, 0, 0, 0);
    picture.At(0, 1)[0] = 200;  // bottom-left pixel, red
    const Bytes file = MakeTga(picture, TgaLayout{});
    EXPECT_EQ(file[18 + 2], 200);  // first stored pixel, as B, G, R
    CImageTga image;
    ASSERT_TRUE(Load(image, file));
    EXPECT_EQ(image.rgba[(1 * 2 + 0) * 4], 200);
    EXPECT_EQ(image.rgba[3], 255);
}

TEST(TgaReader, ColumnsAreNeverMirrored) {
    Picture picture = Picture::Pattern(5, 3, 4);
    Bytes file = MakeTga(picture, TgaLayout{});
    file[17] |= 0x10;  // right-to-left bit, ignored
    CImageTga image;
    ASSERT_TRUE(Load(image, file));
    EXPECT_EQ(Decoded(image), picture.rgba);
}

TEST(TgaReader, OnlyTypeTenMeansRunLengthForTrueColour) {
    const Picture picture = Picture::Pattern(6, 4, 2);
    for (int type : {0, 2, 3, 9, 11}) {
        TgaLayout layout;
        layout.imageTypeOverride = type;
        CImageTga image;
        ASSERT_TRUE(Load(image, MakeTga(picture, layout))) << type;
        EXPECT_EQ(Decoded(image), picture.rgba) << type;
    }
}

TEST(TgaReader, ZeroWidthOrHeightIsAcceptedWithoutPixels) {
    for (const auto& size : {std::pair<int, int>{0, 5}, {3, 0}, {0, 0}}) {
        for (bool runLength : {false, true}) {
            Picture empty;
            empty.width = size.first;
            empty.height = size.second;
            TgaLayout layout;
            layout.runLength = runLength;
            CImageTga image;
            EXPECT_TRUE(Load(image, MakeTga(empty, layout)));
            EXPECT_EQ(image.width, size.first);
            EXPECT_EQ(image.height, size.second);
            EXPECT_TRUE(image.rgba.empty());
        }
    }
}

TEST(TgaReader, RefusesUnsupportedDepthsAndColourMappedGrey) {
    const Picture picture = Picture::Pattern(4, 4, 3);
    for (int bits : {1, 15, 16, 0, 64}) {
        Bytes file = MakeTga(picture, TgaLayout{});
        file[16] = static_cast<unsigned char>(bits);
        std::unique_ptr<unsigned char[]> data(new unsigned char[file.size()]);
        std::memcpy(data.get(), file.data(), file.size());
        CImageTga image;
        EXPECT_FALSE(image.Load(data, file.size())) << bits;
        EXPECT_FALSE(data) << "the refused buffer belongs to the reader";
        EXPECT_FALSE(image.fileData);
        EXPECT_EQ(image.width, 0);
    }
    for (int type : {1, 2, 9, 10}) {
        TgaLayout layout;
        layout.bitsPerPixel = 8;
        layout.imageTypeOverride = type;
        layout.colourMapEntries = type == 1 || type == 9 ? 256 : 0;
        CImageTga image;
        EXPECT_FALSE(Load(image, MakeTga(picture, layout))) << "8-bit type " << type;
    }
}

TEST(TgaReader, EmptyBufferStaysWithTheCaller) {
    CImageTga image;
    std::unique_ptr<unsigned char[]> data(new unsigned char[1]);
    EXPECT_FALSE(image.Load(data, 0));
    EXPECT_TRUE(data);
    std::unique_ptr<unsigned char[]> none;
    EXPECT_FALSE(image.Load(none, 10));
}

TEST(TgaReader, SecondLoadReplacesTheFirst) {
    CImageTga image;
    ASSERT_TRUE(Load(image, MakeTga(Picture::Pattern(9, 9, 1), TgaLayout{})));
    const Picture small = Picture::Pattern(2, 3, 2);
    ASSERT_TRUE(Load(image, MakeTga(small, TgaLayout{})));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(Decoded(image), small.rgba);
    Bytes bad = MakeTga(small, TgaLayout{});
    bad[16] = 16;
    EXPECT_FALSE(Load(image, bad));
    EXPECT_EQ(image.width, 0);
    EXPECT_TRUE(image.rgba.empty());
}

TEST(TgaReader, EveryTruncationIsRefused) {
    const Picture picture = Picture::Pattern(9, 7, 5);
    for (int bits : {8, 24, 32}) {
        for (bool runLength : {false, true}) {
            TgaLayout layout;
            layout.bitsPerPixel = bits;
            layout.runLength = runLength;
            layout.imageId = "an image id";
            layout.colourMapEntries = 4;
            const Bytes file = MakeTga(picture, layout);
            SCOPED_TRACE(Describe(layout));
            for (std::size_t size = 0; size < file.size(); ++size) {
                CImageTga image;
                EXPECT_FALSE(Load(image, Bytes(file.begin(), file.begin() + size))) << "size " << size;
            }
            CImageTga image;
            EXPECT_TRUE(Load(image, file));
        }
    }
}

TEST(TgaReader, HugeHeaderInATinyFileIsRefusedQuickly) {
    for (int bits : {8, 24, 32}) {
        for (bool runLength : {false, true}) {
            Bytes file(100, 0);
            file[2] = static_cast<unsigned char>(bits == 8 ? (runLength ? 11 : 3) : (runLength ? 10 : 2));
            file[12] = file[13] = file[14] = file[15] = 0xff;
            file[16] = static_cast<unsigned char>(bits);
            // A stream of maximal run packets, as dense as run-length data gets.
            for (std::size_t i = 18; i < file.size(); i += 1 + bits / 8) file[i] = 0xff;
            const auto start = std::chrono::steady_clock::now();
            CImageTga image;
            EXPECT_FALSE(Load(image, file)) << bits << (runLength ? " rle" : " raw");
            const auto elapsed = std::chrono::steady_clock::now() - start;
            EXPECT_LT(std::chrono::duration<double>(elapsed).count(), 0.05);
        }
    }
}

TEST(TgaWriter, OnePixelFileIsExactly48Bytes) {
    const unsigned char pixel[4] = {10, 20, 30, 40};
    CTGAImage writer;
    ASSERT_TRUE(writer.Encode(1, 1, pixel));
    ASSERT_EQ(writer.fileSize, 48u);
    Bytes expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 32, 8, 30, 20, 10, 40, 0, 0, 0, 0, 0, 0, 0, 0};
    const char signature[] = "TRUEVISON_TARGA";
    expected.insert(expected.end(), signature, signature + 15);
    expected.insert(expected.end(), {0, 0, 0});
    EXPECT_EQ(Bytes(writer.fileBytes.data(), writer.fileBytes.data() + writer.fileSize), expected);
}

TEST(TgaWriter, WritesBottomUpWithHeaderAndFooterAndReadsBack) {
    const Picture picture = Picture::Pattern(300, 7, 9, /*opaque=*/false);
    CTGAImage writer;
    ASSERT_TRUE(writer.Encode(picture.width, picture.height, picture.rgba.data()));
    const std::size_t size = 44 + 4 * 300 * 7;
    ASSERT_EQ(writer.fileSize, size);
    ASSERT_EQ(CTGAImage::EncodedSize(300, 7), size);
    const Bytes file(writer.fileBytes.data(), writer.fileBytes.data() + writer.fileSize);
    EXPECT_EQ(file[12], 300 & 0xff);
    EXPECT_EQ(file[13], 300 >> 8);
    EXPECT_EQ(file[14], 7);
    EXPECT_EQ(file[17], 8);
    // The first stored pixel is the bottom-left one, as B, G, R, A.
    const unsigned char* bottomLeft = picture.At(0, 6);
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 22),
              (Bytes{bottomLeft[2], bottomLeft[1], bottomLeft[0], bottomLeft[3]}));
    EXPECT_EQ(std::string(file.end() - 18, file.end() - 3), "TRUEVISON_TARGA");
    EXPECT_EQ(Bytes(file.end() - 26, file.end() - 18), Bytes(8, 0));

    CImageTga image;
    ASSERT_TRUE(Load(image, file));
    EXPECT_EQ(image.width, 300);
    EXPECT_EQ(image.height, 7);
    EXPECT_EQ(Decoded(image), picture.rgba);
}

// The program writes the file as it encodes it: the pieces, in order, are
// the file Encode makes whole, for every channel count; a piece that cannot
// be written stops it.
TEST(TgaWriter, WrittenInPiecesAsEncodedWhole) {
    const Picture picture = Picture::Pattern(300, 500, 3, /*opaque=*/false);
    for (const int channels : {1, 2, 3, 4}) {
        std::vector<unsigned char> samples;
        for (std::size_t i = 0; i < picture.rgba.size(); i += 4)
            samples.insert(samples.end(), picture.rgba.begin() + i, picture.rgba.begin() + i + channels);
        const dof::ImageView view(samples.data(), 300, 500, channels, dof::SampleType::kUInt8);
        CTGAImage whole;
        ASSERT_TRUE(whole.Encode(view));
        Bytes pieces;
        int count = 0;
        ASSERT_TRUE(CTGAImage::Write(view, [&](const unsigned char* bytes, std::size_t n) {
            pieces.insert(pieces.end(), bytes, bytes + n);
            ++count;
            return true;
        }));
        EXPECT_EQ(pieces, Bytes(whole.fileBytes.data(), whole.fileBytes.data() + whole.fileSize)) << channels;
        EXPECT_GT(count, 3);  // header, rows in more than one piece, footer
        int calls = 0;
        EXPECT_FALSE(CTGAImage::Write(view, [&](const unsigned char*, std::size_t) { return ++calls < 2; }));
        EXPECT_EQ(calls, 2);
    }
}

TEST(TgaWriter, EmptyPictureGivesHeaderAndFooterOnly) {
    CTGAImage writer;
    ASSERT_TRUE(writer.Encode(0, 0, nullptr));
    EXPECT_EQ(writer.fileSize, 44u);
}

TEST(TgaCodec, ExtensionGreyAndCreate) {
    CImageTga image;
    EXPECT_TRUE(image.MatchesExtension("a.tga"));
    EXPECT_TRUE(image.MatchesExtension("dir.x/B.TgA"));
    EXPECT_TRUE(image.MatchesExtension(".tga"));
    EXPECT_FALSE(image.MatchesExtension("a.tg"));
    EXPECT_FALSE(image.MatchesExtension("a.tgax"));
    EXPECT_FALSE(image.MatchesExtension("atga"));
    EXPECT_FALSE(image.MatchesExtension("tga"));
    EXPECT_FALSE(image.MatchesExtension(""));

    Picture picture = Picture::Filled(2, 1, 1, 1, 2);
    std::memcpy(picture.At(1, 0), "\xff\x00\x00\x00", 4);
    TgaLayout layout;
    layout.bitsPerPixel = 32;
    ASSERT_TRUE(Load(image, MakeTga(picture, layout)));
    unsigned char grey[2] = {9, 9};
    image.CopyGrey(grey);
    EXPECT_EQ(grey[0], 1);
    EXPECT_EQ(grey[1], 85);

    std::unique_ptr<CImageBase> fresh(image.Create());
    EXPECT_EQ(fresh->width, 0);
    EXPECT_TRUE(fresh->rgba.empty());
    EXPECT_FALSE(fresh->fileData);
}

}  // namespace
