#pragma once
#include <cstdint>
#include <vector>

// A result channel limited to [0, 0.99999]: 1 or more becomes 0.99999, below 0
// becomes 0; NaN passes unchanged.
inline double ClampChannel(double v) {
    if (v >= 1.0) v = 0.99999;
    if (v < 0.0) v = 0.0;
    return v;
}

// The output byte of a colour channel from its mean in exposure space q:
// ChannelToByte(ClampChannel(ln(q) / ln(strong) / 255)), mostly without a
// logarithm. The byte grows with q and steps up at 255 thresholds, found
// once by bisection with that very formula. A table over the leading bits of
// q holds the byte of every slice of doubles that no threshold comes near
// (within many times the formula's rounding); a q in any other slice, or
// outside the table, goes through the formula itself.
class ExposureBytes {
public:
    // A table for this strong; without one (strong not above 1, or not
    // finite) Byte always uses the formula.
    explicit ExposureBytes(double strong);

    unsigned char Byte(double q) const {
        if (q >= 1.0) {
            std::uint64_t bits;
            __builtin_memcpy(&bits, &q, sizeof bits);
            const std::uint64_t slice = (bits >> (52 - kSliceBits)) - kFirstSlice;
            if (slice < table_.size() && table_[slice] <= 255) return static_cast<unsigned char>(table_[slice]);
        } else if (q > 0.0 && table_.size() > 0) {
            return 0;  // the logarithm is negative
        }
        return ByFormula(q);
    }

    // The formula itself.
    unsigned char ByFormula(double q) const;

private:
    // Slices: the exponent and the first kSliceBits bits of the fraction.
    static constexpr int kSliceBits = 10;
    static constexpr std::uint64_t kFirstSlice = std::uint64_t{1023} << kSliceBits;  // 1.0
    static constexpr std::uint16_t kNearStep = 256;
    double lg_;
    std::vector<std::uint16_t> table_;  // per slice from 1.0: its byte, or kNearStep
};
