#include "engine/EngineHarness.h"

#include <stdexcept>

#include "api/ExactRun.h"

InputViews ViewsOf(const BlurInput& input) {
    InputViews views;
    views.colour = dof::ImageView(input.colour.data(), input.width, input.height, 4, dof::SampleType::kUInt8);
    views.depth = input.depthIsValues
                      ? dof::ImageView(input.depthValues.data(), input.width, input.height, 1, dof::SampleType::kFloat64)
                      : dof::ImageView(input.depthBytes.data(), input.width, input.height, 4, dof::SampleType::kUInt8);
    views.lens = dof::ImageView(input.lens.data(), 256, 256, 4, dof::SampleType::kUInt8);
    return views;
}

dof::ExactParams ParamsOf(const BlurInput& input) {
    dof::ExactParams params;
    params.blurSize = input.options.blurSize;
    params.strong = input.options.strong;
    params.focus = input.options.focus;
    params.zNear = input.options.zNear;
    params.zFar = input.options.zFar;
    params.zReverse = input.options.zReverse;
    return params;
}

EngineRun RunEngine(const BlurInput& input, int threads, int maxLanes,
                    std::function<void(const dof::Progress&)> progress, WorkCount count) {
    const InputViews views = ViewsOf(input);
    dof::RunOptions options;
    options.threads = threads;
    options.progress = std::move(progress);
    EngineRun run;
    dof::Result<dof::Image> result =
        RunExact(views.colour, views.depth, views.lens, ParamsOf(input), options, maxLanes, &run.engine, nullptr, count);
    if (!result) throw std::runtime_error("the blur failed: " + result.error().message);
    const dof::Image& image = result.value();
    run.bytes.assign(image.Data(), image.Data() + image.ByteCount());
    return run;
}

std::vector<unsigned char> EngineBlur(const BlurInput& input, int threads) {
    const InputViews views = ViewsOf(input);
    dof::RunOptions options;
    options.threads = threads;
    dof::Result<dof::Image> result = dof::Blur(views.colour, views.depth, views.lens, ParamsOf(input), options);
    if (!result) throw std::runtime_error("the blur failed: " + result.error().message);
    const dof::Image& image = result.value();
    return std::vector<unsigned char>(image.Data(), image.Data() + image.ByteCount());
}
