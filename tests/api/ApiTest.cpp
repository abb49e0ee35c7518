// The library's contract as a user meets it: errors are values with reasons,
// progress comes in order on the calling thread, a cancelled blur stops, and
// neither the thread count nor the layout of the pictures changes a byte.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include <dof/dof.h>

#include "api/ExactRun.h"
#include "engine/EngineHarness.h"
#include "image/Conversions.h"
#include "support/Scenes.h"
#include "support/TestFiles.h"

namespace {

std::vector<unsigned char> BytesOf(const dof::Image& image) {
    return std::vector<unsigned char>(image.Data(), image.Data() + image.ByteCount());
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Api, FailuresAreErrorValuesWithReasons) {
    const BlurInput scene = MakeScene(31, 17);
    const InputViews views = ViewsOf(scene);
    const dof::ExactParams params = ParamsOf(scene);
    auto blur = [&](const dof::ImageView& colour, const dof::ImageView& depth, const dof::ImageView& lens,
                    const dof::ExactParams& p, const dof::RunOptions& options = dof::RunOptions()) {
        return dof::Blur(colour, depth, lens, p, options).error();
    };

    dof::ExactParams bad = params;
    bad.strong = 0.0;
    bad.zFar = NAN;
    EXPECT_EQ(dof::FirstInvalidParameter(bad), dof::Parameter::kStrong);
    EXPECT_EQ(blur(views.colour, views.depth, views.lens, bad).code, dof::ErrorCode::kBadParameter);
    EXPECT_TRUE(Contains(dof::Validate(bad).message, "strong = 0")) << dof::Validate(bad).message;
    bad.blurSize = INFINITY;
    EXPECT_EQ(dof::FirstInvalidParameter(bad), dof::Parameter::kBlurSize);

    const dof::ImageView fiveChannels(scene.colour.data(), 31, 17, 5, dof::SampleType::kUInt8);
    EXPECT_EQ(blur(fiveChannels, views.depth, views.lens, params).code, dof::ErrorCode::kInvalidImage);
    const dof::ImageView noPixels(nullptr, 31, 17, 4, dof::SampleType::kUInt8);
    EXPECT_EQ(blur(noPixels, views.depth, views.lens, params).code, dof::ErrorCode::kInvalidImage);
    const dof::ImageView narrowDepth(scene.depthBytes.data(), 30, 17, 4, dof::SampleType::kUInt8);
    EXPECT_EQ(blur(views.colour, narrowDepth, views.lens, params).code, dof::ErrorCode::kDepthSize);
    const dof::ImageView smallLens(scene.lens.data(), 255, 256, 4, dof::SampleType::kUInt8);
    const dof::Error lensError = blur(views.colour, views.depth, smallLens, params);
    EXPECT_EQ(lensError.code, dof::ErrorCode::kLensSize);
    EXPECT_TRUE(Contains(lensError.message, "255x256")) << lensError.message;
    dof::RunOptions tight;
    tight.memoryLimit = 1 << 20;
    EXPECT_EQ(blur(views.colour, views.depth, views.lens, params, tight).code, dof::ErrorCode::kTooLarge);

    testfiles::TempDir dir;
    const dof::Error missing = dof::ReadImage(dir.File("missing.tga")).error();
    EXPECT_EQ(missing.code, dof::ErrorCode::kReadFailed);
    EXPECT_TRUE(Contains(missing.message, "missing.tga: No such file")) << missing.message;
    testfiles::WriteFile(dir.File("text.tga"), {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(dof::ReadDepth(dir.File("text.tga")).error().code, dof::ErrorCode::kReadFailed);
    const dof::Image fiveWide(5, 4, 3, dof::SampleType::kUInt8);
    dof::WriteOptions sixteen;
    sixteen.bitDepth = 16;
    EXPECT_EQ(dof::WriteImage(dir.File("out.tga"), fiveWide, sixteen).code, dof::ErrorCode::kInvalidImage);
    const dof::Image picture(4, 4, 3, dof::SampleType::kUInt8);
    const dof::Error intoFolder = dof::WriteImage(dir.Path(), picture);
    EXPECT_EQ(intoFolder.code, dof::ErrorCode::kWriteFailed);
    EXPECT_FALSE(intoFolder.message.empty());
    EXPECT_TRUE(dof::ReadImage(dir.File("text.tga")).value().Empty()) << "a failed read gives an empty image";
}

TEST(Api, ProgressComesInOrderOnTheCallingThread) {
    const BlurInput scene = MakeScene(61, 47);
    const InputViews views = ViewsOf(scene);
    std::vector<dof::Progress> reports;
    dof::RunOptions options;
    options.threads = 2;
    const std::thread::id caller = std::this_thread::get_id();
    options.progress = [&](const dof::Progress& progress) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        reports.push_back(progress);
    };
    ASSERT_TRUE(dof::Blur(views.colour, views.depth, views.lens, ParamsOf(scene), options));
    ASSERT_GE(reports.size(), 5u);
    EXPECT_EQ(reports.front().stage, dof::Stage::kSetUp);
    EXPECT_EQ(reports.front().largestBlur, 80.0);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].fraction, reports[i - 1].fraction) << i;
        EXPECT_GE(static_cast<int>(reports[i].stage), static_cast<int>(reports[i - 1].stage)) << i;
        if (reports[i].stage == reports[i - 1].stage)
            EXPECT_GE(reports[i].stageFraction, reports[i - 1].stageFraction) << i;
        else
            EXPECT_EQ(reports[i].stageFraction, 0.0) << "a pass starts at 0";
    }
    EXPECT_EQ(reports.back().stage, dof::Stage::kGather);
    EXPECT_EQ(reports.back().stageFraction, 1.0);
    EXPECT_EQ(reports.back().fraction, 1.0);
}

TEST(Api, ACancelledBlurStopsAndSaysSo) {
    const BlurInput scene = MakeScene(480, 270);
    const InputViews views = ViewsOf(scene);
    for (const int threads : {1, 2}) {
        dof::RunOptions options;
        options.threads = threads;
        int reportsAfterCancel = 0;
        options.progress = [&](const dof::Progress& progress) {
            if (options.cancel.Cancelled()) ++reportsAfterCancel;
            if (progress.stage == dof::Stage::kFirstPass && progress.stageFraction > 0.1) options.cancel.Cancel();
        };
        const dof::Result<dof::Image> result = dof::Blur(views.colour, views.depth, views.lens, ParamsOf(scene), options);
        EXPECT_EQ(result.error().code, dof::ErrorCode::kCancelled) << threads << " threads";
        EXPECT_TRUE(result.value().Empty());
        EXPECT_EQ(reportsAfterCancel, 0) << "nothing is reported once cancelled";
    }
    // A token cancelled before the call, from another copy of it.
    dof::RunOptions options;
    const dof::CancelToken copy = options.cancel;
    copy.Cancel();
    EXPECT_EQ(dof::Blur(views.colour, views.depth, views.lens, ParamsOf(scene), options).error().code,
              dof::ErrorCode::kCancelled);
}

// The same bytes whatever the threads, for a picture stored bottom row first,
// for RGB without alpha, and for linear float colour that encodes to them.
TEST(Api, SameBytesForEveryThreadCountAndLayout) {
    BlurInput scene = MakeScene(37, 23);
    for (std::size_t i = 3; i < scene.colour.size(); i += 4) scene.colour[i] = 255;
    const InputViews views = ViewsOf(scene);
    const dof::ExactParams params = ParamsOf(scene);
    const dof::Result<dof::Image> reference = dof::Blur(views.colour, views.depth, views.lens, params);
    ASSERT_TRUE(reference);
    const std::vector<unsigned char> expected = BytesOf(reference.value());
    for (const int threads : {1, 3, 0}) {
        dof::RunOptions options;
        options.threads = threads;
        EXPECT_EQ(BytesOf(dof::Blur(views.colour, views.depth, views.lens, params, options).value()), expected);
    }

    const std::ptrdiff_t row = 37 * 4;
    std::vector<unsigned char> bottomUp(scene.colour.size());
    for (int y = 0; y < 23; ++y) std::memcpy(&bottomUp[(22 - y) * row], &scene.colour[y * row], row);
    const dof::ImageView flipped(&bottomUp[22 * row], 37, 23, 4, dof::SampleType::kUInt8, -row);
    EXPECT_EQ(BytesOf(dof::Blur(flipped, views.depth, views.lens, params).value()), expected);

    std::vector<unsigned char> rgb;
    std::vector<float> linear;
    for (std::size_t i = 0; i < scene.colour.size(); ++i) {
        if (i % 4 == 3) continue;
        rgb.push_back(scene.colour[i]);
        const double encoded = scene.colour[i] / 255.0;
        linear.push_back(static_cast<float>(encoded <= 0.04045 ? encoded / 12.92
                                                               : std::pow((encoded + 0.055) / 1.055, 2.4)));
    }
    const dof::ImageView rgbView(rgb.data(), 37, 23, 3, dof::SampleType::kUInt8);
    EXPECT_EQ(BytesOf(dof::Blur(rgbView, views.depth, views.lens, params).value()), expected);
    const dof::ImageView floatView(linear.data(), 37, 23, 3, dof::SampleType::kFloat32);
    EXPECT_EQ(BytesOf(dof::Blur(floatView, views.depth, views.lens, params).value()), expected);
}

// A lens prepared once gives, frame after frame and in either mode, the
// bytes of its picture, and its kernels are made once.
TEST(Api, APreparedLensGivesTheBytesOfItsPictureAndKeepsItsKernels) {
    BlurInput first = MakeScene(37, 23, 1);
    BlurInput second = MakeScene(37, 23, 2);
    const InputViews views = ViewsOf(first);
    const dof::Result<dof::Lens> lens = dof::Lens::Make(views.lens);
    ASSERT_TRUE(lens);
    dof::PhysicalParams camera;
    camera.camera.fNumber = 1.4;
    camera.camera.focalLength = 35;
    camera.camera.focusDistance = 0.5;
    for (const BlurInput* frame : {&first, &second, &first}) {
        const InputViews v = ViewsOf(*frame);
        EXPECT_EQ(BytesOf(dof::Blur(v.colour, v.depth, lens.value(), ParamsOf(*frame)).value()),
                  BytesOf(dof::Blur(v.colour, v.depth, v.lens, ParamsOf(*frame)).value()));
        EXPECT_EQ(BytesOf(dof::BlurPhysical(v.colour, v.depth, lens.value(), camera).value()),
                  BytesOf(dof::BlurPhysical(v.colour, v.depth, v.lens, camera).value()));
    }
    // Two runs that share the kernels hold the very same ones.
    auto kernels = std::make_shared<KernelCache>(LensFromView(views.lens));
    std::unique_ptr<CBlurEngine> runs[2];
    for (auto& run : runs)
        ASSERT_TRUE(RunExact(views.colour, views.depth, views.lens, ParamsOf(first), dof::RunOptions(), 0, &run, kernels));
    EXPECT_EQ(runs[0]->KernelFor(80.0), runs[1]->KernelFor(80.0));
    EXPECT_NE(runs[0]->KernelFor(80.0), nullptr);
    EXPECT_FALSE(dof::Lens::Make(dof::ImageView(first.lens.data(), 255, 256, 4, dof::SampleType::kUInt8)));
    EXPECT_EQ(dof::Blur(views.colour, views.depth, dof::Lens(), ParamsOf(first)).error().code,
              dof::ErrorCode::kInvalidImage);
}

TEST(Api, ImagesAreValuesAndTheVersionIsTheProjects) {
    dof::Image image(3, 2, 2, dof::SampleType::kUInt8);
    ASSERT_EQ(image.ByteCount(), 12u);
    for (int i = 0; i < 12; ++i) image.Data()[i] = static_cast<unsigned char>(i);
    dof::Image copy = image;
    copy.Data()[0] = 99;
    EXPECT_EQ(image.Data()[0], 0) << "copies are deep";
    const dof::Image moved = std::move(copy);
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(moved.Data()[0], 99);
    // Every other row of a taller picture, as a view, copied without gaps.
    const dof::ImageView everyOther(image.Data(), 3, 1, 2, dof::SampleType::kUInt8, 12);
    const dof::Image tight = dof::Image::CopyOf(everyOther);
    EXPECT_EQ(BytesOf(tight), std::vector<unsigned char>({0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(dof::Image(-1, 5, 3, dof::SampleType::kUInt8).Empty());
    EXPECT_STREQ(dof::Version(), DOF_VERSION);
}

}  // namespace
