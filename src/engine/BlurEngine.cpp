#include "engine/BlurEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "engine/DepthBlur.h"
#include "engine/RowPool.h"

double CBlurEngine::DepthBlur(int x, int y) const { return BlurOfDepth(DepthAt(x, y)); }

double CBlurEngine::DepthAt(int x, int y) const {
    if (!compactDepth) return depth.PixelAt(x, y).r;
    // The compact depth, read with the same clamping as PixelAt.
    const int w = compactWidth, h = compactHeight;
    x = x < 0 ? 0 : (x >= w ? w - 1 : x);
    y = y < 0 ? 0 : (y >= h ? h - 1 : y);
    return depths[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
}

double CBlurEngine::BlurOfDepth(double d) const { return BlurFromDepth(d, blurSize, focus, zNear, zFar, maxBlur); }

// The blurs are released after the first pass; they follow from the depth.
double CBlurEngine::BlurAt(int x, int y) const {
    return BlurOfDepth(depths[Index(x, y)]);
}

void CBlurEngine::FillDistanceTable() {
    const int k = kernelSize;
    const int h = k / 2;
    distanceTable.assign(static_cast<std::size_t>(k) * static_cast<std::size_t>(k), 0.0);
    for (int dy = -h; dy <= -h + k - 1; ++dy)
        for (int dx = -h; dx <= -h + k - 1; ++dx)
            distanceTable[static_cast<std::size_t>(h + dy) * k + (h + dx)] =
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

// Keeps what the passes need of the source: its bytes when every channel is
// a byte / 255 (as the driver fills it), so the exposure comes from a table
// and the source itself can be released; a copy of it otherwise.
void CBlurEngine::TakeSource() {
    if (compactSource) {
        sourceIsBytes_ = true;
        FillExposureTables();
        return;
    }
    const std::size_t count = source.pixelData.size();
    sourceBytes.assign(count * 4, 0);
    sourceIsBytes_ = true;
    for (std::size_t i = 0; i < count && sourceIsBytes_; ++i) {
        const double channels[4] = {source.pixelData[i].r, source.pixelData[i].g, source.pixelData[i].b,
                                    source.pixelData[i].a};
        for (int c = 0; c < 4; ++c) {
            const double v = channels[c];
            if (!(v >= 0.0 && v <= 1.0)) {
                sourceIsBytes_ = false;
                break;
            }
            const int b = static_cast<int>(v * 255.0 + 0.5);
            if (b / 255.0 != v) {
                sourceIsBytes_ = false;
                break;
            }
            sourceBytes[4 * i + c] = static_cast<unsigned char>(b);
        }
    }
    if (sourceIsBytes_) {
        source.Clear();
    } else {
        LargeArray<unsigned char>().swap(sourceBytes);
        sourceCopy_ = std::move(source);
        source.Clear();
    }
    FillExposureTables();
}

void CBlurEngine::FillExposureTables() {
    const bool linear = strong == 1.0;
    for (int b = 0; b < 256; ++b) {
        const double c = b / 255.0;
        exposureTable_[b] = linear ? c * 255.0 : std::pow(strong, c * 255.0);
        alphaExposureTable_[b] = c * 255.0;
    }
}

void CBlurEngine::Setup() {
    const int w = compactSource ? compactWidth : source.width;
    const int h = compactSource ? compactHeight : source.height;
    width_ = w > 0 && h > 0 ? w : 0;
    height_ = w > 0 && h > 0 ? h : 0;
    threadCount = threadCountOverride > 0 ? threadCountOverride : ProcessorCount();
    if (threadCountOverride <= 0 && threadCount > 4) threadCount -= 1;

    // Take the depth channel and the source's bytes first and release the
    // input images, so that they never coexist with the working arrays.
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    if (!compactDepth) {
        depths.assign(count, 0.0);
        for (std::size_t i = 0; i < count; ++i) depths[i] = depth.pixelData[i].r;
    }
    depth.Clear();
    TakeSource();

    blurs.assign(count, 0.0);
    rowMaxBlur_.assign(static_cast<std::size_t>(height_), 0.0);
    largestBlur = 0.0;
    // Neighbouring pixels mostly share a depth: reuse the last blur for it.
    double lastDepth = 0.0, lastBlur = BlurOfDepth(0.0);
    for (int y = 0; y < height_; ++y) {
        double rowMax = 0.0;
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = Index(x, y);
            if (!(depths[i] == lastDepth)) {
                lastDepth = depths[i];
                lastBlur = BlurOfDepth(lastDepth);
            }
            const double v = lastBlur;
            blurs[i] = v;
            if (v > largestBlur) largestBlur = v;
            if (v > rowMax) rowMax = v;
        }
        rowMaxBlur_[static_cast<std::size_t>(y)] = rowMax;
    }
    kernelSize = KernelDimension(largestBlur);
    FillDistanceTable();
    std::printf("Init... size = %f\n", largestBlur);
    std::fflush(stdout);
    spreadRow_ = ChooseSpreadRow(maxLanes);
    gatherRow_ = ChooseGatherRow(maxLanes);
}

void CBlurEngine::LinkKernels() {
    BuildKernelLanes();
    std::map<double, std::uint32_t> ids;
    for (const auto& entry : kernels) ids.emplace(entry.first, static_cast<std::uint32_t>(ids.size()));
    kernelIds.resize(spreads.size());
    inFront.resize(spreads.size());
    rowMaxSpread_.assign(static_cast<std::size_t>(height_), 0.0);
    ForEachRowParallel(height_, threadCount, [&](int y) {
        double lastSpread = -1.0;
        std::uint32_t lastId = 0;
        double rowMax = 0.0;
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = Index(x, y);
            const double spread = spreads[i];
            if (spread != lastSpread) {
                lastSpread = spread;
                lastId = ids.at(spread);
            }
            kernelIds[i] = lastId;
            if (spread > rowMax) rowMax = spread;
            inFront[i] = ((zFar - zNear) * depths[i] + zNear <= focus) ? 1 : 0;
        }
        rowMaxSpread_[static_cast<std::size_t>(y)] = rowMax;
    });
    // A spread covers another row only where it passes the reach test at |dy| = 1.
    ListSourceRuns([](const CBlurEngine& engine, std::size_t i) { return engine.kernelLanes_[engine.kernelIds[i]].reach >= 1; },
                   [](const CBlurEngine&, std::size_t, std::size_t) { return false; });
}

// Every kernel laid out as the gather reads it (see KernelLanes): for each
// row offset and orientation, the value each covered offset reads, after the
// clamp to the kernel's edges, and 0 at offsets the spread does not cover.
void CBlurEngine::BuildKernelLanes() {
    const int h = kernelSize / 2;
    kernelSpans_.clear();
    kernelLaneValues_.clear();
    kernelLanes_.clear();
    kernelSpans_.reserve(kernels.size());
    kernelLaneValues_.reserve(kernels.size());
    for (const auto& entry : kernels) {
        const double spread = entry.first;
        const CImageFroat& image = entry.second;
        // Offsets pass the reach test spread - t >= 1 up to a largest |dx| per
        // row; t grows with |dx|, so that is the whole covered set.
        std::vector<int> span(static_cast<std::size_t>(h) + 1, -1);
        int reach = -1;
        for (int dy = 0; dy <= h; ++dy) {
            const double* t = DistanceRow(dy);
            int r = -1;
            while (r + 1 <= h && spread - t[r + 1] >= 1.0) ++r;
            span[static_cast<std::size_t>(dy)] = r;
            if (r >= 0) reach = dy;
        }
        KernelLanes lanes;
        lanes.reach = reach;
        lanes.stride = 2 * std::max(reach, 0) + 1 + 2 * kRowPad;
        std::vector<double> values;
        if (reach >= 0) {
            values.assign(static_cast<std::size_t>(2 * (2 * reach + 1) * 4) * lanes.stride, 0.0);
            lanes.values = values.data();
            const int centre = KernelDimension(RoundUpThird(spread)) / 2;
            const int d = image.width;
            for (int orientation = 0; orientation < 2; ++orientation) {
                for (int dy = -reach; dy <= reach; ++dy) {
                    const int r = span[static_cast<std::size_t>(std::abs(dy))];
                    int ky = orientation == 1 ? centre + dy : centre - dy;
                    ky = std::min(std::max(ky, 0), d - 1);
                    for (int e = -r; e <= r; ++e) {
                        // e = target x - source x = -dx.
                        int kx = orientation == 1 ? centre - e : centre + e;
                        kx = std::min(std::max(kx, 0), d - 1);
                        const FroatPixel& p = image.pixelData[static_cast<std::size_t>(ky) * d + kx];
                        const double channels[4] = {p.r, p.g, p.b, p.a};
                        for (int c = 0; c < 4; ++c)
                            const_cast<double*>(KernelLaneRow(lanes, orientation, dy, c))[e] = channels[c];
                    }
                }
            }
        }
        kernelSpans_.push_back(std::move(span));
        lanes.span = kernelSpans_.back().data();
        kernelLaneValues_.push_back(std::move(values));
        lanes.values = kernelLaneValues_.back().data();
        kernelLanes_.push_back(lanes);
    }
}

void CBlurEngine::ListSourceRuns(bool (*reachesOtherRows)(const CBlurEngine&, std::size_t),
                                 bool (*sameRun)(const CBlurEngine&, std::size_t, std::size_t)) {
    runStart_.assign(static_cast<std::size_t>(height_) + 1, 0);
    // The lists hold 16-bit columns; wider rows are always visited whole.
    if (width_ > 65535) {
        sourceRuns_.clear();
        return;
    }
    // Row y's runs, each passed to add(start, count).
    auto forEachRun = [&](int y, auto add) {
        int start = -1, count = 0;
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = Index(x, y);
            if (!reachesOtherRows(*this, i)) continue;
            if (start >= 0 && start + count == x && count < 65535 && sameRun(*this, i - 1, i)) {
                ++count;
                continue;
            }
            if (start >= 0) add(start, count);
            start = x;
            count = 1;
        }
        if (start >= 0) add(start, count);
    };
    // Counted row by row, then listed row by row at the counted places.
    ForEachRowParallel(height_, threadCount, [&](int y) {
        std::size_t runs = 0;
        forEachRun(y, [&](int, int) { ++runs; });
        runStart_[static_cast<std::size_t>(y) + 1] = runs;
    });
    for (int y = 0; y < height_; ++y) runStart_[static_cast<std::size_t>(y) + 1] += runStart_[static_cast<std::size_t>(y)];
    sourceRuns_.resize(runStart_.back());
    ForEachRowParallel(height_, threadCount, [&](int y) {
        ColumnRun* out = sourceRuns_.data() + runStart_[static_cast<std::size_t>(y)];
        forEachRun(y, [&](int start, int count) {
            *out++ = ColumnRun{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(count)};
        });
    });
}

namespace {
double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

void CBlurEngine::Run() {
    static std::atomic<std::uint64_t> runs{0};
    runNumber_ = ++runs;
    stats = Stats{};
    visitCount_ = 0;
    contributionCount_ = 0;
    auto phase = std::chrono::steady_clock::now();
    Setup();
    stats.setupMs = MsSince(phase);
    phase = std::chrono::steady_clock::now();
    RunFirstPass();
    LinkKernels();
    stats.firstPassMs = MsSince(phase);
    for (const auto& entry : kernels) stats.kernelBytes += entry.second.pixelData.size() * sizeof(FroatPixel);
    for (const auto& values : kernelLaneValues_) stats.kernelBytes += values.size() * sizeof(double);
    phase = std::chrono::steady_clock::now();
    RunGatherPass();
    stats.gatherMs = MsSince(phase);
    stats.windowVisits = visitCount_.load();
    stats.contributions = contributionCount_.load();
}
