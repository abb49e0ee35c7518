#pragma once
// A picture of light and how much of each pixel it covers: red, green and
// blue (premultiplied by coverage) and the coverage, four floats a pixel.
#include <cstddef>

#include "platform/LargeArray.h"

struct LightField {
    int width = 0;
    int height = 0;
    LargeArray<float> values;

    LightField() = default;
    LightField(int w, int h) : width(w), height(h), values(static_cast<std::size_t>(w) * h * 4, 0.0f) {}
    float* Row(int y) { return values.data() + static_cast<std::size_t>(y) * width * 4; }
    const float* Row(int y) const { return values.data() + static_cast<std::size_t>(y) * width * 4; }
    void Release() {
        LargeArray<float>().swap(values);
        width = height = 0;
    }
};
