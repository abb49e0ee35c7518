#include "engine/ResourceLimits.h"

#include <algorithm>
#include <cmath>

#include "engine/Rounding.h"
#include "engine/RowJobs.h"
#include "image/FroatImage.h"
#include "platform/ParallelFor.h"

namespace {

// A dimension so large that its distance table alone exceeds any budget:
// no need to count its kernels one by one.
constexpr double kHopelessDimension = 1e6;

// A kernel image of dimension n, with the map node and image object around it,
// and its layout for the gather: per row offset within reach (at most n + 1,
// with rows of 0 on either side) and orientation, four channel rows of at
// most n + 1 doubles and their pads.
double KernelBytes(double n) {
    const double image = n * n * sizeof(FroatPixel) + 128.0;
    const double rows = n + 1.0 + 2.0 * KernelLanes::kZeroRows;
    const double lanes = 2.0 * rows * 4.0 * (n + 1.0 + 2.0 * kRowPad) * sizeof(double);
    return image + lanes;
}

}  // namespace

double PixelBufferBytes(double width, double height) {
    return kRunFixedBytes + std::max(width, 0.0) * std::max(height, 0.0) * kRunBytesPerPixel;
}

double BlurTableBytes(double largestBlur, double pixelCount) {
    const double top = std::max(largestBlur, 1.0);
    const double window = KernelDimensionOf(top);
    if (!(window < kHopelessDimension)) return HUGE_VAL;
    const double distanceTable = window * window * sizeof(double);
    // Box resampling keeps four doubles and a counter per kernel pixel.
    const double threads = ProcessorCount();
    const double scratch = threads * window * window * (sizeof(FroatPixel) + sizeof(int));

    // Spreads are j / 3 for j = 3 ... ceil(3 * top); count the largest ones.
    const double highest = std::ceil(3.0 * top);
    double kernels = 0.0;
    double counted = 0.0;
    for (double j = highest; j >= 3.0 && counted < pixelCount; j -= 1.0, counted += 1.0)
        kernels += KernelBytes(KernelDimensionOf(j / 3.0));
    // The distance table twice (as given and padded per row), and the tables
    // of the first pass's J, which keep within 32 MiB.
    return 2.0 * distanceTable + scratch + kernels + 32.0 * 1024 * 1024;
}
