#include "engine/BlurEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "engine/DepthBlur.h"

double CBlurEngine::DepthBlur(int x, int y) const {
    return BlurFromDepth(depth.PixelAt(x, y).r, blurSize, focus, zNear, zFar, maxBlur);
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
    // of an offset can be looked up with the same stride.
    const int side = 2 * h + 1;
    symmetricTable_.assign(static_cast<std::size_t>(side) * side, 0.0);
    for (int dy = -h; dy <= h; ++dy)
        for (int dx = -h; dx <= h; ++dx)
            symmetricTable_[static_cast<std::size_t>(dy + h) * side + (dx + h)] =
                2.0 * std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

// Keeps what the passes need of the source: its bytes when every channel is
// a byte / 255 (as the driver fills it), so the exposure comes from a table
// and the source itself can be released; a copy of it otherwise.
void CBlurEngine::TakeSource() {
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
        std::vector<unsigned char>().swap(sourceBytes);
        sourceCopy_ = std::move(source);
        source.Clear();
    }
    const bool linear = strong == 1.0;
    for (int b = 0; b < 256; ++b) {
        const double c = b / 255.0;
        exposureTable_[b] = linear ? c * 255.0 : std::pow(strong, c * 255.0);
    }
}

void CBlurEngine::Setup() {
    width_ = source.width > 0 && source.height > 0 ? source.width : 0;
    height_ = source.width > 0 && source.height > 0 ? source.height : 0;
    threadCount = threadCountOverride > 0 ? threadCountOverride : ProcessorCount();
    if (threadCountOverride <= 0 && threadCount > 4) threadCount -= 1;

    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    depths.assign(count, 0.0);
    blurs.assign(count, 0.0);
    rowMaxBlur_.assign(static_cast<std::size_t>(height_), 0.0);
    largestBlur = 0.0;
    for (int y = 0; y < height_; ++y) {
        double rowMax = 0.0;
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = Index(x, y);
            depths[i] = depth.pixelData[i].r;
            const double v = BlurFromDepth(depths[i], blurSize, focus, zNear, zFar, maxBlur);
            blurs[i] = v;
            if (v > largestBlur) largestBlur = v;
            if (v > rowMax) rowMax = v;
        }
        rowMaxBlur_[static_cast<std::size_t>(y)] = rowMax;
    }
    depth.Clear();
    kernelSize = KernelDimension(largestBlur);
    FillDistanceTable();
    std::printf("Init... size = %f\n", largestBlur);
    std::fflush(stdout);
    TakeSource();
}

void CBlurEngine::LinkKernels() {
    // One description per kernel, in key order.
    kernelInfos.clear();
    kernelInfos.reserve(kernels.size());
    std::map<double, std::uint32_t> ids;
    const int h = kernelSize / 2;
    const int side = 2 * h + 1;
    for (const auto& entry : kernels) {
        const double spread = entry.first;
        KernelInfo info;
        info.pixels = entry.second.pixelData.data();
        info.dimension = entry.second.width;
        info.centre = KernelDimension(RoundUpThird(spread)) / 2;
        info.span.assign(static_cast<std::size_t>(h) + 1, -1);
        for (int dy = 0; dy <= h; ++dy) {
            const double* t = &symmetricTable_[static_cast<std::size_t>(dy + h) * side + h];
            int r = -1;
            while (r + 1 <= h && spread - t[r + 1] >= 1.0) ++r;
            info.span[static_cast<std::size_t>(dy)] = r;
            if (r >= 0 && (info.centre - r < 0 || info.centre + r > info.dimension - 1 ||
                           info.centre - dy < 0 || info.centre + dy > info.dimension - 1))
                info.needsClamp = true;
        }
        ids.emplace(spread, static_cast<std::uint32_t>(kernelInfos.size()));
        kernelInfos.push_back(std::move(info));
    }
    kernelIds.assign(spreads.size(), 0);
    inFront.assign(spreads.size(), 0);
    rowMaxSpread_.assign(static_cast<std::size_t>(height_), 0.0);
    for (int y = 0; y < height_; ++y) {
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
    }
}

namespace {
double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

void CBlurEngine::Run() {
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
    phase = std::chrono::steady_clock::now();
    RunGatherPass();
    stats.gatherMs = MsSince(phase);
    stats.windowVisits = visitCount_.load();
    stats.contributions = contributionCount_.load();
}
