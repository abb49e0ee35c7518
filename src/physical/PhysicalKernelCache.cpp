#include "physical/PhysicalKernelCache.h"

namespace {
std::size_t BytesOf(const BokehKernel& kernel) {
    return kernel.rows.size() * sizeof(KernelRow) + kernel.steps.size() * sizeof(RunStep);
}
}  // namespace

std::shared_ptr<const BokehKernel> PhysicalKernelCache::Find(std::uint32_t key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = kernels_.find(key);
    return found == kernels_.end() ? nullptr : found->second;
}

std::shared_ptr<const BokehKernel> PhysicalKernelCache::Keep(std::uint32_t key,
                                                             std::shared_ptr<const BokehKernel> kernel) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto placed = kernels_.emplace(key, std::move(kernel));
    if (placed.second) bytes_ += BytesOf(*placed.first->second);
    return placed.first->second;
}

void PhysicalKernelCache::Trim(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ <= bytes) return;
    for (auto it = kernels_.begin(); it != kernels_.end();) {
        if (it->second.use_count() > 1) {
            ++it;
            continue;
        }
        bytes_ -= BytesOf(*it->second);
        it = kernels_.erase(it);
    }
}
