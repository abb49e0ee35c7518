#include "physical/SrgbCurve.h"

#include <algorithm>
#include <cmath>

#include "image/Conversions.h"

double SrgbLevelToLinear(double level) { return DecodeSrgb(level); }

double LinearToSrgbLevel(double linear) { return EncodeSrgb(linear); }

SrgbEncoder::SrgbEncoder(int top) : top_(top), steps_(static_cast<std::size_t>(top) + 1), binFirst_(kBins + 1) {
    auto byFormula = [top](double linear) {
        if (!(linear > 0.0)) return 0;
        if (linear >= 1.0) return top;
        return static_cast<int>(std::floor(LinearToSrgbLevel(linear) * top + 0.5));
    };
    steps_[0] = 0.0;
    for (int k = 1; k <= top; ++k) {
        // Near the curve's inverse of the sample's lower edge, then moved to
        // the exact least double that the formula rounds to k.
        double t = SrgbLevelToLinear((k - 0.5) / top);
        while (byFormula(t) >= k) t = std::nextafter(t, -1.0);
        while (byFormula(t) < k) t = std::nextafter(t, 2.0);
        steps_[static_cast<std::size_t>(k)] = t;
    }
    for (int b = 0; b <= kBins; ++b) {
        const double start = static_cast<double>(b) / kBins;
        binFirst_[static_cast<std::size_t>(b)] =
            static_cast<int>(std::upper_bound(steps_.begin() + 1, steps_.end(), start) - steps_.begin()) - 1;
    }
}

int SrgbEncoder::Encode(double linear) const {
    if (!(linear >= steps_[1])) return 0;  // NaN too
    if (linear >= 1.0) return top_;
    const int bin = static_cast<int>(linear * kBins);
    // The answer lies between the bin's ends: the last step at or below linear.
    int low = binFirst_[static_cast<std::size_t>(bin)];
    int high = binFirst_[static_cast<std::size_t>(bin) + 1] + 1;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        if (steps_[static_cast<std::size_t>(middle)] <= linear) low = middle;
        else high = middle;
    }
    return low;
}

const std::array<float, 256>& LinearOfBytes() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int b = 0; b < 256; ++b) t[static_cast<std::size_t>(b)] = static_cast<float>(SrgbLevelToLinear(b / 255.0));
        return t;
    }();
    return table;
}

const std::vector<float>& LinearOfWords() {
    static const std::vector<float> table = [] {
        std::vector<float> t(65536);
        for (int w = 0; w < 65536; ++w) t[static_cast<std::size_t>(w)] = static_cast<float>(SrgbLevelToLinear(w / 65535.0));
        return t;
    }();
    return table;
}
