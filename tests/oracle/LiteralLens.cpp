#include "oracle/LiteralLens.h"

#include <cmath>
#include <vector>

FroatPixel LiteralSampleBilinear(const CImageFroat& lens, double x, double y) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = x - std::floor(x);
    const double fy = y - std::floor(y);
    const FroatPixel p00 = lens.PixelAt(x0, y0);
    const FroatPixel p10 = lens.PixelAt(x0 + 1, y0);
    const FroatPixel p01 = lens.PixelAt(x0, y0 + 1);
    const FroatPixel p11 = lens.PixelAt(x0 + 1, y0 + 1);

    FroatPixel out;
    double top, bottom;
    top = p00.r * (1.0 - fx) + p10.r * fx;
    bottom = p01.r * (1.0 - fx) + p11.r * fx;
    out.r = top * (1.0 - fy) + bottom * fy;
    top = p00.g * (1.0 - fx) + p10.g * fx;
    bottom = p01.g * (1.0 - fx) + p11.g * fx;
    out.g = top * (1.0 - fy) + bottom * fy;
    top = p00.b * (1.0 - fx) + p10.b * fx;
    bottom = p01.b * (1.0 - fx) + p11.b * fx;
    out.b = top * (1.0 - fy) + bottom * fy;
    top = p00.a * (1.0 - fx) + p10.a * fx;
    bottom = p01.a * (1.0 - fx) + p11.a * fx;
    out.a = top * (1.0 - fy) + bottom * fy;
    return out;
}

namespace {

CImageFroat Bilinear(const CImageFroat& lens, int n, double scale) {
    const double stepX = (static_cast<double>(lens.width) / static_cast<double>(n)) * scale;
    const double stepY = (static_cast<double>(lens.height) / static_cast<double>(n)) * scale;
    const int t = static_cast<int>(static_cast<double>(n) - static_cast<double>(n) / scale);
    const int o = -(t / 2);

    CImageFroat kernel;
    kernel.Resize(n, n, FroatPixel{});
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            const double x = static_cast<double>(o + j) * stepX;
            const double y = static_cast<double>(o + i) * stepY;
            kernel.SetPixel(j, i, LiteralSampleBilinear(lens, x, y));
        }
    }
    return kernel;
}

CImageFroat Box(const CImageFroat& lens, int n, double scale) {
    const int w = lens.width;
    const int h = lens.height;
    const int canvasW = static_cast<int>(scale * static_cast<double>(w));
    const int canvasH = static_cast<int>(scale * static_cast<double>(h));
    const int padX = (canvasW - w) / 2;
    const int padY = (canvasH - h) / 2;
    const double binW = static_cast<double>(canvasW) / static_cast<double>(n);
    const double binH = static_cast<double>(canvasH) / static_cast<double>(n);

    std::vector<FroatPixel> sums(static_cast<size_t>(n) * n);
    std::vector<int> counts(static_cast<size_t>(n) * n, 0);
    for (int k = 0; k < canvasH; k++) {
        for (int c = 0; c < canvasW; c++) {
            const int kr = static_cast<int>(static_cast<double>(k) / binH);
            const int kc = static_cast<int>(static_cast<double>(c) / binW);
            const FroatPixel& p = lens.PixelAt(c - padX, k - padY);
            FroatPixel& sum = sums[kc + n * kr];
            sum.r = sum.r + p.r;
            sum.g = sum.g + p.g;
            sum.b = sum.b + p.b;
            sum.a = sum.a + p.a;
            counts[kc + n * kr] = counts[kc + n * kr] + 1;
        }
    }

    CImageFroat kernel;
    kernel.Resize(n, n, FroatPixel{});
    for (int e = 0; e < n * n; e++) {
        const double factor = 1.0 / static_cast<double>(counts[e]);
        FroatPixel p;
        p.r = sums[e].r * factor;
        p.g = sums[e].g * factor;
        p.b = sums[e].b * factor;
        p.a = sums[e].a * factor;
        kernel.SetPixel(e % n, e / n, p);
    }
    return kernel;
}

}  // namespace

CImageFroat LiteralResampleLens(const CImageFroat& lens, int n, double scale) {
    const double d = static_cast<double>(n) / scale;
    if (static_cast<double>(lens.width) < d) return Bilinear(lens, n, scale);
    return Box(lens, n, scale);
}
