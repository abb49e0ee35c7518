// What the mode does at depth edges and on flat regions, through the API
// with float (linear) pictures and the disc lens.
#include <gtest/gtest.h>

#include <random>

#include <dof/dof.h>

#include "physical/PhysicalScenes.h"

namespace {

using physicaltest::FloatPicture;
using physicaltest::Light;

constexpr int kSize = 96;

dof::Image Blur(const FloatPicture& colour, const std::vector<double>& discs) {
    const dof::PhysicalParams params = physicaltest::Camera();
    const FloatPicture depth = physicaltest::DepthFor(discs, colour.width, colour.height, params.camera);
    const dof::Result<dof::Image> lens = dof::ReadImage(physicaltest::LensPath("disc"));
    EXPECT_TRUE(lens.Ok());
    dof::Result<dof::Image> out = dof::BlurPhysical(colour.View(), depth.View(), lens.value(), params);
    EXPECT_TRUE(out.Ok()) << out.error().message;
    EXPECT_EQ(out.value().Type(), dof::SampleType::kFloat32);
    return std::move(out).value();
}

TEST(Occlusion, FlatRegionKeepsItsBrightness) {
    // Blocks of every kind of disc, near and far, one grey.
    std::mt19937 random(3);
    const double sizes[] = {-14.0, -5.0, 0.0, 3.0, 9.0, 20.0};
    std::vector<double> discs(kSize * kSize);
    std::vector<double> blocks(12 * 12);
    for (double& b : blocks) b = sizes[random() % 6];
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) discs[static_cast<std::size_t>(y * kSize + x)] = blocks[static_cast<std::size_t>((y / 8) * 12 + x / 8)];
    const dof::Image out = Blur(FloatPicture(kSize, kSize, 3, 0.3f), discs);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(Light(out, x, y, k), 0.3f, 2e-5) << x << "," << y;
}

TEST(Occlusion, SharpSubjectIsNotSmearedAndHasNoHalo) {
    FloatPicture colour(kSize, kSize, 3);
    std::vector<double> discs(kSize * kSize, 16.0);  // a red background, 16-pixel discs
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const bool subject = x >= 30 && x < 66 && y >= 30 && y < 66;
            colour.At(x, y)[subject ? 1 : 0] = subject ? 0.6f : 0.5f;  // a green subject in focus
            if (subject) discs[static_cast<std::size_t>(y * kSize + x)] = 0.0;
        }
    const dof::Image out = Blur(colour, discs);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const bool subject = x >= 30 && x < 66 && y >= 30 && y < 66;
            const bool beside = x >= 28 && x < 68 && y >= 28 && y < 68;
            if (subject) {
                ASSERT_NEAR(Light(out, x, y, 0), 0.0f, 1e-6);
                ASSERT_NEAR(Light(out, x, y, 1), 0.6f, 1e-6);
            } else if (!beside) {  // beyond the source pixel's own spread: no green, no dark ring
                ASSERT_LT(Light(out, x, y, 1), 1e-6) << x << "," << y;
                ASSERT_NEAR(Light(out, x, y, 0), 0.5f, 1e-5) << x << "," << y;
            }
        }
}

TEST(Occlusion, BlurredForegroundIsAVeilThatUncoversTheSubject) {
    FloatPicture colour(kSize, kSize, 3);
    std::vector<double> discs(kSize * kSize, 0.0);  // a blue subject in focus
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            float* p = colour.At(x, y);
            if (x >= 44 && x < 52) {  // a thin yellow bar in front, 24-pixel discs
                p[0] = p[1] = 1.0f;
                discs[static_cast<std::size_t>(y * kSize + x)] = -24.0;
            } else {
                p[2] = 0.4f;
            }
        }
    const dof::Image out = Blur(colour, discs);
    const int y = 48;
    // Red comes from the bar alone: it is the veil's coverage.
    EXPECT_LT(Light(out, 48, y, 0), 0.6f);  // even at its centre a thin bar hides only part
    for (int x = 48; x < 65; ++x) EXPECT_LE(Light(out, x + 1, y, 0), Light(out, x, y, 0) + 1e-6f) << x;
    EXPECT_GT(Light(out, 60, y, 0), 0.01f);
    for (int x = 65; x < kSize; ++x) EXPECT_LT(Light(out, x, y, 0), 1e-6f) << x;  // the disc's radius and the tent
    // What the veil leaves open, inside the bar's own silhouette too, is the
    // subject's blue, never the bar's yellow.
    for (int x = 0; x < kSize; ++x) {
        const float coverage = Light(out, x, y, 0);
        EXPECT_NEAR(Light(out, x, y, 1), coverage, 1e-5) << x;
        EXPECT_NEAR(Light(out, x, y, 2), 0.4f * (1.0f - coverage), 1e-5) << x;
    }
}

}  // namespace
