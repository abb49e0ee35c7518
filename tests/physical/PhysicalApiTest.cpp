// The physical mode's contract: parameters checked in order, bad depth
// refused, progress and cancellation as in the exact mode, the same bytes
// for every thread count, and sRGB bytes kept where nothing is blurred.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <dof/dof.h>

#include "physical/PhysicalScenes.h"

namespace {

using physicaltest::FloatPicture;

struct Scene {
    int w = 61, h = 43;
    std::vector<unsigned char> rgb;
    FloatPicture depth{61, 43, 1};
    dof::Image lens;
    dof::PhysicalParams params = physicaltest::Camera();
};

// Bytes with clipped lights over depths from near to far.
Scene MakeScene() {
    Scene s;
    s.rgb.resize(static_cast<std::size_t>(s.w) * s.h * 3);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            unsigned char* p = &s.rgb[(static_cast<std::size_t>(y) * s.w + x) * 3];
            p[0] = static_cast<unsigned char>(x * 4);
            p[1] = static_cast<unsigned char>(y * 5);
            p[2] = (x % 9 == 0 && y % 7 == 0) ? 255 : 90;
            if (p[2] == 255) p[0] = p[1] = 255;
            const double c = (x < 20 ? -12.0 : x < 40 ? 0.3 : 9.0) + (y % 5);
            *s.depth.At(x, y) = static_cast<float>(physicaltest::DistanceFor(c, s.params.camera, s.w));
        }
    s.lens = dof::ReadImage(physicaltest::LensPath("hexagon")).value();
    return s;
}

dof::ImageView ColourOf(const Scene& s) { return dof::ImageView(s.rgb.data(), s.w, s.h, 3, dof::SampleType::kUInt8); }

TEST(PhysicalApi, ParametersAreCheckedInOrder) {
    dof::PhysicalParams p;
    EXPECT_EQ(dof::FirstInvalidParameter(p), dof::PhysicalParameter::kFNumber);  // must be set
    p.camera.fNumber = 2.8;
    EXPECT_EQ(dof::FirstInvalidParameter(p), dof::PhysicalParameter::kFocusDistance);
    p.camera.focusDistance = 3.0;
    EXPECT_EQ(dof::FirstInvalidParameter(p), dof::PhysicalParameter::kNone);
    p.camera.maxBlur = -1.0;
    p.highlights.extendedRatio = 0.5;
    EXPECT_EQ(dof::FirstInvalidParameter(p), dof::PhysicalParameter::kMaxBlur);
    const dof::Error error = dof::Validate(p);
    EXPECT_EQ(error.code, dof::ErrorCode::kBadParameter);
    EXPECT_NE(error.message.find("maxBlur = -1"), std::string::npos) << error.message;
    p.camera.maxBlur = INFINITY;
    EXPECT_EQ(dof::FirstInvalidParameter(p), dof::PhysicalParameter::kExtendedRatio);
    p.highlights.extendedRatio = 16.0;
    p.layersPerSide = 0;
    EXPECT_STREQ(dof::ParameterName(dof::FirstInvalidParameter(p)), "layersPerSide");
}

TEST(PhysicalApi, BadInputsAreErrorValues) {
    Scene s = MakeScene();
    auto blur = [&](const dof::RunOptions& options = dof::RunOptions()) {
        return dof::BlurPhysical(ColourOf(s), s.depth.View(), s.lens, s.params, options).error();
    };
    *s.depth.At(5, 3) = NAN;
    *s.depth.At(7, 3) = -1.0f;
    const dof::Error bad = blur();
    EXPECT_EQ(bad.code, dof::ErrorCode::kBadDepth);
    EXPECT_NE(bad.message.find("2 pixels"), std::string::npos) << bad.message;
    EXPECT_NE(bad.message.find("(5, 3)"), std::string::npos) << bad.message;
    *s.depth.At(5, 3) = INFINITY;  // simply far
    *s.depth.At(7, 3) = 0.0f;      // infinitely near: capped
    EXPECT_FALSE(blur());
    dof::RunOptions tight;
    tight.memoryLimit = 1 << 16;
    EXPECT_EQ(blur(tight).code, dof::ErrorCode::kTooLarge);
    const dof::ImageView smallLens(s.lens.Data(), 128, 128, s.lens.Channels(), dof::SampleType::kUInt8);
    EXPECT_EQ(dof::BlurPhysical(ColourOf(s), s.depth.View(), smallLens, s.params).error().code, dof::ErrorCode::kLensSize);
}

TEST(PhysicalApi, SameBytesForEveryThreadCount) {
    const Scene s = MakeScene();
    std::vector<unsigned char> first;
    for (int threads : {1, 2, 3}) {
        dof::RunOptions options;
        options.threads = threads;
        const dof::Result<dof::Image> out = dof::BlurPhysical(ColourOf(s), s.depth.View(), s.lens, s.params, options);
        ASSERT_TRUE(out.Ok()) << out.error().message;
        const std::vector<unsigned char> bytes(out.value().Data(), out.value().Data() + out.value().ByteCount());
        if (first.empty()) first = bytes;
        else EXPECT_EQ(bytes, first) << threads;
    }
}

TEST(PhysicalApi, ProgressAndCancellation) {
    const Scene s = MakeScene();
    dof::RunOptions options;
    std::vector<dof::Progress> seen;
    options.progress = [&](const dof::Progress& p) { seen.push_back(p); };
    ASSERT_TRUE(dof::BlurPhysical(ColourOf(s), s.depth.View(), s.lens, s.params, options).Ok());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().stage, dof::Stage::kSetUp);
    EXPECT_NEAR(seen.front().largestBlur, 13.0, 0.01);  // the far discs: 9 + 4
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].stage, dof::Stage::kGather);
        EXPECT_GE(seen[i].stageFraction, seen[i - 1].stage == dof::Stage::kGather ? seen[i - 1].stageFraction : 0.0);
    }
    EXPECT_EQ(seen.back().stageFraction, 1.0);

    for (dof::Stage when : {dof::Stage::kSetUp, dof::Stage::kGather}) {
        dof::RunOptions cancelling;
        cancelling.progress = [&](const dof::Progress& p) {
            if (p.stage == when) cancelling.cancel.Cancel();
        };
        EXPECT_EQ(dof::BlurPhysical(ColourOf(s), s.depth.View(), s.lens, s.params, cancelling).error().code,
                  dof::ErrorCode::kCancelled);
    }
}

TEST(PhysicalApi, BytesInFocusComeBackUnchanged) {
    // Every pixel at the focus: the identity kernel, sRGB decoded and
    // encoded back exactly; clipped lights stay white.
    Scene s = MakeScene();
    for (float& d : s.depth.values) d = static_cast<float>(s.params.camera.focusDistance);
    const dof::Result<dof::Image> out = dof::BlurPhysical(ColourOf(s), s.depth.View(), s.lens, s.params);
    ASSERT_TRUE(out.Ok());
    ASSERT_EQ(out.value().Type(), dof::SampleType::kUInt8);
    ASSERT_EQ(out.value().Channels(), 4);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(out.value().Row(y)[4 * x + k], k < 3 ? s.rgb[(static_cast<std::size_t>(y) * s.w + x) * 3 + k] : 255)
                    << x << "," << y << "," << k;
    // 16-bit colour likewise, in its own sample type.
    std::vector<std::uint16_t> words(s.rgb.size());
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(std::min<std::size_t>(s.rgb[i] * 257u + (i % 3) * 40, 65535));
    const dof::ImageView wide(words.data(), s.w, s.h, 3, dof::SampleType::kUInt16);
    const dof::Result<dof::Image> deep = dof::BlurPhysical(wide, s.depth.View(), s.lens, s.params);
    ASSERT_TRUE(deep.Ok());
    ASSERT_EQ(deep.value().Type(), dof::SampleType::kUInt16);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            for (int k = 0; k < 3; ++k) {
                std::uint16_t v;
                std::memcpy(&v, deep.value().Row(y) + 2 * (4 * x + k), sizeof v);
                const std::uint16_t in = words[(static_cast<std::size_t>(y) * s.w + x) * 3 + k];
                ASSERT_EQ(v, in) << x << "," << y;
            }
}

TEST(PhysicalApi, TinyAndEmptyPictures) {
    const dof::Image lens = dof::ReadImage(physicaltest::LensPath("disc")).value();
    const dof::PhysicalParams params = physicaltest::Camera();
    for (const auto& size : {std::make_pair(0, 0), std::make_pair(1, 1), std::make_pair(1, 7), std::make_pair(9, 1)}) {
        const int w = size.first, h = size.second;
        const FloatPicture colour(w, h, 3, 0.25f);
        const FloatPicture depth = physicaltest::DepthFor(std::vector<double>(w * h, -30.0), w, h, params.camera);
        const dof::Result<dof::Image> out = dof::BlurPhysical(colour.View(), depth.View(), lens, params);
        ASSERT_TRUE(out.Ok()) << w << "x" << h << ": " << out.error().message;
        EXPECT_EQ(out.value().Width(), w);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_NEAR(physicaltest::Light(out.value(), x, y, 0), 0.25f, 1e-6) << w << "x" << h;
    }
}

}  // namespace
