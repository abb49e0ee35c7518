#pragma once
// The kernels of one run: one per diameter step and side that some source
// uses, drawn once, on every thread.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include <memory>

#include "physical/BokehKernel.h"
#include "physical/PhysicalKernelCache.h"

class KernelSet {
public:
    // The key of a diameter's kernel on one side (near: the turned one).
    static std::uint32_t Key(double diameter, bool near) {
        return 2 * static_cast<std::uint32_t>(DiameterStep(std::fabs(diameter))) + (near ? 1 : 0);
    }
    // Marks a kernel as needed.
    void Need(std::uint32_t key);
    void Need(double diameter, bool near) { Need(Key(diameter, near)); }
    // How many kernels are needed.
    int Needed() const { return static_cast<int>(std::count_if(ids_.begin(), ids_.end(), [](std::int32_t id) { return id >= 0; })); }
    // Takes every needed kernel from the cache, drawing those it lacks (and
    // keeping them there). False when poll stopped it.
    bool Draw(PhysicalKernelCache& cache, int threads, const std::function<bool(int)>& poll);

    // The kernel of a diameter and side, once drawn.
    std::int32_t IdOf(std::uint32_t key) const { return ids_[key]; }
    std::int32_t IdOf(double diameter, bool near) const { return IdOf(Key(diameter, near)); }
    const BokehKernel& operator[](std::int32_t id) const { return *kernels_[static_cast<std::size_t>(id)]; }
    std::size_t Count() const { return kernels_.size(); }
    int LargestRadius() const;
    std::size_t Bytes() const;

private:
    std::vector<std::int32_t> ids_;  // by 2 * step + side; -1 where not needed
    std::vector<std::shared_ptr<const BokehKernel>> kernels_;
};
