#include "support/ImageMean.h"

FroatPixel Mean(const CImageFroat& image, int x0, int y0, int x1, int y1) {
    FroatPixel sum;
    int count = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            const FroatPixel& p = image.PixelAt(x, y);
            sum.r += p.r;
            sum.g += p.g;
            sum.b += p.b;
            sum.a += p.a;
            count++;
        }
    return FroatPixel{sum.r / count, sum.g / count, sum.b / count, sum.a / count};
}
