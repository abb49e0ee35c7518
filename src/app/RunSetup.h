#pragma once
#include <cstddef>
#include <memory>

class CBlurEngine;
class CCmdLineOption;

// The inputs of a run, from their bytes to the filled engine, with every
// check of the driver but none of its output: what the driver would report
// is returned as a value.

// Copies the options into the engine: strong, zReverse, blurSize, focus,
// zNear, zFar, and maxBlur = 5 blurSize.
void CopyOptions(const CCmdLineOption& options, CBlurEngine& engine);

// The first parameter, in the order -s, -k, -c, -n, -f, that leaves the
// result undefined: a value that is not finite, or a strong whose exposure
// space would overflow (|255 ln strong| > ln 1e300) or is not positive.
struct BadParameter {
    const char* name = nullptr;  // the switch
    double value = 0.0;
};
bool FindBadParameter(const CCmdLineOption& options, BadParameter& bad);

// One input file, read whole (or not read at all).
struct InputFile {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    bool read = false;
};

// The memory an input's picture would take in the run, judged from its
// first headSize bytes and its size. A header that the decoders would refuse
// costs only the file itself; a depth file whose Radiance header goes on past
// the bytes shown is judged later, from all of its bytes.
struct InputNeed {
    bool sized = false;  // width and height were found
    int width = 0;
    int height = 0;
    double bytes = 0.0;
};
InputNeed InputMemory(const unsigned char* head, std::size_t headSize, std::size_t fileSize, bool isDepth);

enum class SetupStatus {
    kReady,          // the engine is filled; Run may be called
    kLoadFailed,     // one or more inputs were not read or not decoded
    kDepthSize,      // depth size differs from the colour size
    kLensSize,       // lens is not 256 x 256
    kImageTooLarge,  // an input's picture would not fit in memory
    kBlurTooLarge,   // the kernels and tables of the largest blur would not fit
};

// Inputs in the order the driver reads and reports them.
enum InputIndex { kDepthInput = 0, kColourInput = 1, kLensInput = 2 };

struct SetupReport {
    SetupStatus status = SetupStatus::kReady;
    bool loaded[3] = {false, false, false};
    int width = 0;        // the colour picture: the size of the run
    int height = 0;
    int otherWidth = 0;   // the depth (kDepthSize) or the lens (kLensSize)
    int otherHeight = 0;
    int tooLarge = -1;    // InputIndex of kImageTooLarge
    InputNeed need;       // of that input
    double largestBlur = 0.0;  // for kBlurTooLarge
    double neededBytes = 0.0;  // kImageTooLarge, kBlurTooLarge
};

// Decodes the inputs (taking their buffers), checks them in the driver's
// order and fills the engine's source, depth and lens; the engine's options
// (zReverse among them) must be set. budgetBytes bounds every estimate.
SetupReport PrepareRun(CBlurEngine& engine, InputFile (&inputs)[3], double budgetBytes);
