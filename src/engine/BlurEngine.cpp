#include "engine/BlurEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "engine/DepthBlur.h"
#include "engine/Rounding.h"
#include "platform/Lanes.h"
#include "platform/ParallelFor.h"

namespace {
// What a kernel cache shared by the runs of a shot keeps at most between runs.
constexpr std::size_t kKernelCacheBytes = std::size_t{256} << 20;
}  // namespace

CBlurEngine::CBlurEngine(const dof::ExactParams& params, int threads, int maxLanes)
    : params_(params), maxBlur_(params.MaxBlur()), threads_(threads > 0 ? threads : 1), maxLanes_(maxLanes) {}

double CBlurEngine::BlurOfDepth(double d) const {
    return BlurFromDepth(d, params_.blurSize, params_.focus, params_.zNear, params_.zFar, maxBlur_);
}

double CBlurEngine::LargestBlur(const double* depths, std::size_t count) const {
    double largest = 0.0;
    // Neighbouring pixels mostly share a depth, and so a blur.
    double lastDepth = 0.0, lastBlur = 0.0;
    bool known = false;
    for (std::size_t i = 0; i < count; ++i) {
        const double d = depths[i];
        if (!known || !(d == lastDepth)) {
            lastDepth = d;
            lastBlur = BlurOfDepth(d);
            known = true;
        }
        largest = std::max(largest, lastBlur);
    }
    return largest;
}

bool CBlurEngine::ForEachRow(int rows, const std::function<void(int)>& work, RunMonitor& monitor,
                             const dof::Stage* pass) {
    const auto start = std::chrono::steady_clock::now();
    const bool done = ParallelFor(rows, threads_, work, [&](int finished) {
        if (pass) monitor.PassReport(*pass, finished, rows);
        return !monitor.Stopped();
    });
    // The rows of a pass are its work proper; the rest prepares them.
    if (pass) stats_.rowLoopsMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return done;
}

void CBlurEngine::FillDistanceTable() {
    const int k = kernelSize_;
    const int h = k / 2;
    distanceTable_.assign(static_cast<std::size_t>(k) * static_cast<std::size_t>(k), 0.0);
    for (int dy = -h; dy <= -h + k - 1; ++dy)
        for (int dx = -h; dx <= -h + k - 1; ++dx)
            distanceTable_[static_cast<std::size_t>(h + dy) * k + (h + dx)] =
                2.0 * std::sqrt(static_cast<double>(dx * dx + dy * dy));

    // The same distances for offsets -h..h in both axes, so that either sign
    // of an offset can be looked up with the same stride; zeros around them.
    const int side = 2 * h + 1;
    const std::size_t stride = static_cast<std::size_t>(side + 2 * kRowPad);
    symmetricTable_.assign(static_cast<std::size_t>(side) * stride, 0.0);
    for (int dy = -h; dy <= h; ++dy) {
        double* row = const_cast<double*>(DistanceRow(dy));
        for (int dx = -h; dx <= h; ++dx) row[dx] = 2.0 * std::sqrt(static_cast<double>(dx * dx + dy * dy));
    }
}

// The exposure of a byte b: strong^(255 b / 255) for colour (b itself when
// strong is 1: the mean is then linear), b for alpha.
void CBlurEngine::FillExposureTables() {
    const bool linear = params_.strong == 1.0;
    for (int b = 0; b < 256; ++b) {
        const double c = b / 255.0;
        exposureTable_[b] = linear ? c * 255.0 : std::pow(params_.strong, c * 255.0);
        alphaExposureTable_[b] = c * 255.0;
    }
    colourBytes_ = std::make_unique<ExposureBytes>(params_.strong);
}

// The largest blur (measured before the run where the caller did so) and the
// window it implies. Every pixel's own blur is worked out with its reach
// (see ComputeBlursAndReaches), in one pass over the depths.
void CBlurEngine::Setup(double largestBlur) {
    largestBlur_ = largestBlur >= 0.0 ? largestBlur : LargestBlur(depths_.data(), depths_.size());
    kernelSize_ = KernelDimension(largestBlur_);
    FillDistanceTable();
    FillExposureTables();
    blockLanes_ = LanesFor(maxLanes_);
    spreadRow_ = ChooseSpreadRow(maxLanes_, false);
    spreadSumsRow_ = ChooseSpreadRow(maxLanes_, true);
    rowSpreads_ = ChooseRowSpreads(maxLanes_);
}

bool CBlurEngine::LinkKernels(RunMonitor& monitor) {
    BuildKernelLanes();
    // The gather's lanes, from here on. A colour lens keeps four sums and
    // four weights a target: in blocks of two registers they leave too few
    // registers for the rest, so its gather takes blocks of one.
    const int gatherMaxLanes = greyKernels_ || (maxLanes_ > 0 && maxLanes_ <= 8) ? maxLanes_ : 8;
    blockLanes_ = LanesFor(gatherMaxLanes);
    gatherRow_ = ChooseGatherRow(gatherMaxLanes);
    // A grey lens in two registers' lanes takes several target rows at once
    // in blocks of one register: a source's set-up serves every row, and the
    // narrower blocks waste fewer lanes past short spans.
    gatherGroup_ = greyKernels_ ? ChooseGatherGroup(gatherMaxLanes) : nullptr;
    alphaOfWeight_ = gatherGroup_ != nullptr && AlphaFollowsWeight();
    // Ids in key order; those of spreads that are thirds (all but a few)
    // also by their numerator.
    std::map<double, std::uint32_t> ids;
    constexpr std::uint32_t kNoId = 0xffffffffu;
    std::vector<std::uint32_t> idOfThirds;
    for (const auto& entry : kernels_) {
        const auto id = static_cast<std::uint32_t>(ids.size());
        ids.emplace(entry.first, id);
        std::size_t n = 0;
        if (!ThirdsOf(entry.first, kNumberedThirds, n)) continue;
        if (n >= idOfThirds.size()) idOfThirds.resize(n + 1, kNoId);
        idOfThirds[n] = id;
    }
    rowMaxSpread_.assign(static_cast<std::size_t>(height_), 0.0);
    // The gather's lists, made as the kernels are linked: per row, the pixels
    // whose spread covers another row (passes the reach test at |dy| = 1),
    // each a run of one, at the row's own place (its pages are touched only
    // as far as it is filled). Rows wider than the lists' 16-bit columns are
    // visited whole.
    const bool listed = width_ <= 65535;
    sourceRuns_.resize(listed ? spreads_.size() : 0);
    runStart_.resize(static_cast<std::size_t>(height_) + 1);
    runEnd_.resize(static_cast<std::size_t>(height_));
    const double depthScale = params_.zFar - params_.zNear, zNear = params_.zNear, focus = params_.focus;
    const bool linked = ForEachRow(height_, [&](int y) {
        double lastSpread = -1.0;
        std::uint32_t lastId = 0;
        bool lastReaches = false;
        double rowMax = 0.0;
        const std::size_t row = Index(0, y);
        const double* const spreads = &spreads_[row];
        const double* const depths = &depths_[row];
        std::uint32_t* const kernelIds = &kernelIds_[row];
        std::uint8_t* const inFront = &inFront_[row];
        ColumnRun* const runs = listed ? &sourceRuns_[row] : nullptr;
        std::size_t runCount = 0;
        for (int x = 0; x < width_; ++x) {
            const double spread = spreads[x];
            if (spread != lastSpread) {
                lastSpread = spread;
                std::size_t n = 0;
                lastId = ThirdsOf(spread, idOfThirds.size(), n) ? idOfThirds[n] : kNoId;
                if (lastId == kNoId) lastId = ids.at(spread);
                lastReaches = listed && kernelLanes_[lastId].reach >= 1;
            }
            kernelIds[x] = lastId;
            if (lastReaches) runs[runCount++] = ColumnRun{static_cast<std::uint16_t>(x), 1};
            if (spread > rowMax) rowMax = spread;
            inFront[x] = (depthScale * depths[x] + zNear <= focus) ? 1 : 0;
        }
        rowMaxSpread_[static_cast<std::size_t>(y)] = rowMax;
        runStart_[static_cast<std::size_t>(y)] = row;
        runEnd_[static_cast<std::size_t>(y)] = row + runCount;
    }, monitor);
    return linked;
}

namespace {
double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

bool CBlurEngine::Run(EngineInputs inputs, unsigned char* output, std::ptrdiff_t outputStride, RunMonitor& monitor) {
    static std::atomic<std::uint64_t> runs{0};
    runNumber_ = ++runs;
    width_ = inputs.width > 0 && inputs.height > 0 ? inputs.width : 0;
    height_ = width_ > 0 ? inputs.height : 0;
    colour_ = std::move(inputs.colour);
    depths_ = std::move(inputs.depths);
    kernelCache_ = std::move(inputs.kernels);
    output_ = output;
    outputStride_ = outputStride;
    stats_ = Stats{};
    visitCount_ = 0;
    contributionCount_ = 0;
    firstPassPixelsAgain_ = 0;

    auto phase = std::chrono::steady_clock::now();
    Setup(inputs.largestBlur);
    stats_.setupMs = MsSince(phase);
    monitor.SetUp(largestBlur_);
    if (monitor.Stopped()) return false;

    phase = std::chrono::steady_clock::now();
    {
        // The arrays that the first pass frees serve the kernel ids and the
        // depths' sides of the focus (their pages are not touched afresh);
        // the rest are given back before the gather's lists are made, whose
        // pages are touched only as far as the rows fill them.
        const KeptBlocks reuse;
        if (!RunFirstPass(monitor)) return false;
        kernelIds_.resize(spreads_.size());
        inFront_.resize(spreads_.size());
    }
    if (!LinkKernels(monitor)) return false;
    stats_.firstPassMs = MsSince(phase);
    for (const auto& entry : kernels_) stats_.kernelBytes += entry.second->pixelData.size() * sizeof(FroatPixel);
    stats_.kernelBytes += kernelLaneValues_.size() * sizeof(double);
    for (const auto& groups : kernelGroupReach_) stats_.kernelBytes += groups.size() * sizeof(GroupReach);

    phase = std::chrono::steady_clock::now();
    if (!RunGatherPass(monitor)) return false;
    stats_.gatherMs = MsSince(phase);
    stats_.windowVisits = visitCount_.load();
    stats_.contributions = contributionCount_.load();
    // A cache shared with later runs keeps what it may.
    kernelCache_->Trim(kKernelCacheBytes);
    return true;
}
