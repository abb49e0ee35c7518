#include "engine/ResourceLimits.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "engine/BlurEngine.h"
#include "image/FroatImage.h"

namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

// KernelDimension in double arithmetic, for blurs far beyond int range.
double Dimension(double v) {
    double k = std::trunc(std::ceil(3.0 * v) / 3.0);
    if (std::fmod(k, 2.0) != 0.0) k += 1.0;
    return k < 3.0 ? 3.0 : k;
}

// A dimension so large that its distance table alone exceeds any budget:
// no need to count its kernels one by one.
constexpr double kHopelessDimension = 1e6;

// A kernel image of dimension n, with the map node and image object around it,
// and its layout for the gather: per row offset within reach (at most n) and
// orientation, four channel rows of at most n + 1 + 16 doubles.
double KernelBytes(double n) {
    const double image = n * n * sizeof(FroatPixel) + 128.0;
    const double lanes = 2.0 * (n + 1.0) * 4.0 * (n + 17.0) * sizeof(double);
    return image + lanes;
}

}  // namespace

double MemoryBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 2.0 * kGiB;
    const double physical = static_cast<double>(pages) * static_cast<double>(pageSize);
    return std::min(physical * 0.75, 64.0 * kGiB);
}

double PixelBufferBytes(double width, double height) {
    return kRunFixedBytes + std::max(width, 0.0) * std::max(height, 0.0) * kRunBytesPerPixel;
}

double LargestDepthBlur(const CBlurEngine& engine, int width, int height) {
    // The compact depth is read in place when it has the size asked for.
    const bool direct = engine.compactDepth && width == engine.compactWidth && height == engine.compactHeight;
    double largest = 0.0;
    for (int y = 0; y < height; ++y) {
        const double* row =
            direct ? engine.depths.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) : nullptr;
        // Neighbouring pixels mostly share a depth, and so a blur.
        double lastDepth = 0.0, lastBlur = 0.0;
        bool known = false;
        for (int x = 0; x < width; ++x) {
            const double d = row ? row[x] : engine.DepthAt(x, y);
            if (!known || !(d == lastDepth)) {
                lastDepth = d;
                lastBlur = engine.BlurOfDepth(d);
                known = true;
            }
            largest = std::max(largest, lastBlur);
        }
    }
    return largest;
}

double BlurTableBytes(double largestBlur, double pixelCount) {
    const double top = std::max(largestBlur, 1.0);
    const double window = Dimension(top);
    if (!(window < kHopelessDimension)) return HUGE_VAL;
    const double distanceTable = window * window * sizeof(double);
    const double threads = CBlurEngine::ProcessorCount();
    // Box resampling keeps four doubles and a counter per kernel pixel.
    const double scratch = threads * window * window * (sizeof(FroatPixel) + sizeof(int));

    // Spreads are j / 3 for j = 3 ... ceil(3 * top); count the largest ones.
    const double highest = std::ceil(3.0 * top);
    double kernels = 0.0;
    double counted = 0.0;
    for (double j = highest; j >= 3.0 && counted < pixelCount; j -= 1.0, counted += 1.0)
        kernels += KernelBytes(Dimension(j / 3.0));
    // The distance table twice (as given and padded per row), and the tables
    // of the first pass's J, which keep within 32 MiB.
    return 2.0 * distanceTable + scratch + kernels + 32.0 * 1024 * 1024;
}
