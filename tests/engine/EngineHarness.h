#pragma once
#include <memory>
#include <vector>

#include <dof/Blur.h>

#include "api/ExactRun.h"
#include "engine/BlurEngine.h"
#include "oracle/BlurInput.h"

// A blur input's pictures as the library takes them: colour and lens as
// 8-bit RGBA, the depth as 8-bit RGBA (its first channel is read) or, for
// depth values, one channel of doubles.
struct InputViews {
    dof::ImageView colour, depth, lens;
};
InputViews ViewsOf(const BlurInput& input);
dof::ExactParams ParamsOf(const BlurInput& input);

// An engine run exactly as the library runs it, kept to be looked into, with
// the bytes it wrote (R, G, B, A, top row first).
struct EngineRun {
    std::unique_ptr<CBlurEngine> engine;
    std::vector<unsigned char> bytes;
    const CBlurEngine* operator->() const { return engine.get(); }
};
// threads worker threads and at most maxLanes lanes (0: the widest), the
// gather's work counted (GetStats) unless count says otherwise;
// progress, when given, receives the run's reports.
EngineRun RunEngine(const BlurInput& input, int threads, int maxLanes = 0,
                    std::function<void(const dof::Progress&)> progress = nullptr,
                    WorkCount count = WorkCount::kCount);

// The output bytes of the public call dof::Blur.
std::vector<unsigned char> EngineBlur(const BlurInput& input, int threads);
