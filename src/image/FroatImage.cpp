#include "image/FroatImage.h"

void CImageFroat::Resize(int newWidth, int newHeight, const FroatPixel& fill) {
    width = newWidth;
    height = newHeight;
    const std::size_t count = (newWidth > 0 && newHeight > 0)
                             ? static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight)
                             : 0;
    pixelData.assign(count, fill);
}

void CImageFroat::SetFromRGBA8(int newWidth, int newHeight, const unsigned char* bytes) {
    Resize(newWidth, newHeight, FroatPixel{});
    for (std::size_t i = 0; i < pixelData.size(); ++i) {
        FroatPixel& p = pixelData[i];
        p.r = bytes[4 * i] / 255.0;
        p.g = bytes[4 * i + 1] / 255.0;
        p.b = bytes[4 * i + 2] / 255.0;
        p.a = bytes[4 * i + 3] / 255.0;
    }
}

void CImageFroat::Clear() {
    std::vector<FroatPixel>().swap(pixelData);
    width = 0;
    height = 0;
}
