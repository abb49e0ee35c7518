#include "physical/SrgbCurve.h"

#include <cmath>

#include "image/Conversions.h"

namespace {

int ByteByFormula(double linear) {
    if (!(linear > 0.0)) return 0;
    if (linear >= 1.0) return 255;
    return static_cast<int>(std::floor(LinearToSrgbLevel(linear) * 255.0 + 0.5));
}

}  // namespace

double SrgbLevelToLinear(double level) {
    if (level <= 0.04045) return level / 12.92;
    return std::pow((level + 0.055) / 1.055, 2.4);
}

double LinearToSrgbLevel(double linear) { return EncodeSrgb(linear); }

SrgbByteEncoder::SrgbByteEncoder() {
    steps_[0] = 0.0;
    for (int k = 1; k < 256; ++k) {
        // Near the curve's inverse of the byte's lower edge, then moved to
        // the exact least double that the formula rounds to k.
        double t = SrgbLevelToLinear((k - 0.5) / 255.0);
        while (ByteByFormula(t) >= k) t = std::nextafter(t, -1.0);
        while (ByteByFormula(t) < k) t = std::nextafter(t, 2.0);
        steps_[k] = t;
    }
}

unsigned char SrgbByteEncoder::Encode(double linear) const {
    if (!(linear >= steps_[1])) return 0;  // NaN too
    int low = 1;  // steps_[low] <= linear
    int high = 256;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        if (steps_[middle] <= linear) low = middle;
        else high = middle;
    }
    return static_cast<unsigned char>(low);
}

const std::array<float, 256>& LinearOfBytes() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int b = 0; b < 256; ++b) t[b] = static_cast<float>(SrgbLevelToLinear(b / 255.0));
        return t;
    }();
    return table;
}
