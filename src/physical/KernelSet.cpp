#include "physical/KernelSet.h"

#include <algorithm>
#include <cmath>

#include "platform/ParallelFor.h"

void KernelSet::Need(std::uint32_t key) {
    if (key >= ids_.size()) ids_.resize(static_cast<std::size_t>(key) + 2, -1);
    ids_[key] = 0;
}

bool KernelSet::Draw(PhysicalKernelCache& cache, int threads, const std::function<bool(int)>& poll) {
    std::vector<std::size_t> wanted;
    for (std::size_t i = 0; i < ids_.size(); ++i)
        if (ids_[i] >= 0) {
            ids_[i] = static_cast<std::int32_t>(wanted.size());
            wanted.push_back(i);
        }
    kernels_.assign(wanted.size(), nullptr);
    std::vector<std::size_t> missing;
    for (std::size_t k = 0; k < wanted.size(); ++k)
        if (!(kernels_[k] = cache.Find(static_cast<std::uint32_t>(wanted[k])))) missing.push_back(k);
    // The largest first, so that the last items handed out are short.
    return ParallelFor(
        static_cast<int>(missing.size()), threads,
        [&](int item) {
            const std::size_t k = missing[missing.size() - 1 - static_cast<std::size_t>(item)];
            const std::size_t index = wanted[k];
            const DenseKernel drawn = DrawKernel(cache.Shape(), StepDiameter(static_cast<int>(index / 2)));
            kernels_[k] = cache.Keep(static_cast<std::uint32_t>(index),
                                     std::make_shared<const BokehKernel>(EncodeRuns(index % 2 == 1 ? Rotated(drawn) : drawn)));
        },
        poll);
}

int KernelSet::LargestRadius() const {
    int radius = 0;
    for (const auto& kernel : kernels_) radius = std::max(radius, kernel->radius);
    return radius;
}

std::size_t KernelSet::Bytes() const {
    std::size_t bytes = 0;
    for (const auto& kernel : kernels_)
        bytes += kernel->rows.size() * sizeof(KernelRow) + kernel->steps.size() * sizeof(RunStep);
    return bytes;
}
