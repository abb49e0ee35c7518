#include "engine/BlurEngine.h"

#include <cmath>

void CBlurEngine::GatherRow(int y) {
    const int width = source.width;
    const int height = source.height;
    const int k = kernelSize;
    const double lg = std::log(strong);
    const bool linear = strong == 1.0;
    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
    for (int x = 0; x < width; ++x) {
        const PixelBlur& centre = pixels[static_cast<std::size_t>(y) * width + x];
        int w = KernelDimension(centre.reach);
        if (w > k) w = k;
        const int hw = w / 2;
        const double cDepth = depth.PixelAt(x, y).r;
        const double cSpread = centre.spread;
        FroatPixel sum;
        FroatPixel weight;
        for (int dy = -hw; dy <= -hw + w - 1; ++dy) {
            for (int dx = -hw; dx <= -hw + w - 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if (nx < 0 || nx >= width || ny < 0 || ny >= height) continue;
                ++visits;
                const double t = distanceTable[static_cast<std::size_t>(k / 2 + dy) * k + (k / 2 + dx)];
                const double nDepth = depth.PixelAt(nx, ny).r;
                const PixelBlur& neighbour = pixels[static_cast<std::size_t>(ny) * width + nx];
                const double nSpread = neighbour.spread;
                const FroatPixel& X = exposure.PixelAt(nx, ny);
                if (!(nDepth <= cDepth || t < cSpread)) continue;
                if (!(nSpread - t >= 1.0)) continue;
                ++contributions;
                const int n = KernelDimension(RoundUpThird(nSpread));
                const double zN = (zFar - zNear) * nDepth + zNear;
                int kx, ky;
                if (zN <= focus) {
                    kx = n / 2 + dx;
                    ky = n / 2 + dy;
                } else {
                    kx = n / 2 - dx;
                    ky = n / 2 - dy;
                }
                const CImageFroat& kernel = *neighbour.kernel;
                if (kx < 0) kx = 0;
                if (kx > kernel.width - 1) kx = kernel.width - 1;
                if (ky < 0) ky = 0;
                if (ky > kernel.height - 1) ky = kernel.height - 1;
                const FroatPixel& L = kernel.PixelAt(kx, ky);
                sum.r = sum.r + L.r * X.r;
                sum.g = sum.g + L.g * X.g;
                sum.b = sum.b + L.b * X.b;
                sum.a = sum.a + L.a * X.a;
                weight.r = weight.r + L.r;
                weight.g = weight.g + L.g;
                weight.b = weight.b + L.b;
                weight.a = weight.a + L.a;
            }
        }
        result.SetPixel(x, y, sum);
        weightSum.SetPixel(x, y, weight);

        // Back from exposure space. A channel that met no weight keeps the
        // source value; strong 1 averages linearly (the limit of the mean).
        const FroatPixel& own = source.PixelAt(x, y);
        auto colour = [&](double R, double S, double fallback) {
            if (S == 0.0) return fallback;
            if (linear) return (R / S) / 255.0;
            return std::log(R / S) / lg / 255.0;
        };
        FroatPixel out;
        out.r = colour(sum.r, weight.r, own.r);
        out.g = colour(sum.g, weight.g, own.g);
        out.b = colour(sum.b, weight.b, own.b);
        out.a = weight.a == 0.0 ? own.a : (sum.a / weight.a) / 255.0;
        result.SetPixel(x, y, out);
        ClampPixel(x, y);
    }
    visitCount += visits;
    contributionCount += contributions;
}

void CBlurEngine::ClampPixel(int x, int y) {
    FroatPixel p = result.PixelAt(x, y);
    for (double* v : {&p.r, &p.g, &p.b, &p.a}) {
        if (*v >= 1.0) *v = 0.99999;
        if (*v < 0.0) *v = 0.0;
    }
    result.SetPixel(x, y, p);
}
