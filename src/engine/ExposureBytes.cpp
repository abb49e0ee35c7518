#include "engine/ExposureBytes.h"

#include <cfloat>
#include <cmath>

#include "image/Conversions.h"
#include "platform/ByteThresholds.h"

namespace {
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
    FindByteThresholds(1.0, DBL_MAX, [this](double q) { return ByFormula(q); }, threshold);
    threshold[256] = DBL_MAX;
    // Slices from 1.0 up to past the last threshold.
    const int octaves = std::ilogb(threshold[255]) + 1;
    if (octaves > kMostOctaves) return;
    table_.resize(static_cast<std::size_t>(octaves) << kSliceBits);
    int k = 1;  // the first threshold not below the slice
    for (std::size_t slice = 0; slice < table_.size(); ++slice) {
        const double start = FromBits<double>((kFirstSlice + slice) << (52 - kSliceBits));
        const double end = FromBits<double>((kFirstSlice + slice + 1) << (52 - kSliceBits));
        while (k <= 255 && threshold[k] < start * (1.0 - kNear)) ++k;
        // Byte k - 1 holds from below the slice to past it, unless threshold k
        // comes near.
        table_[slice] = threshold[k] > end * (1.0 + kNear) ? static_cast<std::uint16_t>(k - 1) : kNearStep;
    }
}

unsigned char ExposureBytes::ByFormula(double q) const {
    return ChannelToByte(ClampChannel(std::log(q) / lg_ / 255.0));
}
