#include "lens/LensResample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <emmintrin.h>

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
    // Where each canvas column reads the lens and which bin it feeds.
    std::vector<int> lensColumn(static_cast<std::size_t>(canvasW > 0 ? canvasW : 0));
    std::vector<int> binColumn(lensColumn.size());
    std::vector<int> columnsPerBin(static_cast<std::size_t>(n), 0);
    for (int c = 0; c < canvasW; ++c) {
        lensColumn[static_cast<std::size_t>(c)] = std::min(std::max(c - padX, 0), w - 1);
        binColumn[static_cast<std::size_t>(c)] = static_cast<int>(c / binW);
        columnsPerBin[static_cast<std::size_t>(binColumn[static_cast<std::size_t>(c)])] += 1;
    }
    std::vector<int> rowsPerBin(static_cast<std::size_t>(n), 0);
    std::vector<double> sums(static_cast<std::size_t>(n) * n * 4, 0.0);
    for (int k = 0; k < canvasH; ++k) {
        const int kr = static_cast<int>(k / binH);
        rowsPerBin[static_cast<std::size_t>(kr)] += 1;
        const FroatPixel* lensRow = &lens.pixelData[static_cast<std::size_t>(std::min(std::max(k - padY, 0), h - 1)) * w];
        double* binRow = &sums[static_cast<std::size_t>(kr) * n * 4];
        for (int c = 0; c < canvasW; ++c) {
            const double* p = &lensRow[lensColumn[static_cast<std::size_t>(c)]].r;
            double* s = binRow + 4 * binColumn[static_cast<std::size_t>(c)];
            _mm_storeu_pd(s, _mm_add_pd(_mm_loadu_pd(s), _mm_loadu_pd(p)));
            _mm_storeu_pd(s + 2, _mm_add_pd(_mm_loadu_pd(s + 2), _mm_loadu_pd(p + 2)));
        }
    }
    CImageFroat kernel;
    kernel.Resize(n, n, FroatPixel{});
    for (int kr = 0; kr < n; ++kr) {
        for (int kc = 0; kc < n; ++kc) {
            const int count = rowsPerBin[static_cast<std::size_t>(kr)] * columnsPerBin[static_cast<std::size_t>(kc)];
            const double factor = 1.0 / count;
            const __m128d f = _mm_set1_pd(factor);
            const std::size_t e = static_cast<std::size_t>(kr) * n + kc;
            double* out = &kernel.pixelData[e].r;
            _mm_storeu_pd(out, _mm_mul_pd(_mm_loadu_pd(&sums[4 * e]), f));
            _mm_storeu_pd(out + 2, _mm_mul_pd(_mm_loadu_pd(&sums[4 * e + 2]), f));
        }
    }
    return kernel;
}

}  // namespace

CImageFroat ResampleLens(const CImageFroat& lens, int n, double scale) {
    const double d = n / scale;
    if (lens.width < d) return ResampleBilinear(lens, n, scale);
    return ResampleBox(lens, n, scale);
}
