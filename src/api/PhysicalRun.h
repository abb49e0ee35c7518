#pragma once
// BlurPhysical with what the benchmark and tests look at inside the run.
#include <dof/Physical.h>

#include <memory>

#include "physical/PhysicalEngine.h"
#include "physical/PhysicalKernelCache.h"

// BlurPhysical(colour, depth, lens, params, options); stats (when given)
// receives the engine's figures; kernels, when given, are the lens's kernels
// kept from earlier runs (the lens picture is then only checked).
dof::Result<dof::Image> RunPhysical(const dof::ImageView& colour, const dof::ImageView& depth,
                                    const dof::ImageView& lens, const dof::PhysicalParams& params,
                                    const dof::RunOptions& options, PhysicalStats* stats = nullptr,
                                    std::shared_ptr<PhysicalKernelCache> kernels = nullptr);
