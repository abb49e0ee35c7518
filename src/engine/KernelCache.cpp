#include "engine/KernelCache.h"

#include "engine/LensResample.h"
#include "engine/Rounding.h"

std::shared_ptr<const CImageFroat> KernelCache::Kernel(double spread) {
    if (std::shared_ptr<const CImageFroat> kept = kernels_.Find(spread)) return kept;
    // Made outside any lock; should another thread make it meanwhile, its
    // copy is kept and ours dropped (both are the same).
    const int dimension = KernelDimension(spread);
    auto kernel = std::make_shared<const CImageFroat>(
        ResampleLens(lens_, dimension, static_cast<double>(dimension) / spread));
    const std::size_t bytes = kernel->pixelData.size() * sizeof(FroatPixel);
    return kernels_.Keep(spread, std::move(kernel), bytes);
}
