#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "api/ExactRun.h"
#include "api/Guarded.h"
#include "engine/ResourceLimits.h"
#include "image/Conversions.h"
#include "platform/MemoryBudget.h"
#include "platform/ParallelFor.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string SizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// Hands the engine's reports to the caller's progress function and asks its
// cancel token.
class ProgressMonitor : public RunMonitor {
public:
    explicit ProgressMonitor(const dof::RunOptions& options) : options_(options) {}

    void SetUp(double largestBlur) override {
        largestBlur_ = largestBlur;
        Emit(dof::Stage::kSetUp, 1.0);
    }
    void PassStarted(dof::Stage pass, int) override { Emit(pass, 0.0); }
    void PassReport(dof::Stage pass, int done, int total) override {
        Emit(pass, static_cast<double>(done) / total);
    }
    void PassEnded(dof::Stage pass) override { Emit(pass, 1.0); }
    bool Stopped() override { return options_.cancel.Cancelled(); }

private:
    void Emit(dof::Stage stage, double stageFraction) {
        if (!options_.progress) return;
        dof::Progress progress;
        progress.stage = stage;
        progress.stageFraction = stageFraction;
        progress.fraction = stage == dof::Stage::kSetUp     ? 0.0
                            : stage == dof::Stage::kFirstPass ? 0.5 * stageFraction
                                                              : 0.5 + 0.5 * stageFraction;
        progress.largestBlur = largestBlur_;
        options_.progress(progress);
    }

    const dof::RunOptions& options_;
    double largestBlur_ = 0.0;
};

}  // namespace

dof::Error PrepareExact(const dof::ImageView& colour, const dof::ImageView& depth, const dof::ImageView& lens,
                        const dof::ExactParams& params, const dof::RunOptions& options, int maxLanes,
                        PreparedBlur& prepared, std::shared_ptr<KernelCache> kernels) {
    if (dof::Error bad = dof::Validate(params)) return bad;
    for (const auto& image : {std::make_pair(&colour, "the colour"), std::make_pair(&depth, "the depth"),
                              std::make_pair(&lens, "the lens")})
        if (dof::Error bad = CheckImage(*image.first, image.second)) return bad;
    const int w = colour.Width();
    const int h = colour.Height();
    if (depth.Width() != w || depth.Height() != h)
        return {dof::ErrorCode::kDepthSize, "the depth is " + SizeText(depth.Width(), depth.Height()) +
                                                ", the colour " + SizeText(w, h)};
    if (lens.Width() != 256 || lens.Height() != 256)
        return {dof::ErrorCode::kLensSize, "the lens is " + SizeText(lens.Width(), lens.Height()) + ", not 256x256"};
    // No guess is made for a depth that is not a distance; +inf is far.
    const BadDepth bad = FindBadDepth(depth);
    if (bad.count > 0)
        return {dof::ErrorCode::kBadDepth, std::to_string(bad.count) + (bad.count == 1 ? " pixel is" : " pixels are") +
                                               " not a number or below zero, the first at (" + std::to_string(bad.x) +
                                               ", " + std::to_string(bad.y) + ")"};

    const int threads = options.threads > 0 ? options.threads : ProcessorCount();
    prepared.inputs.width = w;
    prepared.inputs.height = h;
    prepared.inputs.colour = ColourFromView(colour);
    prepared.engine = std::make_unique<CBlurEngine>(params, threads, maxLanes);
    // The largest blur sets the window, the distance table and the kernels:
    // found row by row as the depths are converted, while each row is at hand.
    std::vector<double> rowLargest(static_cast<std::size_t>(h), 0.0);
    const CBlurEngine& engine = *prepared.engine;
    prepared.inputs.depths = DepthFromView(depth, params.zReverse, threads, [&](int y, const double* row) {
        rowLargest[static_cast<std::size_t>(y)] = engine.LargestBlur(row, static_cast<std::size_t>(w));
    });
    prepared.inputs.kernels = kernels ? std::move(kernels) : std::make_shared<KernelCache>(LensFromView(lens));
    prepared.largestBlur = 0.0;
    for (const double largest : rowLargest) prepared.largestBlur = std::max(prepared.largestBlur, largest);
    prepared.inputs.largestBlur = prepared.largestBlur;
    const double pixels = static_cast<double>(w) * static_cast<double>(h);
    prepared.neededBytes = PixelBufferBytes(w, h) + BlurTableBytes(prepared.largestBlur, pixels);
    const double limit = EffectiveMemoryLimit(options.memoryLimit);
    if (!(prepared.neededBytes <= limit)) {
        char text[200];
        std::snprintf(text, sizeof text, "blurs up to %g pixels on %dx%d need %.0f MiB, the limit is %.0f MiB",
                      prepared.largestBlur, w, h, std::ceil(prepared.neededBytes / kMiB), std::floor(limit / kMiB));
        return {dof::ErrorCode::kTooLarge, text};
    }
    return {};
}

namespace {

dof::Result<dof::Image> RunChecked(const dof::ImageView& colour, const dof::ImageView& depth,
                                   const dof::ImageView& lens, const dof::ExactParams& params,
                                   const dof::RunOptions& options, int maxLanes, std::unique_ptr<CBlurEngine>* keep,
                                   std::shared_ptr<KernelCache> kernels, WorkCount count) {
    PreparedBlur prepared;
    if (dof::Error error = PrepareExact(colour, depth, lens, params, options, maxLanes, prepared, std::move(kernels)))
        return error;
    prepared.engine->CountWork(count == WorkCount::kCount);
    dof::Image result(colour.Width(), colour.Height(), 4, dof::SampleType::kUInt8);
    ProgressMonitor monitor(options);
    const bool done =
        prepared.engine->Run(std::move(prepared.inputs), result.Data(), result.RowStride(), monitor);
    if (keep) *keep = std::move(prepared.engine);
    if (!done) return dof::Error(dof::ErrorCode::kCancelled, "the blur was cancelled");
    return result;
}

}  // namespace

double EffectiveMemoryLimit(double limit) { return limit > 0.0 ? limit : MemoryBudget(); }

dof::Result<dof::Image> RunExact(const dof::ImageView& colour, const dof::ImageView& depth,
                                 const dof::ImageView& lens, const dof::ExactParams& params,
                                 const dof::RunOptions& options, int maxLanes, std::unique_ptr<CBlurEngine>* keep,
                                 std::shared_ptr<KernelCache> kernels, WorkCount count) {
    return Guarded(
        [&] { return RunChecked(colour, depth, lens, params, options, maxLanes, keep, std::move(kernels), count); });
}

namespace dof {

CancelToken::CancelToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
void CancelToken::Cancel() const noexcept { flag_->store(true); }
bool CancelToken::Cancelled() const noexcept { return flag_->load(); }

Result<Image> Blur(const ImageView& colour, const ImageView& depth, const ImageView& lens, const ExactParams& params,
                   const RunOptions& options) {
    return RunExact(colour, depth, lens, params, options);
}

}  // namespace dof
