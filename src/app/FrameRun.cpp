#include "app/FrameRun.h"

#include <cstdio>
#include <future>
#include <system_error>
#include <thread>

#include "app/ExitCodes.h"

namespace {

std::string Size(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// The output of a blur that went well, written as its name asks.
FrameOutcome Write(const CCmdLineOption& options, const FramePaths& paths, const dof::Image& picture) {
    dof::WriteOptions writeOptions;
    writeOptions.bitDepth = options.bitDepth;
    if (dof::WriteImage(paths.output, picture, writeOptions))
        return {kOutputFailed, {"output save failed!! _ " + paths.output}};
    return {};
}

}  // namespace

int ThreadsOf(const CCmdLineOption& options) {
    if (options.threads >= 0) return options.threads;
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return processors > 4 ? processors - 1 : (processors > 0 ? processors : 1);
}

FrameOutcome FailureOutcome(const dof::Error& error, const std::string& prefix) {
    switch (error.code) {
        case dof::ErrorCode::kTooLarge:
        case dof::ErrorCode::kOutOfMemory: return {kOutOfMemory, {"out of memory!! _ " + prefix + error.message}};
        case dof::ErrorCode::kSystem: return {kSystemError, {"system error!! _ " + error.message}};
        default: return {kSystemError, {"fatal error!! _ " + error.message}};
    }
}

FrameOutcome RunFrame(const CCmdLineOption& options, const FramePaths& paths, const dof::Lens* lens,
                      const std::function<void(const dof::Progress&)>& progress) {
    // The three inputs, the depth beside the other two. Each is refused
    // before it is read whole when its picture could not be blurred within
    // the memory limit.
    dof::ReadOptions depthOptions;
    depthOptions.depthChannel = options.depthChannel;
    dof::ReadOptions colourOptions;
    colourOptions.layer = options.layer;
    // One file for both, as renders come: read and decoded once.
    const bool oneFile = paths.colour == paths.depth;
    dof::ReadOptions bothOptions = colourOptions;
    bothOptions.depthChannel = options.depthChannel;
    std::future<dof::Result<dof::Image>> depthRead;
    std::future<dof::ImageAndDepth> bothRead;
    try {
        if (oneFile)
            bothRead = std::async(std::launch::async, [&] { return dof::ReadImageAndDepth(paths.colour, bothOptions); });
        else
            depthRead = std::async(std::launch::async, [&] { return dof::ReadDepth(paths.depth, depthOptions); });
    } catch (const std::system_error&) {
        // No thread to spare: one after the other.
    }
    dof::Result<dof::Image> lensPicture = lens ? dof::Image() : dof::ReadImage(paths.lens);
    dof::Result<dof::Image> colour = dof::Image();
    dof::Result<dof::Image> depth = dof::Image();
    if (oneFile) {
        dof::ImageAndDepth both = bothRead.valid() ? bothRead.get() : dof::ReadImageAndDepth(paths.colour, bothOptions);
        colour = std::move(both.colour);
        depth = std::move(both.depth);
    } else {
        colour = dof::ReadImage(paths.colour, colourOptions);
        depth = depthRead.valid() ? depthRead.get() : dof::ReadDepth(paths.depth, depthOptions);
    }

    // Memory first, then the files that did not load, in the order depth, colour, lens.
    const dof::Error* errors[3] = {&depth.error(), &colour.error(), &lensPicture.error()};
    for (const dof::Error* error : errors)
        if (*error && error->code != dof::ErrorCode::kReadFailed) return FailureOutcome(*error);
    if (!depth || !colour || !lensPicture) {
        FrameOutcome failed{kBadInput, {}};
        if (!depth) failed.lines.push_back("zbuffer load failed!! _ " + paths.depth);
        if (!colour) failed.lines.push_back("image load failed!! _ " + paths.colour);
        if (!lensPicture) failed.lines.push_back("lens load failed!! _ " + paths.lens);
        return failed;
    }

    dof::RunOptions run;
    run.threads = ThreadsOf(options);
    run.progress = progress;
    const dof::Image& c = colour.value();
    const dof::Image& d = depth.value();
    dof::Result<dof::Image> blurred = dof::Image();
    if (lens)
        blurred = options.physical ? dof::BlurPhysical(c, d, *lens, options.CameraParams(), run)
                                   : dof::Blur(c, d, *lens, options.Params(), run);
    else
        blurred = options.physical ? dof::BlurPhysical(c, d, lensPicture.value(), options.CameraParams(), run)
                                   : dof::Blur(c, d, lensPicture.value(), options.Params(), run);
    if (!blurred) {
        const dof::Error& error = blurred.error();
        const dof::ImageView lensView = lens ? lens->Picture() : lensPicture.value().View();
        switch (error.code) {
            case dof::ErrorCode::kDepthSize:
                return {kDepthSize, {"image size - zbuffer size!! _ " + Size(c.Width(), c.Height()) + " - " +
                                     Size(d.Width(), d.Height())}};
            case dof::ErrorCode::kLensSize:
                return {kLensSize, {"lens size not 256x256!! _ " + Size(lensView.Width(), lensView.Height())}};
            case dof::ErrorCode::kBadDepth: return {kBadInput, {"bad depth!! _ " + paths.depth + ": " + error.message}};
            case dof::ErrorCode::kInvalidImage:
                return {kBadInput, {"bad colour!! _ " + paths.colour + ": " + error.message}};
            case dof::ErrorCode::kTooLarge: {
                char prefix[64];
                if (options.physical)
                    std::snprintf(prefix, sizeof prefix, "--fstop %g: ", options.camera.camera.fNumber);
                else
                    std::snprintf(prefix, sizeof prefix, "-s %g: ", options.blurSize);
                return FailureOutcome(error, prefix);
            }
            default: return FailureOutcome(error);
        }
    }
    // The inputs go before the output is written.
    colour = dof::Image();
    depth = dof::Image();
    return Write(options, paths, blurred.value());
}
