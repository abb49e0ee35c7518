#include "lens/LensResample.h"

#include <cmath>
#include <vector>

FroatPixel SampleBilinear(const CImageFroat& lens, double x, double y) {
    const double floorX = std::floor(x);
    const double floorY = std::floor(y);
    const int x0 = static_cast<int>(floorX);
    const int y0 = static_cast<int>(floorY);
    const double fx = x - floorX;
    const double fy = y - floorY;
    const FroatPixel& p00 = lens.PixelAt(x0, y0);
    const FroatPixel& p10 = lens.PixelAt(x0 + 1, y0);
    const FroatPixel& p01 = lens.PixelAt(x0, y0 + 1);
    const FroatPixel& p11 = lens.PixelAt(x0 + 1, y0 + 1);
    auto mix = [fx, fy](double a00, double a10, double a01, double a11) {
        const double top = a00 * (1.0 - fx) + a10 * fx;
        const double bottom = a01 * (1.0 - fx) + a11 * fx;
        return top * (1.0 - fy) + bottom * fy;
    };
    FroatPixel out;
    out.r = mix(p00.r, p10.r, p01.r, p11.r);
    out.g = mix(p00.g, p10.g, p01.g, p11.g);
    out.b = mix(p00.b, p10.b, p01.b, p11.b);
    out.a = mix(p00.a, p10.a, p01.a, p11.a);
    return out;
}

namespace {

CImageFroat ResampleBilinear(const CImageFroat& lens, int n, double scale) {
    const double stepX = (static_cast<double>(lens.width) / n) * scale;
    const double stepY = (static_cast<double>(lens.height) / n) * scale;
    const int t = static_cast<int>(n - n / scale);
    const int o = -(t / 2);
    CImageFroat kernel;
    kernel.Resize(n, n, FroatPixel{});
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            kernel.SetPixel(j, i, SampleBilinear(lens, (o + j) * stepX, (o + i) * stepY));
    return kernel;
}

CImageFroat ResampleBox(const CImageFroat& lens, int n, double scale) {
    const int w = lens.width;
    const int h = lens.height;
    const int canvasW = static_cast<int>(scale * w);
    const int canvasH = static_cast<int>(scale * h);
    const int padX = (canvasW - w) / 2;
    const int padY = (canvasH - h) / 2;
    const double binW = static_cast<double>(canvasW) / n;
    const double binH = static_cast<double>(canvasH) / n;
    std::vector<FroatPixel> sums(static_cast<std::size_t>(n) * n);
    std::vector<int> counts(static_cast<std::size_t>(n) * n, 0);
    for (int k = 0; k < canvasH; ++k) {
        const int kr = static_cast<int>(k / binH);
        for (int c = 0; c < canvasW; ++c) {
            const int kc = static_cast<int>(c / binW);
            const FroatPixel& p = lens.PixelAt(c - padX, k - padY);
            FroatPixel& s = sums[static_cast<std::size_t>(kc) + static_cast<std::size_t>(n) * kr];
            s.r = s.r + p.r;
            s.g = s.g + p.g;
            s.b = s.b + p.b;
            s.a = s.a + p.a;
            counts[static_cast<std::size_t>(kc) + static_cast<std::size_t>(n) * kr] += 1;
        }
    }
    CImageFroat kernel;
    kernel.Resize(n, n, FroatPixel{});
    for (std::size_t e = 0; e < sums.size(); ++e) {
        const double factor = 1.0 / counts[e];
        FroatPixel v = sums[e];
        v.r = v.r * factor;
        v.g = v.g * factor;
        v.b = v.b * factor;
        v.a = v.a * factor;
        kernel.SetPixel(static_cast<int>(e % n), static_cast<int>(e / n), v);
    }
    return kernel;
}

}  // namespace

CImageFroat ResampleLens(const CImageFroat& lens, int n, double scale) {
    const double d = n / scale;
    if (lens.width < d) return ResampleBilinear(lens, n, scale);
    return ResampleBox(lens, n, scale);
}
