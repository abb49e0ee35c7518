#include "engine/LensResample.h"

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
    // Bins take consecutive canvas columns: bin kc takes firstColumn[kc] .. firstColumn[kc + 1] - 1.
    std::vector<int> firstColumn(static_cast<std::size_t>(n) + 1, canvasW);
    for (int c = canvasW - 1; c >= 0; --c) firstColumn[static_cast<std::size_t>(binColumn[static_cast<std::size_t>(c)])] = c;
    for (int kc = n - 1; kc >= 0; --kc)
        firstColumn[static_cast<std::size_t>(kc)] = std::min(firstColumn[static_cast<std::size_t>(kc)], firstColumn[static_cast<std::size_t>(kc) + 1]);

    std::vector<int> rowsPerBin(static_cast<std::size_t>(n), 0);
    std::vector<int> binRow(static_cast<std::size_t>(canvasH > 0 ? canvasH : 0));
    for (int k = 0; k < canvasH; ++k) {
        binRow[static_cast<std::size_t>(k)] = static_cast<int>(k / binH);
        rowsPerBin[static_cast<std::size_t>(binRow[static_cast<std::size_t>(k)])] += 1;
    }
    // Each bin adds its canvas pixels row by row, left to right. Two runs of
    // canvas rows that feed disjoint rows of bins go side by side, so that
    // two chains of additions are under way at once; each bin's own order is
    // untouched.
    std::vector<double> sums(static_cast<std::size_t>(n) * n * 4, 0.0);
    int split = 0;
    while (split < canvasH && binRow[static_cast<std::size_t>(split)] < n / 2) ++split;
    auto lensRowOf = [&](int k) {
        return &lens.pixelData[static_cast<std::size_t>(std::min(std::max(k - padY, 0), h - 1)) * w];
    };
    auto addRows = [&](int kA, int kB) {
        const FroatPixel* rowA = lensRowOf(kA);
        const FroatPixel* rowB = kB >= 0 ? lensRowOf(kB) : rowA;
        double* binsA = &sums[static_cast<std::size_t>(binRow[static_cast<std::size_t>(kA)]) * n * 4];
        double* binsB = kB >= 0 ? &sums[static_cast<std::size_t>(binRow[static_cast<std::size_t>(kB)]) * n * 4] : nullptr;
        for (int kc = 0; kc < n; ++kc) {
            double* a = binsA + 4 * kc;
            __m128d a0 = _mm_loadu_pd(a), a1 = _mm_loadu_pd(a + 2);
            const int c1 = firstColumn[static_cast<std::size_t>(kc) + 1];
            if (binsB) {
                double* b = binsB + 4 * kc;
                __m128d b0 = _mm_loadu_pd(b), b1 = _mm_loadu_pd(b + 2);
                for (int c = firstColumn[static_cast<std::size_t>(kc)]; c < c1; ++c) {
                    const int column = lensColumn[static_cast<std::size_t>(c)];
                    a0 = _mm_add_pd(a0, _mm_loadu_pd(&rowA[column].r));
                    a1 = _mm_add_pd(a1, _mm_loadu_pd(&rowA[column].b));
                    b0 = _mm_add_pd(b0, _mm_loadu_pd(&rowB[column].r));
                    b1 = _mm_add_pd(b1, _mm_loadu_pd(&rowB[column].b));
                }
                _mm_storeu_pd(b, b0);
                _mm_storeu_pd(b + 2, b1);
            } else {
                for (int c = firstColumn[static_cast<std::size_t>(kc)]; c < c1; ++c) {
                    const int column = lensColumn[static_cast<std::size_t>(c)];
                    a0 = _mm_add_pd(a0, _mm_loadu_pd(&rowA[column].r));
                    a1 = _mm_add_pd(a1, _mm_loadu_pd(&rowA[column].b));
                }
            }
            _mm_storeu_pd(a, a0);
            _mm_storeu_pd(a + 2, a1);
        }
    };
    int kA = 0, kB = split;
    for (; kA < split && kB < canvasH; ++kA, ++kB) addRows(kA, kB);
    for (; kA < split; ++kA) addRows(kA, -1);
    for (; kB < canvasH; ++kB) addRows(kB, -1);

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
