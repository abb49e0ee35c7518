#pragma once
// The kernels drawn from one lens, by KernelSet key, kept for every run that
// shares the cache (the frames of a shot). Safe from several threads; a
// kernel handed out stays valid while it is held.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "physical/BokehKernel.h"
#include "physical/LensShape.h"

class PhysicalKernelCache {
public:
    explicit PhysicalKernelCache(const dof::ImageView& lens) : shape_(lens) {}

    const LensShape& Shape() const { return shape_; }
    // The kernel of a key when it is kept, else null.
    std::shared_ptr<const BokehKernel> Find(std::uint32_t key);
    // Keeps a kernel drawn for key; another thread's copy, if one came
    // first, is the one kept and returned.
    std::shared_ptr<const BokehKernel> Keep(std::uint32_t key, std::shared_ptr<const BokehKernel> kernel);
    // When the cache holds more than bytes, only the kernels held elsewhere stay.
    void Trim(std::size_t bytes);

private:
    const LensShape shape_;
    std::mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<const BokehKernel>> kernels_;
    std::size_t bytes_ = 0;
};
