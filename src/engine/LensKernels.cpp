// The lens kernels: the lens resampled to each distinct spread (made during
// the first pass), and their layout for the gather.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "engine/BlurEngine.h"
#include "engine/LensResample.h"
#include "engine/Rounding.h"
#include "platform/ParallelFor.h"

// One kernel per distinct spread: the first row to meet a spread claims its key
// under the lock with an empty placeholder and takes the kernel (made by the
// cache, or kept there from an earlier run) outside it.
// Each thread remembers the spreads it found claimed, so that it takes the
// lock once per spread at most; spreads are multiples of 1/3, remembered by
// their numerator.
void CBlurEngine::ClaimKernels(int y) {
    thread_local std::vector<unsigned char> known;
    thread_local std::uint64_t knownFor = 0;
    if (knownFor != runNumber_) {
        known.clear();
        knownFor = runNumber_;
    }
    std::set<double> seenSpreads;  // spreads that are not a numerator / 3
    const std::size_t row = Index(0, y);
    double lastSpread = -1.0;
    for (int x = 0; x < width_; ++x) {
        const double spread = spreads_[row + x];
        if (spread == lastSpread) continue;
        lastSpread = spread;
        std::size_t j = 0;
        const bool numbered = ThirdsOf(spread, kNumberedThirds, j);
        if (numbered) {
            if (j < known.size() && known[j]) continue;
            if (j >= known.size()) known.resize(j + 1, 0);
            known[j] = 1;
        } else if (!seenSpreads.insert(spread).second) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(kernelMutex_);
            if (!kernels_.emplace(spread, nullptr).second) continue;
        }
        std::shared_ptr<const CImageFroat> kernel = kernelCache_->Kernel(spread);
        std::lock_guard<std::mutex> lock(kernelMutex_);
        kernels_[spread] = std::move(kernel);
    }
}


// Every kernel laid out as the gather reads it (see KernelLanes): for each
// row offset and orientation, the value each covered offset reads, after the
// clamp to the kernel's edges, and 0 at offsets the spread does not cover.
void CBlurEngine::BuildKernelLanes() {
    const int h = kernelSize_ / 2;
    // A grey lens (four equal channels) makes kernels whose channels are
    // equal to the bit; one row then stands for the four.
    greyKernels_ = true;
    for (const auto& entry : kernels_) {
        for (const FroatPixel& p : entry.second->pixelData) {
            const double channels[4] = {p.r, p.g, p.b, p.a};
            if (std::memcmp(&channels[0], &channels[1], sizeof(double)) != 0 ||
                std::memcmp(&channels[0], &channels[2], sizeof(double)) != 0 ||
                std::memcmp(&channels[0], &channels[3], sizeof(double)) != 0) {
                greyKernels_ = false;
                break;
            }
        }
        if (!greyKernels_) break;
    }
    const int channelCount = greyKernels_ ? 1 : 4;
    kernelSpans_.clear();
    kernelGroupReach_.clear();
    kernelLanes_.clear();
    kernelSpans_.reserve(kernels_.size());
    kernelGroupReach_.reserve(kernels_.size());
    kernelLanes_.reserve(kernels_.size());
    // First every kernel's spans and reach, and where its values start in one
    // block (each at a cache line); then the values, a kernel at a time on
    // every thread, which also touch the block's pages first (at 4K and the
    // largest blurs it holds some 40 MB).
    std::vector<const CImageFroat*> images;
    std::vector<double> spreads;
    std::vector<std::size_t> starts;
    images.reserve(kernels_.size());
    spreads.reserve(kernels_.size());
    starts.reserve(kernels_.size() + 1);
    std::size_t total = 0;
    for (const auto& entry : kernels_) {
        const double spread = entry.first;
        // Offsets pass the reach test spread - t >= 1 up to a largest |dx| per
        // row; t grows with |dx|, so that is the whole covered set.
        std::vector<int> span(static_cast<std::size_t>(h) + 1 + KernelLanes::kZeroRows, -1);
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
        lanes.channels = channelCount;
        lanes.stride = 2 * std::max(reach, 0) + 1 + 2 * kRowPad;
        kernelSpans_.push_back(std::move(span));
        lanes.span = kernelSpans_.back().data();
        std::vector<GroupReach> groups(static_cast<std::size_t>(std::max(2 * reach + kGroupRows, 0)));
        for (int gdy = -reach; gdy < reach + kGroupRows; ++gdy) {
            int rowSpan[kGroupRows];
            for (int r = 0; r < kGroupRows; ++r) rowSpan[r] = KernelRowSpan(lanes, std::abs(gdy - r));
            groups[static_cast<std::size_t>(gdy + reach)] = ReachOfRows(rowSpan, kGroupRows);
        }
        kernelGroupReach_.push_back(std::move(groups));
        lanes.groups = kernelGroupReach_.back().data();
        kernelLanes_.push_back(lanes);
        images.push_back(entry.second.get());
        spreads.push_back(spread);
        starts.push_back(total);
        if (reach >= 0) {
            constexpr std::size_t kLine = 64 / sizeof(double);
            const std::size_t count =
                static_cast<std::size_t>(2 * (2 * reach + 1 + 2 * KernelLanes::kZeroRows) * channelCount) *
                static_cast<std::size_t>(lanes.stride);
            total += (count + kLine - 1) / kLine * kLine;
        }
    }
    starts.push_back(total);
    kernelLaneValues_.clear();
    kernelLaneValues_.resize(total);
    ParallelFor(static_cast<int>(kernelLanes_.size()), threads_, [&](int k) {
        KernelLanes& lanes = kernelLanes_[static_cast<std::size_t>(k)];
        if (lanes.reach < 0) return;
        double* const values = kernelLaneValues_.data() + starts[static_cast<std::size_t>(k)];
        std::fill(values, kernelLaneValues_.data() + starts[static_cast<std::size_t>(k) + 1], 0.0);
        lanes.values = values;
        const CImageFroat& image = *images[static_cast<std::size_t>(k)];
        const int reach = lanes.reach;
        const int centre = KernelDimension(RoundUpThird(spreads[static_cast<std::size_t>(k)])) / 2;
        const int d = image.width;
        for (int orientation = 0; orientation < 2; ++orientation) {
            for (int dy = -reach; dy <= reach; ++dy) {
                const int r = lanes.span[std::abs(dy)];
                int ky = orientation == 1 ? centre + dy : centre - dy;
                ky = std::min(std::max(ky, 0), d - 1);
                for (int e = -r; e <= r; ++e) {
                    // e = target x - source x = -dx.
                    int kx = orientation == 1 ? centre - e : centre + e;
                    kx = std::min(std::max(kx, 0), d - 1);
                    const FroatPixel& p = image.pixelData[static_cast<std::size_t>(ky) * d + kx];
                    const double channels[4] = {p.r, p.g, p.b, p.a};
                    for (int c = 0; c < lanes.channels; ++c)
                        const_cast<double*>(KernelLaneRow(lanes, orientation, dy, c))[e] = channels[c];
                }
            }
        }
    });
}

// Whether a grey lens's gather may leave out the alpha sum: every source's
// alpha byte is 255 (exposure 255), and every kernel value is 0 or lies
// between 2^-1000 and 2^900 (no product or sum of them leaves the normal
// numbers). Then each product 255 k rounds by at most 2^-53 of itself and the
// alpha sum, a sum of such products in the order of the weight sum, lies
// within n 2^-52 of 255 times the weight (n the window's size, far below
// 2^40): its mean over 255 is 1 within far less than the 1/256 that would
// move the byte below 255.
bool CBlurEngine::AlphaFollowsWeight() const {
    if (!greyKernels_) return false;
    constexpr double kLeastKernelValue = 0x1p-1000, kMostKernelValue = 0x1p900;
    for (const auto& entry : kernels_)
        for (const FroatPixel& p : entry.second->pixelData)
            if (!(p.r == 0.0 || (p.r >= kLeastKernelValue && p.r <= kMostKernelValue))) return false;
    if (colour_.pixelBytes != 4) return true;
    for (int y = 0; y < height_; ++y) {
        const unsigned char* alpha = ColourRow(y) + 3;
        for (int x = 0; x < width_; ++x, alpha += 4)
            if (*alpha != 255) return false;
    }
    return true;
}
