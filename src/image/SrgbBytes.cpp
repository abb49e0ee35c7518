#include "image/SrgbBytes.h"

#include <cmath>

#include "image/Conversions.h"
#include "platform/ByteThresholds.h"

namespace {
// A slice this close to a threshold (relative) goes through the formula:
// the curve's rounding moves a threshold by a few units in the last place.
constexpr double kNear = 1e-5;
}  // namespace

unsigned char SrgbBytes::ByFormula(float v) {
    if (!(v > 0.0f)) return 0;
    const double encoded = EncodeSrgb(v);
    if (encoded >= 1.0) return 255;
    return static_cast<unsigned char>(static_cast<int>(encoded * 255.0 + 0.5));
}

SrgbBytes::SrgbBytes() {
    // threshold[k], k = 1 .. 255: the least positive float whose value is k or more.
    float threshold[257];
    FindByteThresholds(0.0f, 1.0f, ByFormula, threshold);
    threshold[256] = 2.0f;
    table_.resize(Bits(1.0f) >> kSliceShift);
    int k = 1;  // the first threshold not below the slice
    for (std::size_t slice = 0; slice < table_.size(); ++slice) {
        const double start = FromBits<float>(static_cast<std::uint32_t>(slice << kSliceShift));
        const double end = FromBits<float>(static_cast<std::uint32_t>((slice + 1) << kSliceShift));
        while (k <= 255 && threshold[k] < start * (1.0 - kNear)) ++k;
        table_[slice] = threshold[k] > end * (1.0 + kNear) ? static_cast<std::uint16_t>(k - 1) : kNearStep;
    }
}

const SrgbBytes& SrgbBytes::Get() {
    static const SrgbBytes table;
    return table;
}
