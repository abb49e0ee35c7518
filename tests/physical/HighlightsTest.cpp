// Highlight recovery: the gain rule, blobs and their rims, partly clipped
// pixels, and float colour left alone unless asked.
#include <gtest/gtest.h>

#include <cmath>

#include <dof/dof.h>

#include "physical/Highlights.h"
#include "physical/PhysicalScenes.h"

namespace {

TEST(Highlights, GainFallsFromCompactToExtendedBlobs) {
    const dof::HighlightOptions o;
    EXPECT_DOUBLE_EQ(BlobGain(9.0, 10.0, o), 6.0);      // 9 pixels, disc area 78.5: a light
    EXPECT_DOUBLE_EQ(BlobGain(1.0, 0.0, o), 6.0);       // a lone sharp pixel: area 1 of 1
    EXPECT_DOUBLE_EQ(BlobGain(1200.0, 4.0, o), 1.5);    // an overexposed surface
    EXPECT_DOUBLE_EQ(BlobGain(400.0, 0.5, o), 1.5);     // sharp and large
    // Log-linear between: q = 4 lies half way from 1 to 16.
    const double q4 = 4.0 * M_PI / 4.0 * 10.0 * 10.0;
    EXPECT_NEAR(BlobGain(q4, 10.0, o), std::sqrt(6.0 * 1.5), 1e-12);
}

TEST(Highlights, BlobsTheirRimsAndGains) {
    // 8-bit grey 128 with a 3 x 3 light, a 30 x 40 clipped surface and a
    // nearly clipped pixel; discs of 10 px, 4 px on the surface.
    const int w = 64, h = 64;
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3, 128);
    auto set = [&](int x, int y, unsigned char v) {
        for (int k = 0; k < 3; ++k) rgb[(static_cast<std::size_t>(y) * w + x) * 3 + k] = v;
    };
    for (int y = 10; y < 13; ++y)
        for (int x = 10; x < 13; ++x) set(x, y, 255);
    for (int y = 30; y < 60; ++y)
        for (int x = 20; x < 60; ++x) set(x, y, 255);
    set(50, 5, 254);
    set(13, 11, 255);  // the light's anti-aliased rim, lying on the background behind
    dof::Camera camera = physicaltest::Camera().camera;
    const ThinLens lens(camera, w, INFINITY);
    std::vector<double> distances(static_cast<std::size_t>(w) * h, physicaltest::DistanceFor(10.0, camera, w));
    for (int y = 30; y < 60; ++y)
        for (int x = 20; x < 60; ++x) distances[static_cast<std::size_t>(y * w + x)] = physicaltest::DistanceFor(4.0, camera, w);
    distances[11 * w + 13] = physicaltest::DistanceFor(20.0, camera, w);
    LargeArray<float> discs(distances.size());
    for (std::size_t i = 0; i < discs.size(); ++i) discs[i] = static_cast<float>(lens.Diameter(distances[i]));
    const DepthReader depth(dof::ImageView(distances.data(), w, h, 1, dof::SampleType::kFloat64), false);

    const ColourReader colour(dof::ImageView(rgb.data(), w, h, 3, dof::SampleType::kUInt8));
    const dof::HighlightOptions options;
    const std::vector<ClippedGain> clipped = RecoverHighlights(colour, options, lens, depth, discs.data(), 2);
    std::vector<float> gains(static_cast<std::size_t>(w) * h, 1.0f);
    for (const ClippedGain& g : clipped) gains[g.pixel] = g.gain;
    EXPECT_EQ(clipped.size(), 9u + 1u + 30u * 40u);
    EXPECT_FLOAT_EQ(gains[11 * w + 11], 6.0f);
    EXPECT_FLOAT_EQ(gains[11 * w + 13], 6.0f);
    EXPECT_FLOAT_EQ(gains[40 * w + 40], 1.5f);
    EXPECT_EQ(gains[5 * w + 50], 1.0f);
    EXPECT_EQ(gains[0], 1.0f);
    // The rim took its light's depth and disc.
    EXPECT_NEAR(discs[11 * w + 13], 10.0f, 1e-4);

    // Pixels clipped in some channels only: those channels get the channel gain.
    const float pink[3] = {1.0f, 0.5f, 0.6f};
    float g[3];
    PartialGains(pink, options, g);
    EXPECT_EQ(g[0], 1.25f);
    EXPECT_EQ(g[1], 1.0f);
    const float white[3] = {1.0f, 1.0f, 1.0f};
    PartialGains(white, options, g);
    EXPECT_EQ(g[0], 1.0f);  // a blob's gain instead
}

TEST(Highlights, FloatColourIsLeftAloneUnlessAsked) {
    const int w = 32;
    const physicaltest::FloatPicture white(w, w, 3, 1.0f);
    dof::PhysicalParams params = physicaltest::Camera();
    const physicaltest::FloatPicture depth =
        physicaltest::DepthFor(std::vector<double>(w * w, 6.0), w, w, params.camera);
    const dof::Result<dof::Image> lens = dof::ReadImage(physicaltest::LensPath("disc"));
    ASSERT_TRUE(lens.Ok());
    const dof::Result<dof::Image> out = dof::BlurPhysical(white.View(), depth.View(), lens.value(), params);
    ASSERT_TRUE(out.Ok());
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < w; ++x) ASSERT_NEAR(physicaltest::Light(out.value(), x, y, 1), 1.0f, 1e-5);
    params.highlights.mode = dof::HighlightRecovery::kOn;  // one blob of the whole picture: extended
    const dof::Result<dof::Image> gained = dof::BlurPhysical(white.View(), depth.View(), lens.value(), params);
    ASSERT_TRUE(gained.Ok());
    EXPECT_NEAR(physicaltest::Light(gained.value(), 16, 16, 1), 1.5f, 1e-4);
}

}  // namespace
