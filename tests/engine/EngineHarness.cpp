#include "engine/EngineHarness.h"

#include "image/Conversions.h"

std::unique_ptr<CBlurEngine> PrepareEngine(const BlurInput& input, int threads) {
    auto engine = std::make_unique<CBlurEngine>();
    engine->strong = input.options.strong;
    engine->zReverse = input.options.zReverse;
    engine->blurSize = input.options.blurSize;
    engine->focus = input.options.focus;
    engine->zNear = input.options.zNear;
    engine->zFar = input.options.zFar;
    engine->maxBlur = 5.0 * input.options.blurSize;
    engine->threadCountOverride = threads;

    engine->source.SetFromRGBA8(input.width, input.height, input.colour.data());
    if (input.depthIsValues) {
        SetDepthFromValues(*engine, input.depthValues.data(), input.width, input.height);
    } else {
        std::vector<unsigned char> scratch = input.depthBytes;  // reversed in place
        SetDepthFromBytes(*engine, input.width, input.height, scratch.data());
    }
    std::vector<unsigned char> lens = input.lens;  // alpha replaced in place
    SetLensFromBytes(*engine, lens.data());
    return engine;
}

std::unique_ptr<CBlurEngine> RunEngine(const BlurInput& input, int threads) {
    auto engine = PrepareEngine(input, threads);
    engine->Run();
    return engine;
}

std::vector<unsigned char> EngineBytes(const CBlurEngine& engine, int width, int height) {
    std::vector<unsigned char> bytes(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    if (!bytes.empty()) ResultToBytes(engine, bytes.data());
    return bytes;
}

std::vector<unsigned char> EngineBlur(const BlurInput& input, int threads) {
    return EngineBytes(*RunEngine(input, threads), input.width, input.height);
}

std::vector<unsigned char> EngineBlurAsProgram(const BlurInput& input, int threads) {
    CBlurEngine engine;
    engine.strong = input.options.strong;
    engine.zReverse = input.options.zReverse;
    engine.blurSize = input.options.blurSize;
    engine.focus = input.options.focus;
    engine.zNear = input.options.zNear;
    engine.zFar = input.options.zFar;
    engine.maxBlur = 5.0 * input.options.blurSize;
    engine.threadCountOverride = threads;
    SetSourceFromBytes(engine, input.width, input.height, input.colour.data());
    if (input.depthIsValues)
        SetDepthChannelFromValues(engine, input.depthValues.data(), input.width, input.height);
    else
        SetDepthChannelFromBytes(engine, input.width, input.height, input.depthBytes.data());
    std::vector<unsigned char> lens = input.lens;  // alpha replaced in place
    SetLensFromBytes(engine, lens.data());
    engine.resultAsBytes = true;
    engine.Run();
    return std::vector<unsigned char>(engine.resultBytes.begin(), engine.resultBytes.end());
}
