// The physical camera mode as the API offers it: checks, the memory
// estimate, progress and cancellation around the physical engine.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <system_error>

#include <dof/Physical.h>

#include "api/ExactRun.h"
#include "api/Guarded.h"
#include "api/PhysicalRun.h"
#include "image/Conversions.h"
#include "physical/BokehKernel.h"
#include "physical/PhysicalEngine.h"
#include "physical/SourceTable.h"
#include "physical/ThinLens.h"
#include "platform/ParallelFor.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// Bytes a pixel: the far and near fields (32), the sources and then the
// background's measures (16), the push-pull pyramid (6), the result (up to
// 16), the highlight mask (1), and room.
constexpr double kBytesPerPixel = 110.0;

std::string SizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

double SampleOf(const unsigned char* row, int index, dof::SampleType type) {
    if (type == dof::SampleType::kFloat32) {
        float v;
        std::memcpy(&v, row + 4 * index, sizeof v);
        return v;
    }
    double v;
    std::memcpy(&v, row + 8 * index, sizeof v);
    return v;
}

// The first float sample (of the channels read) that fails ok, row by row.
template <class Rule>
dof::Error FirstBadSample(const dof::ImageView& view, int channels, const char* what, const char* rule, Rule ok) {
    if (!dof::IsFloat(view.Type())) return {};
    std::size_t count = 0;
    int firstX = 0;
    int firstY = 0;
    for (int y = 0; y < view.Height(); ++y)
        for (int x = 0; x < view.Width(); ++x)
            for (int k = 0; k < channels; ++k)
                if (!ok(SampleOf(view.Row(y), x * view.Channels() + k, view.Type())) && count++ == 0) {
                    firstX = x;
                    firstY = y;
                }
    if (count == 0) return {};
    return {dof::ErrorCode::kInvalidImage, std::string(what) + ": " + std::to_string(count) + " samples " + rule +
                                               ", the first at (" + std::to_string(firstX) + ", " +
                                               std::to_string(firstY) + ")"};
}

// Hands the engine's reports to the caller's progress function and asks
// its cancel token.
class PhysicalProgress : public PhysicalMonitor {
public:
    explicit PhysicalProgress(const dof::RunOptions& options) : options_(options) {}
    void SetUp(double largestDiameter) override {
        largest_ = largestDiameter;
        Emit(dof::Stage::kSetUp, 1.0);
    }
    void Report(double fraction) override { Emit(dof::Stage::kGather, fraction); }
    bool Stopped() override { return options_.cancel.Cancelled(); }

private:
    void Emit(dof::Stage stage, double fraction) {
        if (!options_.progress) return;
        dof::Progress progress;
        progress.stage = stage;
        progress.stageFraction = fraction;
        progress.fraction = stage == dof::Stage::kSetUp ? 0.0 : fraction;
        progress.largestBlur = largest_;
        options_.progress(progress);
    }
    const dof::RunOptions& options_;
    double largest_ = 0.0;
};

// The memory of a run with discs up to largest: the per-pixel arrays, the
// kernels being drawn (dense, one a thread) and kept (rows of steps; every
// diameter step may be in use, on both sides), and the band buffers.
double PhysicalBytes(int width, int height, double largest, int threads) {
    const double pixels = static_cast<double>(width) * height;
    auto side = [](double d) { return std::ceil(d * 0.55) * 2.0 + 9.0; };  // rows, with the tent and the frame's margin
    const int steps = DiameterStep(largest);
    double rows = 0.0;
    for (int q = 0; q <= steps && q <= pixels; ++q) rows += side(StepDiameter(q));
    const double drawing = threads * (side(largest) * side(largest) + 256.0 * side(largest)) * 8.0;
    const double kept = 2.0 * rows * 24.0 * sizeof(RunStep);
    const double bands = threads * PhysicalEngine::kDefaultBandHeight * (width + 4.0 * side(largest) + 16.0) * 16.0;
    return pixels * kBytesPerPixel + drawing + kept + bands;
}

dof::Result<dof::Image> RunChecked(const dof::ImageView& colour, const dof::ImageView& depth,
                                   const dof::ImageView& lens, const dof::PhysicalParams& params,
                                   const dof::RunOptions& options, PhysicalStats* stats,
                                   std::shared_ptr<PhysicalKernelCache> kernels) {
    if (dof::Error bad = dof::Validate(params)) return bad;
    for (const auto& image : {std::make_pair(&colour, "the colour"), std::make_pair(&depth, "the depth"),
                              std::make_pair(&lens, "the lens")})
        if (dof::Error bad = CheckImage(*image.first, image.second)) return bad;
    const int w = colour.Width();
    const int h = colour.Height();
    if (depth.Width() != w || depth.Height() != h)
        return dof::Error(dof::ErrorCode::kDepthSize, "the depth is " + SizeText(depth.Width(), depth.Height()) +
                                                          ", the colour " + SizeText(w, h));
    if (lens.Width() != 256 || lens.Height() != 256)
        return dof::Error(dof::ErrorCode::kLensSize,
                          "the lens is " + SizeText(lens.Width(), lens.Height()) + ", not 256x256");
    if (w >= (1 << Source::kColumnBits))
        return dof::Error(dof::ErrorCode::kInvalidImage, "the colour is " + std::to_string(w) +
                                                             " pixels wide; the physical mode takes fewer than " +
                                                             std::to_string(1 << Source::kColumnBits));
    // No guess is made for a depth that is not a distance; +inf is far.
    const BadDepth bad = FindBadDepth(depth);
    if (bad.count > 0)
        return dof::Error(dof::ErrorCode::kBadDepth,
                          std::to_string(bad.count) + (bad.count == 1 ? " pixel is" : " pixels are") +
                              " not a number or below zero, the first at (" + std::to_string(bad.x) + ", " +
                              std::to_string(bad.y) + ")");
    if (dof::Error bad = FirstBadSample(colour, std::min(colour.Channels(), 3), "the colour", "are not finite",
                                        [](double v) { return std::isfinite(v); }))
        return bad;

    const int threads = options.threads > 0 ? options.threads : ProcessorCount();
    double largest = 0.0;
    {
        const ThinLens thin(params.camera, w, PhysicalEngine::DiameterCap(params.camera, w, h));
        const UnfilledArray<double> values = DepthFromView(depth, params.camera.zReverse);
        for (double d : values) largest = std::max(largest, std::fabs(thin.Diameter(thin.Distance(d))));
    }
    const double needed = PhysicalBytes(w, h, largest, threads);
    const double limit = EffectiveMemoryLimit(options.memoryLimit);
    if (!(needed <= limit)) {
        char text[200];
        std::snprintf(text, sizeof text, "discs up to %g pixels on %dx%d need %.0f MiB, the limit is %.0f MiB", largest,
                      w, h, std::ceil(needed / kMiB), std::floor(limit / kMiB));
        return dof::Error(dof::ErrorCode::kTooLarge, text);
    }

    const dof::SampleType type = dof::IsFloat(colour.Type()) ? dof::SampleType::kFloat32 : colour.Type();
    dof::Image result(w, h, 4, type);
    PhysicalEngine engine(params, threads);
    PhysicalProgress progress(options);
    if (!kernels) kernels = std::make_shared<PhysicalKernelCache>(lens);
    const bool done = engine.Run(colour, depth, *kernels, result, progress);
    if (stats) *stats = engine.Stats();
    if (!done) return dof::Error(dof::ErrorCode::kCancelled, "the blur was cancelled");
    return result;
}

}  // namespace

dof::Result<dof::Image> RunPhysical(const dof::ImageView& colour, const dof::ImageView& depth,
                                    const dof::ImageView& lens, const dof::PhysicalParams& params,
                                    const dof::RunOptions& options, PhysicalStats* stats,
                                    std::shared_ptr<PhysicalKernelCache> kernels) {
    return Guarded([&] { return RunChecked(colour, depth, lens, params, options, stats, std::move(kernels)); });
}

namespace dof {

double DiscDiameter(const Camera& camera, int width, double z) {
    return ThinLens(camera, width, camera.maxBlur).Diameter(z);
}

Result<Image> BlurPhysical(const ImageView& colour, const ImageView& depth, const ImageView& lens,
                           const PhysicalParams& params, const RunOptions& options) {
    return RunPhysical(colour, depth, lens, params, options);
}

}  // namespace dof
