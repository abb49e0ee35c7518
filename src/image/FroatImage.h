#pragma once
#include <cstddef>
#include <vector>

#include "platform/LargeArray.h"

// b / 255.0 for every byte b, computed once.
const double* ByteFractions();

// One pixel of the float image: four doubles, in this order.
struct FroatPixel {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double a = 0.0;
};

// The in-memory image of all processing: row-major, row 0 at the top.
class CImageFroat {
public:
    CImageFroat() = default;
    CImageFroat(const CImageFroat&) = default;
    CImageFroat& operator=(const CImageFroat&) = default;
    CImageFroat(CImageFroat&&) = default;
    CImageFroat& operator=(CImageFroat&&) = default;
    virtual ~CImageFroat() = default;

    // Sets both dimensions and assigns fill to every pixel, kept ones included.
    void Resize(int newWidth, int newHeight, const FroatPixel& fill);

    // Reads with the position clamped to the nearest edge pixel.
    const FroatPixel& PixelAt(int x, int y) const {
        if (x < 0) x = 0;
        if (x >= width) x = width - 1;
        if (y < 0) y = 0;
        if (y >= height) y = height - 1;
        return pixelData[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }

    // Stores value when (x, y) lies inside the image; does nothing otherwise.
    void SetPixel(int x, int y, const FroatPixel& value) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        pixelData[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = value;
    }

    // Fills the image from 8-bit R, G, B, A bytes: every channel = byte / 255.0.
    void SetFromRGBA8(int newWidth, int newHeight, const unsigned char* bytes);

    // Releases the pixels; the image becomes 0 x 0.
    void Clear();

    LargeArray<FroatPixel> pixelData;
    int width = 0;
    int height = 0;
};
