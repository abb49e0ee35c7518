// The program with inputs and outputs in the formats of the field: the same
// output bytes from any encoding of the same values, finer depth where the
// file holds it, far depth at infinity, and no guess for depth that is not a
// distance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <dof/dof.h>

#include "e2e/SmallScene.h"
#include "image/Conversions.h"

namespace {

using e2e::SmallScene;
using testfiles::Bytes;

// A picture of the scene's directory, read by the library.
dof::Image Read(const SmallScene& scene, const std::string& name, bool depth = false) {
    dof::Result<dof::Image> image = depth ? dof::ReadDepth(scene.dir.File(name)) : dof::ReadImage(scene.dir.File(name));
    EXPECT_TRUE(image) << image.error().message;
    return std::move(image).value();
}

void Write(const SmallScene& scene, const std::string& name, const dof::ImageView& image, int bits = 0) {
    dof::WriteOptions options;
    options.bitDepth = bits;
    const dof::Error error = dof::WriteImage(scene.dir.File(name), image, options);
    ASSERT_FALSE(error) << error.message;
}

Bytes RunFor(const SmallScene& scene, const std::string& colour, const std::string& depth,
             std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-i", colour, "-z", depth, "-l", "lens.tga", "-s", "6", "-o", "out.tga"};
    args.insert(args.end(), more.begin(), more.end());
    const testfiles::RunResult run = scene.Run(args, /*files=*/false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return testfiles::ReadFile(scene.dir.File("out.tga"));
}

// Radiance depths that are powers of two: float holds them exactly.
Bytes PowerOfTwoDepth(int w, int h) {
    Bytes pixels;
    for (int i = 0; i < w * h; ++i) {
        const unsigned char e = static_cast<unsigned char>(125 + (i % 7) / 2);  // 2^-3 .. 2^0
        pixels.insert(pixels.end(), {255, 255, 255, e});
    }
    return testfiles::MakeRgbe(w, h, pixels);
}

TEST(FormatsRun, OtherEncodingsOfTheSameValuesGiveTheSameBytes) {
    SmallScene scene(40, 30);
    const Bytes expected = RunFor(scene, "colour.tga", "depth.tga");
    const dof::Image colour = Read(scene, "colour.tga");
    const dof::Image depth = Read(scene, "depth.tga", true);
    // 8-bit colour as PNG, TIFF and half OpenEXR (linear light); 8-bit depth
    // as 16-bit PNG and TIFF (b * 257 / 65535 is b / 255 exactly).
    Write(scene, "colour.png", colour);
    Write(scene, "colour.tif", colour, 16);
    Write(scene, "colour.exr", colour, 16);
    Write(scene, "depth.png", depth, 16);
    Write(scene, "depth.tif", depth, 16);
    EXPECT_EQ(RunFor(scene, "colour.png", "depth.png"), expected);
    EXPECT_EQ(RunFor(scene, "colour.tif", "depth.tif"), expected);
    EXPECT_EQ(RunFor(scene, "colour.exr", "depth.png"), expected);

    // Float depth: a Radiance file of powers of two and the OpenEXR file of
    // the same values.
    scene.Write("depth.hdr", PowerOfTwoDepth(40, 30));
    const dof::Image values = Read(scene, "depth.hdr", true);
    Write(scene, "depth.exr", ConvertSamples(values, dof::SampleType::kFloat32), 32);
    EXPECT_EQ(RunFor(scene, "colour.exr", "depth.exr", {"-c", "0.3"}), RunFor(scene, "colour.tga", "depth.hdr", {"-c", "0.3"}));
}

TEST(FormatsRun, InfiniteDepthIsFarAndNoNumberIsRefused) {
    SmallScene scene(24, 16);
    std::vector<float> depth(24 * 16, 0.25f);
    for (int x = 0; x < 24; ++x) depth[static_cast<std::size_t>(x)] = std::numeric_limits<float>::infinity();
    Write(scene, "sky.exr", dof::ImageView(depth.data(), 24, 16, 1, dof::SampleType::kFloat32), 32);
    const testfiles::RunResult sky = scene.Run({"-i", "colour.tga", "-z", "sky.exr", "-l", "lens.tga", "-o", "out.tga"}, false);
    EXPECT_EQ(sky.exitCode, 0) << sky.output;
    // The infinite row is as far as any: ratio 1, the blur size itself (16
    // by default), which the nearer rows at 0.25 reach too.
    EXPECT_EQ(sky.output.rfind("Init... size = 16.000000\n", 0), 0u) << sky.output;

    depth[5 * 24 + 7] = std::numeric_limits<float>::quiet_NaN();
    depth[9 * 24 + 2] = -1.0f;
    Write(scene, "bad.exr", dof::ImageView(depth.data(), 24, 16, 1, dof::SampleType::kFloat32), 32);
    const testfiles::RunResult bad =
        scene.Run({"-i", "colour.tga", "-z", "bad.exr", "-l", "lens.tga", "-o", "bad.tga"}, false);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.output, "bad depth!! _ bad.exr: 2 pixels are not a number or below zero, the first at (7, 5)\n");
    EXPECT_FALSE(testfiles::FileExists(scene.dir.File("bad.tga")));
}

TEST(FormatsRun, OutputFormatFollowsTheName) {
    SmallScene scene(20, 10);
    const Bytes tga = RunFor(scene, "colour.tga", "depth.tga");
    const dof::Image expected = Read(scene, "out.tga");
    for (const auto& output : {std::pair<const char*, const char*>{"out.png", "16"}, {"out.tif", "32"}, {"out.exr", "16"}}) {
        const testfiles::RunResult run = scene.Run({"-s", "6", "-o", output.first, "--bit-depth", output.second});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const dof::Image written = Read(scene, output.first);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) {
                unsigned char want[4], got[4];
                PixelToRgba8(expected, x, y, want);
                PixelToRgba8(written, x, y, got);
                ASSERT_EQ(std::memcmp(want, got, 4), 0) << output.first << " at " << x << ", " << y;
            }
    }
    // Any other name is a TGA file, as it always was.
    scene.Run({"-s", "6", "-o", "out.picture"});
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("out.picture")), tga);
}

}  // namespace
