#pragma once
// The exact depth-of-field blur: each pixel's blur grows with its distance
// from the focus, the lens shape is scaled to each pixel's spread, colours
// are averaged in an exponential exposure space, and the result is the same
// bytes whatever the thread count or the processor.
#include <atomic>
#include <functional>
#include <memory>

#include <dof/Error.h>
#include <dof/Export.h>
#include <dof/Image.h>

namespace dof {

// The parameters of the exact blur, with the command line's defaults.
struct ExactParams {
    double blurSize = 16.0;  // pixels; each pixel's blur is at most MaxBlur()
    double strong = 1.035;   // base of the exposure weighting; 1 averages linearly
    double focus = 0.5;      // focus distance
    double zNear = 0.0;      // the distance depth 0 stands for
    double zFar = 1.0;       // the distance depth 1 stands for
    bool zReverse = false;   // depth d becomes 1 - d

    // The largest blur of any pixel: five times the blur size.
    double MaxBlur() const { return 5.0 * blurSize; }
};

// The parameters in the order they are checked.
enum class Parameter { kNone, kBlurSize, kStrong, kFocus, kZNear, kZFar };

// The first parameter, in the order blurSize, strong, focus, zNear, zFar,
// that leaves the result undefined: a value that is not finite, or a strong
// whose exposure space would overflow (|255 ln strong| > ln 1e300, about
// 0.0666 to 15.01) or is not positive. kNone when every one is fine.
DOF_API Parameter FirstInvalidParameter(const ExactParams& params);
// The same as an error (kBadParameter) that names the parameter and its value.
DOF_API Error Validate(const ExactParams& params);
// The parameter's field name ("blurSize", ...), or "" for kNone.
DOF_API const char* ParameterName(Parameter parameter);

enum class Stage {
    kSetUp,      // reported once, when the blur of every pixel is known
    kFirstPass,  // every pixel's spread and the lens kernels
    kGather,     // the output picture
};

// How far a blur has come.
struct Progress {
    Stage stage = Stage::kSetUp;
    double stageFraction = 0.0;  // of this stage: 0 at its first report, exactly 1 at its last
    double fraction = 0.0;       // of the whole blur: the first pass is its first half
    double largestBlur = 0.0;    // the largest blur of any pixel, in pixels
};

// A flag that stops a running blur. Copies share the flag; Cancel may be
// called from any thread, and from a signal handler.
class DOF_API CancelToken {
public:
    CancelToken();
    void Cancel() const noexcept;
    bool Cancelled() const noexcept;

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

struct RunOptions {
    // Worker threads; 0 means one for every processor. The bytes are the
    // same for every count.
    int threads = 0;
    // Called on the thread that called Blur: once after set-up, then about
    // every millisecond while a pass runs, and at the end of each pass.
    // Keep it short; it may Cancel.
    std::function<void(const Progress&)> progress;
    // A blur that sees it cancelled stops within a row of work (well under
    // 0.1 s on a 1920 x 1080 picture) and returns kCancelled.
    CancelToken cancel;
    // Bytes a blur may take; 0 means three quarters of the physical memory,
    // at most 64 GiB. A blur whose tables and kernels would not fit is
    // refused with kTooLarge before it starts.
    double memoryLimit = 0.0;
};

// Blurs a picture. The exact blur works on 8-bit display values: colour
// has 1 to 4 channels; 8-bit samples are taken as they are, 16-bit ones
// rounded to 8 bits, float samples (linear light) encoded to sRGB, clipped
// to 0..1 and rounded. depth: the same size; its first channel is read,
// integers over their largest value (byte / 255, value / 65535), floats as
// they are (0 stands for zNear, 1 for zFar; +inf and anything beyond 1 are
// simply far); a float depth with values that are not a number or below
// zero is refused (kBadDepth). lens: 256 x 256, taken like colour; its grey
// level (the integer mean of red, green and blue) is its alpha. The result
// is 8-bit RGBA of the colour's size.
DOF_API Result<Image> Blur(const ImageView& colour, const ImageView& depth, const ImageView& lens,
                           const ExactParams& params, const RunOptions& options = RunOptions());

}  // namespace dof
