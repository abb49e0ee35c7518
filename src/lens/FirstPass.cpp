#include <cmath>
#include <set>

#include "engine/BlurEngine.h"
#include "lens/LensResample.h"

void CBlurEngine::FirstPassRow(int y) {
    const int width = source.width;
    const int height = source.height;
    const int k = kernelSize;
    const bool linear = strong == 1.0;
    std::set<double> seenSpreads;
    for (int x = 0; x < width; ++x) {
        // Exposure: strong to the power 255 c; strong 1 keeps the colour linear.
        const FroatPixel& p = source.PixelAt(x, y);
        FroatPixel e;
        if (linear) {
            e.r = p.r * 255.0;
            e.g = p.g * 255.0;
            e.b = p.b * 255.0;
        } else {
            e.r = std::pow(strong, p.r * 255.0);
            e.g = std::pow(strong, p.g * 255.0);
            e.b = std::pow(strong, p.b * 255.0);
        }
        e.a = p.a * 255.0;
        exposure.SetPixel(x, y, e);

        // Reach: the largest blur in the K x K window, at least 1.
        double m = 1.0;
        for (int v = y - k / 2; v <= y - k / 2 + k - 1; ++v) {
            for (int u = x - k / 2; u <= x - k / 2 + k - 1; ++u) {
                if (u < 0 || u >= width || v < 0 || v >= height) continue;
                const double b = pixels[static_cast<std::size_t>(v) * width + u].blur;
                if (b > m) m = b;
            }
        }
        PixelBlur& record = pixels[static_cast<std::size_t>(y) * width + x];
        record.reach = RoundUpThird(m);
        const int n = KernelDimension(record.reach);

        // Spread: the mean of the attenuated blurs of the neighbours that cover
        // this pixel and are not behind it.
        double sum = 0.0;
        int count = 0;
        const double dc = depth.PixelAt(x, y).r;
        for (int dy = -(n / 2); dy <= -(n / 2) + n - 1; ++dy) {
            for (int dx = -(n / 2); dx <= -(n / 2) + n - 1; ++dx) {
                const int u = x + dx;
                const int v = y + dy;
                if (u < 0 || u >= width || v < 0 || v >= height) continue;
                const double w = distanceTable[static_cast<std::size_t>(k / 2 + dy) * k + (k / 2 + dx)];
                const double dn = depth.PixelAt(u, v).r;
                const double B = pixels[static_cast<std::size_t>(v) * width + u].blur;
                if (dn <= dc) {
                    const double M = 1.0 - (B - w) / B;
                    const double J = B * (1.0 - M * M);
                    if (J >= 1.0) {
                        sum = sum + J;
                        count = count + 1;
                    }
                }
            }
        }
        // With every blur below 1 nothing contributes: the pixel keeps a spread of 1.
        record.spread = count > 0 ? RoundUpThird(sum / count) : 1.0;
        const double spread = record.spread;
        const int kernelDimension = KernelDimension(spread);

        // One kernel per distinct spread: claim the key under the lock, resample
        // outside it, then store.
        if (seenSpreads.count(spread) != 0) continue;
        seenSpreads.insert(spread);
        {
            std::lock_guard<std::mutex> lock(kernelMutex);
            if (kernels.find(spread) != kernels.end()) continue;
            kernels.emplace(spread, CImageFroat());
        }
        CImageFroat kernel = ResampleLens(lens, kernelDimension, static_cast<double>(kernelDimension) / spread);
        std::lock_guard<std::mutex> lock(kernelMutex);
        kernels[spread] = std::move(kernel);
    }
}
