#include "engine/ExposureBytes.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "image/Conversions.h"

namespace {
// Positive doubles keep their order as unsigned integers of their bits.
std::uint64_t Bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
double FromBits(std::uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}
// A slice this close to a threshold (relative) goes through the formula: its
// rounding moves a threshold by a few units in the last place, far less.
constexpr double kNear = 1e-9;
// The table covers at most this many powers of two above 1.
constexpr int kMostOctaves = 64;
}  // namespace

ExposureBytes::ExposureBytes(double strong) : lg_(std::log(strong)) {
    if (!(strong > 1.0) || !(lg_ > 0.0) || !std::isfinite(lg_)) return;
    // ln(1) = 0 gives byte 0, and the largest double gives 255.
    if (ByFormula(1.0) != 0 || ByFormula(DBL_MAX) != 255) return;
    // threshold[k], k = 1 .. 255: the least q whose byte is k or more.
    double threshold[257];
    std::uint64_t low = Bits(1.0);
    for (int k = 1; k < 256; ++k) {
        std::uint64_t lo = low, hi = Bits(DBL_MAX);
        while (hi - lo > 1) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (ByFormula(FromBits(mid)) >= k)
                hi = mid;
            else
                lo = mid;
        }
        threshold[k] = FromBits(hi);
        low = lo;
    }
    threshold[256] = DBL_MAX;
    // Slices from 1.0 up to past the last threshold.
    const int octaves = std::ilogb(threshold[255]) + 1;
    if (octaves > kMostOctaves) return;
    table_.resize(static_cast<std::size_t>(octaves) << kSliceBits);
    int k = 1;  // the first threshold not below the slice
    for (std::size_t slice = 0; slice < table_.size(); ++slice) {
        const double start = FromBits((kFirstSlice + slice) << (52 - kSliceBits));
        const double end = FromBits((kFirstSlice + slice + 1) << (52 - kSliceBits));
        while (k <= 255 && threshold[k] < start * (1.0 - kNear)) ++k;
        // Byte k - 1 holds from below the slice to past it, unless threshold k
        // comes near.
        table_[slice] = threshold[k] > end * (1.0 + kNear) ? static_cast<std::uint16_t>(k - 1) : kNearStep;
    }
}

unsigned char ExposureBytes::ByFormula(double q) const {
    return ChannelToByte(ClampChannel(std::log(q) / lg_ / 255.0));
}
