#pragma once
// The kernels drawn from one lens, by KernelSet key, kept for every run that
// shares the cache (the frames of a shot). Safe from several threads; a
// kernel handed out stays valid while it is held.
#include <cstdint>
#include <memory>

#include "physical/BokehKernel.h"
#include "physical/LensShape.h"
#include "platform/KeptItems.h"

class PhysicalKernelCache {
public:
    explicit PhysicalKernelCache(const dof::ImageView& lens) : shape_(lens) {}

    const LensShape& Shape() const { return shape_; }
    // The kernel of a key when it is kept, else null.
    std::shared_ptr<const BokehKernel> Find(std::uint32_t key) { return kernels_.Find(key); }
    // Keeps a kernel drawn for key; another thread's copy, if one came
    // first, is the one kept and returned.
    std::shared_ptr<const BokehKernel> Keep(std::uint32_t key, std::shared_ptr<const BokehKernel> kernel) {
        const std::size_t bytes = kernel->rows.size() * sizeof(KernelRow) + kernel->steps.size() * sizeof(RunStep);
        return kernels_.Keep(key, std::move(kernel), bytes);
    }
    // When the cache holds more than bytes, only the kernels held elsewhere stay.
    void Trim(std::size_t bytes) { kernels_.Trim(bytes); }

private:
    const LensShape shape_;
    KeptItems<std::uint32_t, BokehKernel> kernels_;
};
