#include "engine/KernelCache.h"

#include "engine/LensResample.h"
#include "engine/Rounding.h"

std::shared_ptr<const CImageFroat> KernelCache::Kernel(double spread) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = kernels_.find(spread);
        if (found != kernels_.end()) return found->second;
    }
    // Made outside the lock; should another thread make it meanwhile, its
    // copy is kept and ours dropped (both are the same).
    const int dimension = KernelDimension(spread);
    auto kernel = std::make_shared<const CImageFroat>(
        ResampleLens(lens_, dimension, static_cast<double>(dimension) / spread));
    std::lock_guard<std::mutex> lock(mutex_);
    const auto placed = kernels_.emplace(spread, kernel);
    if (placed.second) bytes_ += kernel->pixelData.size() * sizeof(FroatPixel);
    return placed.first->second;
}

void KernelCache::Trim(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ <= bytes) return;
    for (auto it = kernels_.begin(); it != kernels_.end();) {
        if (it->second.use_count() > 1) {
            ++it;
            continue;
        }
        bytes_ -= it->second->pixelData.size() * sizeof(FroatPixel);
        it = kernels_.erase(it);
    }
}
