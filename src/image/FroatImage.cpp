#include "image/FroatImage.h"

void CImageFroat::Resize(int newWidth, int newHeight, const FroatPixel& fill) {
    width = newWidth;
    height = newHeight;
    const std::size_t count = (newWidth > 0 && newHeight > 0)
                             ? static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight)
                             : 0;
    pixelData.assign(count, fill);
}

const double* ByteFractions() {
    static const struct Table {
        double values[256];
        Table() {
            for (int b = 0; b < 256; ++b) values[b] = b / 255.0;
        }
    } table;
    return table.values;
}

void CImageFroat::SetFromRGBA8(int newWidth, int newHeight, const unsigned char* bytes) {
    Resize(newWidth, newHeight, FroatPixel{});
    const double* fraction = ByteFractions();
    for (std::size_t i = 0; i < pixelData.size(); ++i) {
        FroatPixel& p = pixelData[i];
        p.r = fraction[bytes[4 * i]];
        p.g = fraction[bytes[4 * i + 1]];
        p.b = fraction[bytes[4 * i + 2]];
        p.a = fraction[bytes[4 * i + 3]];
    }
}

void CImageFroat::Clear() {
    LargeArray<FroatPixel>().swap(pixelData);
    width = 0;
    height = 0;
}
