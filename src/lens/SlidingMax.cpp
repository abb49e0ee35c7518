#include "lens/SlidingMax.h"

#include <limits>

void SlidingMax(const double* in, double* out, int length, int window, int before, std::size_t stride,
                std::size_t outStride, std::size_t lanes, std::vector<double>& prefix, std::vector<double>& suffix) {
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    // Padded index j stands for input index j - before.
    const int padded = length + window - 1;
    prefix.resize(static_cast<std::size_t>(padded) * lanes);
    suffix.resize(static_cast<std::size_t>(padded) * lanes);
    auto value = [&](int j, std::size_t lane) {
        const int i = j - before;
        if (i < 0 || i >= length) return kNone;
        const double v = in[static_cast<std::size_t>(i) * stride + lane];
        return v == v ? v : kNone;
    };
    for (int start = 0; start < padded; start += window) {
        const int end = start + window < padded ? start + window : padded;
        for (int j = start; j < end; ++j) {
            double* p = &prefix[static_cast<std::size_t>(j) * lanes];
            const double* previous = j == start ? nullptr : &prefix[static_cast<std::size_t>(j - 1) * lanes];
            for (std::size_t l = 0; l < lanes; ++l) {
                const double v = value(j, l);
                p[l] = (previous && previous[l] > v) ? previous[l] : v;
            }
        }
        for (int j = end - 1; j >= start; --j) {
            double* s = &suffix[static_cast<std::size_t>(j) * lanes];
            const double* next = j == end - 1 ? nullptr : &suffix[static_cast<std::size_t>(j + 1) * lanes];
            for (std::size_t l = 0; l < lanes; ++l) {
                const double v = value(j, l);
                s[l] = (next && next[l] > v) ? next[l] : v;
            }
        }
    }
    for (int i = 0; i < length; ++i) {
        const double* s = &suffix[static_cast<std::size_t>(i) * lanes];
        const double* p = &prefix[static_cast<std::size_t>(i + window - 1) * lanes];
        double* o = &out[static_cast<std::size_t>(i) * outStride];
        for (std::size_t l = 0; l < lanes; ++l) o[l] = s[l] > p[l] ? s[l] : p[l];
    }
}
