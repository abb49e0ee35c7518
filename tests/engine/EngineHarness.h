#pragma once
#include <memory>
#include <vector>

#include "engine/BlurEngine.h"
#include "oracle/BlurInput.h"

// Fills a production engine from a blur input exactly as the program does,
// through its public interface only: options first, then the conversions.
std::unique_ptr<CBlurEngine> PrepareEngine(const BlurInput& input, int threads);

// Prepares and runs the engine.
std::unique_ptr<CBlurEngine> RunEngine(const BlurInput& input, int threads);

// The engine's result for a picture of width x height as R, G, B, A bytes,
// top row first.
std::vector<unsigned char> EngineBytes(const CBlurEngine& engine, int width, int height);
// As the program runs it: compact inputs, and the result straight as bytes.
std::vector<unsigned char> EngineBlurAsProgram(const BlurInput& input, int threads);

// Runs the engine on input with the given number of threads and returns its bytes.
std::vector<unsigned char> EngineBlur(const BlurInput& input, int threads);
