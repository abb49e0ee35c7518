#pragma once
// The exact blur as Blur runs it, in two steps, with what tests, fuzzers and
// the benchmark need to look into the engine.
#include <memory>

#include <dof/Blur.h>

#include "engine/BlurEngine.h"

// A blur that passed every check and is ready to run.
struct PreparedBlur {
    EngineInputs inputs;
    std::unique_ptr<CBlurEngine> engine;
    double largestBlur = 0.0;  // the largest blur of any pixel
    double neededBytes = 0.0;  // the memory estimate of the run
};

// Everything Blur does before the passes: checks the parameters and images
// (in this order: parameters, images, depth size, lens size), converts the
// images to the engine's inputs and refuses a blur beyond the memory limit
// (kTooLarge). The engine uses maxLanes (0: the widest lanes).
// kernels, when given, are the lens's kernels kept from earlier runs (the
// lens picture is then only checked).
dof::Error PrepareExact(const dof::ImageView& colour, const dof::ImageView& depth, const dof::ImageView& lens,
                        const dof::ExactParams& params, const dof::RunOptions& options, int maxLanes,
                        PreparedBlur& prepared, std::shared_ptr<KernelCache> kernels = nullptr);

// Whether a run counts the gather's visits and contributions (see
// CBlurEngine::CountWork): the tests and the benchmark ask for them.
enum class WorkCount { kSkip, kCount };

// Blur(colour, depth, lens, params, options) with an engine of maxLanes,
// handed to keep (when given) once it has run.
dof::Result<dof::Image> RunExact(const dof::ImageView& colour, const dof::ImageView& depth,
                                 const dof::ImageView& lens, const dof::ExactParams& params,
                                 const dof::RunOptions& options, int maxLanes = 0,
                                 std::unique_ptr<CBlurEngine>* keep = nullptr,
                                 std::shared_ptr<KernelCache> kernels = nullptr,
                                 WorkCount count = WorkCount::kSkip);

// Where a memory limit is 0: the machine's budget.
double EffectiveMemoryLimit(double limit);
