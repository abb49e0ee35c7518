#pragma once
// BlurPhysical with what the benchmark and tests look at inside the run.
#include <dof/Physical.h>

#include "physical/PhysicalEngine.h"

// BlurPhysical(colour, depth, lens, params, options); stats (when given)
// receives the engine's figures.
dof::Result<dof::Image> RunPhysical(const dof::ImageView& colour, const dof::ImageView& depth,
                                    const dof::ImageView& lens, const dof::PhysicalParams& params,
                                    const dof::RunOptions& options, PhysicalStats* stats = nullptr);
