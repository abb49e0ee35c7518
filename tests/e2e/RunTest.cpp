// Successful runs: the console lines, the written file, how the depth file is
// chosen and read, and inputs in other encodings giving the same output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "e2e/SmallScene.h"
#include "image/TgaImage.h"

namespace {

using e2e::FlatDepth;
using e2e::FlatRgbe;
using e2e::Layout;
using e2e::SmallScene;
using testfiles::Bytes;
using testfiles::Picture;
using testfiles::RunResult;
using testfiles::TgaLayout;

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

TEST(Run, ConsoleLinesOfASuccessfulRun) {
    SmallScene scene;
    RunResult run = scene.Run({"-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 0);
    // A tiny picture is gathered within a second: only the final progress line.
    const std::regex expected(
        "Init\\.\\.\\. size = 8\\.000000\n"
        "state\\.\\.\\. 100%\n"
        "[0-9]+\\.[0-9]{3} sec\n"
        "out > out\\.tga\n");
    EXPECT_TRUE(std::regex_match(run.output, expected)) << run.output;

    std::filesystem::create_directory(scene.dir.File("sub"));
    run = scene.Run({"-o", "sub/result file.tga"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(std::regex_search(run.output, std::regex("\n[0-9]+\\.[0-9]{3} sec\nout > sub/result file\\.tga\n$")))
        << run.output;
    EXPECT_TRUE(testfiles::FileExists(scene.dir.File("sub/result file.tga")));
}

TEST(Run, WrittenFileHasTheDocumentedLayoutAndReadsBack) {
    SmallScene scene(300, 2);  // wider than 255: the width's high byte is used
    const RunResult run = scene.Run({"-s", "3", "-o", "out.tga"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Bytes file = testfiles::ReadFile(scene.dir.File("out.tga"));
    ASSERT_EQ(file.size(), 44u + 4 * 300 * 2);
    const Bytes header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 300 & 0xff, 300 >> 8, 2, 0, 32, 8};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), header);
    Bytes footer(8, 0);
    const char signature[] = "TRUEVISON_TARGA";
    footer.insert(footer.end(), signature, signature + 15);
    footer.insert(footer.end(), {0, 0, 0});
    EXPECT_EQ(Bytes(file.end() - 26, file.end()), footer);

    std::unique_ptr<unsigned char[]> data(new unsigned char[file.size()]);
    std::copy(file.begin(), file.end(), data.get());
    CImageTga image;
    ASSERT_TRUE(image.Load(data, file.size()));
    EXPECT_EQ(image.width, 300);
    EXPECT_EQ(image.height, 2);
    // An opaque picture stays opaque, and it is not black.
    bool lit = false;
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        EXPECT_EQ(image.rgba[i + 3], 255);
        lit = lit || image.rgba[i] || image.rgba[i + 1] || image.rgba[i + 2];
    }
    EXPECT_TRUE(lit);
}

TEST(Run, DepthFormatIsChosenByContentNotByName) {
    SmallScene scene;
    // 255 / 255 x 2^-2 = 0.25 exactly: blur 16 with the defaults.
    scene.Write("radiance.tga", FlatRgbe(8, 6, 255, 126));
    scene.Write("grey.hdr", FlatDepth(8, 6, 255), Layout(8));
    RunResult run = scene.Run({"-z", "radiance.tga", "-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(FirstLine(run.output), "Init... size = 16.000000\n");
    run = scene.Run({"-z", "grey.hdr", "-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(FirstLine(run.output), "Init... size = 8.000000\n");
}

TEST(Run, ReverseInvertsEitherDepthFormat) {
    SmallScene scene;
    scene.Write("zero.tga", FlatDepth(8, 6, 0), Layout(8));
    scene.Write("quarter.hdr", FlatRgbe(8, 6, 255, 126));
    // Depth 0 is distance 0: ratio 100, clamped to 5 x 16; reversed it is 1.
    EXPECT_EQ(FirstLine(scene.Run({"-z", "zero.tga", "-o", "o.tga"}).output), "Init... size = 80.000000\n");
    EXPECT_EQ(FirstLine(scene.Run({"-z", "zero.tga", "-r", "-o", "o.tga"}).output), "Init... size = 8.000000\n");
    // 0.25 reversed is 0.75: |0.25 / 0.75| x 16.
    EXPECT_EQ(FirstLine(scene.Run({"-z", "quarter.hdr", "-r", "-o", "o.tga"}).output), "Init... size = 5.333333\n");

    // With -r a grey depth gives what its negative gives without.
    Picture depth = Picture::Pattern(8, 6, 3).AsGrey();
    Picture negative = depth;
    for (unsigned char& b : negative.rgba) b = static_cast<unsigned char>(255 - b);
    scene.Write("depth.tga", depth, Layout(8));
    scene.Write("negative.tga", negative, Layout(8));
    ASSERT_EQ(scene.Run({"-z", "depth.tga", "-r", "-o", "a.tga"}).exitCode, 0);
    ASSERT_EQ(scene.Run({"-z", "negative.tga", "-o", "b.tga"}).exitCode, 0);
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("a.tga")), testfiles::ReadFile(scene.dir.File("b.tga")));
}

TEST(Run, OtherEncodingsOfTheSameInputsGiveByteIdenticalOutput) {
    const int w = 40;
    const int h = 30;
    SmallScene scene(w, h);
    const Picture colour = Picture::Pattern(w, h, 11);
    const Picture depth = Picture::Pattern(w, h, 12).AsGrey();
    const Picture lens = Picture::Disc(256, 90.0);
    scene.Write("colour.tga", colour, Layout(24));
    scene.Write("depth.tga", depth, Layout(8));
    scene.Write("lens.tga", lens, Layout(24));
    const std::vector<std::string> options = {"-s", "4", "-c", "0.4"};
    auto run = [&](const std::string& colourFile, const std::string& depthFile, const std::string& lensFile) {
        std::vector<std::string> args = {"-i", colourFile, "-z", depthFile, "-l", lensFile, "-o", "out.tga"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult result = scene.Run(args, false);
        EXPECT_EQ(result.exitCode, 0) << colourFile << " " << depthFile << " " << lensFile << "\n" << result.output;
        return testfiles::ReadFile(scene.dir.File("out.tga"));
    };
    const Bytes plain = run("colour.tga", "depth.tga", "lens.tga");
    ASSERT_EQ(plain.size(), 44u + 4 * w * h);

    auto layout = [](int bits, bool rle, bool topLeft, std::size_t id, int mapEntries, int mapBits) {
        TgaLayout l = Layout(bits, rle);
        l.topLeft = topLeft;
        l.imageId = std::string(id, '#');
        l.colourMapEntries = mapEntries;
        l.colourMapEntryBits = mapBits;
        return l;
    };
    const std::vector<TgaLayout> colourLayouts = {
        layout(24, true, false, 0, 0, 0),    layout(24, false, true, 39, 0, 0),  layout(24, true, true, 255, 0, 0),
        layout(32, false, false, 0, 0, 0),   layout(32, true, true, 12, 0, 0),   layout(24, false, false, 0, 16, 15),
        layout(32, true, false, 3, 256, 24), layout(24, false, true, 0, 7, 32),
    };
    for (std::size_t k = 0; k < colourLayouts.size(); ++k) {
        scene.Write("variant.tga", colour, colourLayouts[k]);
        EXPECT_EQ(run("variant.tga", "depth.tga", "lens.tga"), plain) << "colour layout " << k;
    }
    const std::vector<TgaLayout> depthLayouts = {
        layout(8, true, false, 0, 0, 0), layout(8, false, true, 39, 0, 0), layout(8, true, true, 200, 4, 24),
        layout(24, true, false, 0, 0, 0), layout(32, false, true, 5, 0, 0),
    };
    for (std::size_t k = 0; k < depthLayouts.size(); ++k) {
        scene.Write("variant.tga", depth, depthLayouts[k]);
        EXPECT_EQ(run("colour.tga", "variant.tga", "lens.tga"), plain) << "depth layout " << k;
    }
    // A Radiance depth with exponent 128 holds byte / 255 in R, G and B; its
    // mean ((G + R) + B) / 3 is that value again only for some bytes, so both
    // depth files use such bytes.
    Picture exactDepth = depth;
    auto exactMean = [](int b) {
        const double x = b / 255.0;
        return ((x + x) + x) / 3.0 == x;
    };
    for (std::size_t i = 0; i < exactDepth.rgba.size(); i += 4) {
        int b = exactDepth.rgba[i];
        while (!exactMean(b)) --b;
        std::fill(&exactDepth.rgba[i], &exactDepth.rgba[i] + 3, static_cast<unsigned char>(b));
    }
    scene.Write("exact.tga", exactDepth, Layout(8));
    Bytes rgbe;
    for (std::size_t i = 0; i < exactDepth.rgba.size(); i += 4) {
        const unsigned char b = exactDepth.rgba[i];
        rgbe.insert(rgbe.end(), {b, b, b, 128});
    }
    testfiles::RgbeLayout crlf;
    crlf.crlf = true;
    crlf.extraLines = {"EXPOSURE=1.0", "# written by a test"};
    scene.Write("depth.hdr", testfiles::MakeRgbe(w, h, rgbe, crlf));
    const Bytes greyTwin = run("colour.tga", "exact.tga", "lens.tga");
    EXPECT_NE(greyTwin, plain);
    EXPECT_EQ(run("colour.tga", "depth.hdr", "lens.tga"), greyTwin) << "Radiance depth";

    const std::vector<TgaLayout> lensLayouts = {layout(32, true, true, 17, 0, 0), layout(24, true, false, 0, 2, 16)};
    for (std::size_t k = 0; k < lensLayouts.size(); ++k) {
        scene.Write("variant.tga", lens, lensLayouts[k]);
        EXPECT_EQ(run("colour.tga", "depth.tga", "variant.tga"), plain) << "lens layout " << k;
    }
}

}  // namespace
