#pragma once
// The physical camera mode from inputs that passed the API's checks to the
// finished picture: distances and discs, highlight recovery, kernels, the
// sources in scatter order, the banded scatter into the far and near fields,
// the background fill and the near field laid over it.
#include <cstddef>

#include <dof/Image.h>
#include <dof/Physical.h>

#include "physical/PhysicalKernelCache.h"

// What a run reports, on the thread that called it.
class PhysicalMonitor {
public:
    virtual ~PhysicalMonitor() = default;
    // Once, when every disc is known.
    virtual void SetUp(double largestDiameter) { (void)largestDiameter; }
    // How far the work has come, 0 to 1, about every millisecond and at the end.
    virtual void Report(double fraction) { (void)fraction; }
    // True to stop the run; asked with every report.
    virtual bool Stopped() { return false; }
};

// What a run found, for tests and the benchmark.
struct PhysicalStats {
    double largestDiameter = 0.0;
    std::size_t kernels = 0;
    std::size_t kernelBytes = 0;
    double steps = 0.0;  // run steps added by the scatter
    // Milliseconds of each phase: discs and highlights, kernels, sources,
    // scatter, background, result.
    double phaseMs[6] = {0, 0, 0, 0, 0, 0};
};

class PhysicalEngine {
public:
    // Rows of a band of the scatter; the bytes do not depend on it.
    static constexpr int kDefaultBandHeight = 16;

    PhysicalEngine(const dof::PhysicalParams& params, int threads, int bandHeight = kDefaultBandHeight)
        : params_(params), threads_(threads < 1 ? 1 : threads), bandHeight_(bandHeight < 1 ? 1 : bandHeight) {}

    // The largest disc any picture of this width may have: maxBlur, and
    // never more than the picture's diagonal.
    static double DiameterCap(const dof::Camera& camera, int width, int height);

    // output: width x height, four channels: the colour's integer type, or
    // kFloat32 for float colour. False when the monitor stopped it.
    // lens: the lens's shape and the kernels kept from earlier runs; the
    // kernels this run draws are kept there too.
    bool Run(const dof::ImageView& colour, const dof::ImageView& depth, PhysicalKernelCache& lens,
             dof::Image& output, PhysicalMonitor& monitor);

    const PhysicalStats& Stats() const { return stats_; }

private:
    dof::PhysicalParams params_;
    int threads_;
    int bandHeight_;
    PhysicalStats stats_;
};
