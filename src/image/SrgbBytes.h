#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

// The 8-bit sRGB value of a linear float sample: the sRGB curve, clipped to
// 0..1, times 255 and rounded (NaN and values not above 0 give 0), mostly
// without the curve. The value steps up at 255 thresholds, found once by
// bisection with the formula itself; a table over the leading bits of the
// float holds the value of every slice that no threshold comes near, and any
// other float goes through the formula.
class SrgbBytes {
public:
    static const SrgbBytes& Get();

    unsigned char Byte(float v) const {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        const std::uint32_t slice = bits >> kSliceShift;
        if (slice < table_.size() && table_[slice] <= 255) return static_cast<unsigned char>(table_[slice]);
        return ByFormula(v);
    }

    // The formula itself.
    static unsigned char ByFormula(float v);

private:
    SrgbBytes();
    // Slices: the sign, the exponent and the first 8 bits of the fraction.
    static constexpr int kSliceShift = 15;
    static constexpr std::uint16_t kNearStep = 256;
    std::vector<std::uint16_t> table_;  // per slice of positive floats below 1: its value, or kNearStep
};
