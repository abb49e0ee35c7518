#include "engine/SlidingMax.h"

void SlidingMax(const std::int32_t* in, std::int32_t* out, int length, int window, int before, std::size_t stride,
                std::size_t outStride, std::size_t lanes, std::int32_t floor, std::vector<std::int32_t>& prefix,
                std::vector<std::int32_t>& suffix) {
    // Padded index j stands for input index j - before; outside the input it
    // holds floor.
    const int padded = length + window - 1;
    prefix.resize(static_cast<std::size_t>(padded) * lanes);
    suffix.resize(static_cast<std::size_t>(padded) * lanes);
    std::vector<std::int32_t> outside(lanes, floor);
    auto row = [&](int j) {
        const int i = j - before;
        return (i < 0 || i >= length) ? outside.data() : in + static_cast<std::size_t>(i) * stride;
    };
    // Blocks of window elements: running maxima forwards (prefix) and
    // backwards (suffix) within each block.
    for (int start = 0; start < padded; start += window) {
        const int end = start + window < padded ? start + window : padded;
        for (int j = start; j < end; ++j) {
            const std::int32_t* v = row(j);
            std::int32_t* p = &prefix[static_cast<std::size_t>(j) * lanes];
            if (j == start) {
                for (std::size_t l = 0; l < lanes; ++l) p[l] = v[l] > floor ? v[l] : floor;
            } else {
                const std::int32_t* previous = p - lanes;
                for (std::size_t l = 0; l < lanes; ++l) p[l] = previous[l] > v[l] ? previous[l] : v[l];
            }
        }
        for (int j = end - 1; j >= start; --j) {
            const std::int32_t* v = row(j);
            std::int32_t* s = &suffix[static_cast<std::size_t>(j) * lanes];
            if (j == end - 1) {
                for (std::size_t l = 0; l < lanes; ++l) s[l] = v[l] > floor ? v[l] : floor;
            } else {
                const std::int32_t* next = s + lanes;
                for (std::size_t l = 0; l < lanes; ++l) s[l] = next[l] > v[l] ? next[l] : v[l];
            }
        }
    }
    // The window of i spans padded i .. i + window - 1: the suffix of its
    // first block and the prefix of its last.
    for (int i = 0; i < length; ++i) {
        const std::int32_t* s = &suffix[static_cast<std::size_t>(i) * lanes];
        const std::int32_t* p = &prefix[static_cast<std::size_t>(i + window - 1) * lanes];
        std::int32_t* o = &out[static_cast<std::size_t>(i) * outStride];
        for (std::size_t l = 0; l < lanes; ++l) o[l] = s[l] > p[l] ? s[l] : p[l];
    }
}
