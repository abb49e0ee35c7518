#include "app/Driver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <thread>

#include <dof/dof.h>

#include "app/Clock.h"
#include "app/CmdLineOption.h"
#include "app/ProgressLines.h"
#include "app/Signals.h"

namespace {

enum ExitCode {
    kSuccess = 0,
    kBadInput = 1,
    kDepthSize = 2,
    kLensSize = 3,
    kOutputFailed = 4,
    kOutOfMemory = 5,
    kSystemError = 6,
};

// The switch of each parameter, for "bad parameter!! _ -k = 0".
const char* SwitchOf(dof::Parameter parameter) {
    switch (parameter) {
        case dof::Parameter::kBlurSize: return "-s";
        case dof::Parameter::kStrong: return "-k";
        case dof::Parameter::kFocus: return "-c";
        case dof::Parameter::kZNear: return "-n";
        case dof::Parameter::kZFar: return "-f";
        case dof::Parameter::kNone: break;
    }
    return "";
}

// The switch and value of each of the physical mode's parameters.
std::pair<const char*, double> SwitchOf(dof::PhysicalParameter parameter, const dof::PhysicalParams& params,
                                        bool focusGiven) {
    const dof::Camera& c = params.camera;
    const dof::HighlightOptions& h = params.highlights;
    switch (parameter) {
        case dof::PhysicalParameter::kFNumber: return {"--fstop", c.fNumber};
        case dof::PhysicalParameter::kFocalLength: return {"--focal-length", c.focalLength};
        case dof::PhysicalParameter::kSensorWidth: return {"--sensor-width", c.sensorWidth};
        case dof::PhysicalParameter::kFocusDistance: return {focusGiven ? "--focus-distance" : "-c", c.focusDistance};
        case dof::PhysicalParameter::kZNear: return {"-n", c.zNear};
        case dof::PhysicalParameter::kZFar: return {"-f", c.zFar};
        case dof::PhysicalParameter::kMaxBlur: return {"--max-blur", c.maxBlur};
        case dof::PhysicalParameter::kClipLevel: return {"--clip-level", h.clipLevel};
        case dof::PhysicalParameter::kCompactGain: return {"--light-gain", h.compactGain};
        case dof::PhysicalParameter::kExtendedGain: return {"--surface-gain", h.extendedGain};
        default: return {"--surface-gain", h.extendedGain};  // the ratios and layers are not options
    }
}

bool CheckParameters(const CCmdLineOption& options) {
    if (options.physical) {
        const dof::PhysicalParams params = options.CameraParams();
        const dof::PhysicalParameter bad = dof::FirstInvalidParameter(params);
        if (bad != dof::PhysicalParameter::kNone) {
            const auto which = SwitchOf(bad, params, options.focusDistanceGiven);
            std::printf("bad parameter!! _ %s = %g\n", which.first, which.second);
            return false;
        }
        if (!options.highlightsValid) {
            std::printf("bad parameter!! _ --highlights = %s\n", options.highlightsText.c_str());
            return false;
        }
    } else {
        const dof::ExactParams params = options.Params();
        const dof::Parameter bad = dof::FirstInvalidParameter(params);
        if (bad != dof::Parameter::kNone) {
            const double values[] = {0.0, params.blurSize, params.strong, params.focus, params.zNear, params.zFar};
            std::printf("bad parameter!! _ %s = %g\n", SwitchOf(bad), values[static_cast<int>(bad)]);
            return false;
        }
    }
    if (!options.threadsValid) {
        std::printf("bad parameter!! _ --threads = %s\n", options.threadsText.c_str());
        return false;
    }
    // A bit depth that the output file's format does not take.
    if (options.bitDepth < 0 || !dof::TakesBitDepth(options.outputFile, options.bitDepth)) {
        std::printf("bad parameter!! _ --bit-depth = %s\n", options.bitDepthText.c_str());
        return false;
    }
    return true;
}

// The line and exit code of an error that no step below reports otherwise.
int ReportError(const dof::Error& error, const char* prefix = "") {
    switch (error.code) {
        case dof::ErrorCode::kTooLarge:
        case dof::ErrorCode::kOutOfMemory:
            std::printf("out of memory!! _ %s%s\n", prefix, error.message.c_str());
            return kOutOfMemory;
        case dof::ErrorCode::kSystem:
            std::printf("system error!! _ %s\n", error.message.c_str());
            return kSystemError;
        default:
            std::printf("fatal error!! _ %s\n", error.message.c_str());
            return kSystemError;
    }
}

// The worker threads of a run: one per processor, one fewer above four,
// unless --threads says otherwise.
int ThreadsOf(const CCmdLineOption& options) {
    if (options.threads >= 0) return options.threads;
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return processors > 4 ? processors - 1 : (processors > 0 ? processors : 1);
}

// The run itself; RunProgram adds the handling of exceptions and signals.
int RunUnguarded(int argc, const char* const* argv) {
    const std::uint32_t start = MilliClock();
    CCmdLineOption options;
    options.ParseArguments(argc, argv);

    if (options.action == CCmdLineOption::Action::kHelp) {
        options.PrintHelp();
        return kSuccess;
    }
    if (options.action == CCmdLineOption::Action::kVersion) {
        std::printf("dof %s\n", dof::Version());
        return kSuccess;
    }
    if (argc <= 1) {
        options.PrintUsage();
        return kBadInput;
    }
    if (!CheckParameters(options)) return kBadInput;

    // The three inputs, the depth beside the other two. Each is refused
    // before it is read whole when its picture could not be blurred within
    // the memory limit.
    dof::ReadOptions depthOptions;
    depthOptions.depthChannel = options.depthChannel;
    dof::ReadOptions colourOptions;
    colourOptions.layer = options.layer;
    // One file for both, as renders come: read and decoded once.
    const bool oneFile = options.imageFile == options.zbufferFile;
    dof::ReadOptions bothOptions = colourOptions;
    bothOptions.depthChannel = options.depthChannel;
    std::future<dof::Result<dof::Image>> depthRead;
    std::future<dof::ImageAndDepth> bothRead;
    try {
        if (oneFile)
            bothRead = std::async(std::launch::async,
                                  [&] { return dof::ReadImageAndDepth(options.imageFile, bothOptions); });
        else
            depthRead = std::async(std::launch::async,
                                   [&] { return dof::ReadDepth(options.zbufferFile, depthOptions); });
    } catch (const std::system_error&) {
        // No thread to spare: one after the other.
    }
    dof::Result<dof::Image> lens = dof::ReadImage(options.lensFile);
    dof::Result<dof::Image> colour = dof::Image();
    dof::Result<dof::Image> depth = dof::Image();
    if (oneFile) {
        dof::ImageAndDepth both =
            bothRead.valid() ? bothRead.get() : dof::ReadImageAndDepth(options.imageFile, bothOptions);
        colour = std::move(both.colour);
        depth = std::move(both.depth);
    } else {
        colour = dof::ReadImage(options.imageFile, colourOptions);
        depth = depthRead.valid() ? depthRead.get() : dof::ReadDepth(options.zbufferFile, depthOptions);
    }

    const dof::Error* errors[3] = {&depth.error(), &colour.error(), &lens.error()};
    for (const dof::Error* error : errors)
        if (*error && error->code != dof::ErrorCode::kReadFailed) return ReportError(*error);
    if (!depth || !colour || !lens) {
        if (!depth) std::printf("zbuffer load failed!! _ %s\n", options.zbufferFile.c_str());
        if (!colour) std::printf("image load failed!! _ %s\n", options.imageFile.c_str());
        if (!lens) std::printf("lens load failed!! _ %s\n", options.lensFile.c_str());
        return kBadInput;
    }

    dof::RunOptions run;
    run.threads = ThreadsOf(options);
    run.progress = ProgressLines();
    dof::Result<dof::Image> blurred =
        options.physical ? dof::BlurPhysical(colour.value(), depth.value(), lens.value(), options.CameraParams(), run)
                         : dof::Blur(colour.value(), depth.value(), lens.value(), options.Params(), run);
    if (!blurred) {
        const dof::Error& error = blurred.error();
        if (error.code == dof::ErrorCode::kDepthSize) {
            std::printf("image size - zbuffer size!! _ %dx%d - %dx%d\n", colour.value().Width(),
                        colour.value().Height(), depth.value().Width(), depth.value().Height());
            return kDepthSize;
        }
        if (error.code == dof::ErrorCode::kBadDepth) {
            std::printf("bad depth!! _ %s: %s\n", options.zbufferFile.c_str(), error.message.c_str());
            return kBadInput;
        }
        if (error.code == dof::ErrorCode::kLensSize) {
            std::printf("lens size not 256x256!! _ %dx%d\n", lens.value().Width(), lens.value().Height());
            return kLensSize;
        }
        if (error.code == dof::ErrorCode::kTooLarge) {
            char prefix[64];
            if (options.physical)
                std::snprintf(prefix, sizeof prefix, "--fstop %g: ", options.camera.camera.fNumber);
            else
                std::snprintf(prefix, sizeof prefix, "-s %g: ", options.blurSize);
            return ReportError(error, prefix);
        }
        if (error.code == dof::ErrorCode::kInvalidImage) {
            std::printf("bad colour!! _ %s: %s\n", options.imageFile.c_str(), error.message.c_str());
            return kBadInput;
        }
        return ReportError(error);
    }
    colour = dof::Image();
    depth = dof::Image();

    dof::WriteOptions writeOptions;
    writeOptions.bitDepth = options.bitDepth;
    if (dof::WriteImage(options.outputFile, blurred.value(), writeOptions)) {
        std::printf("output save failed!! _ %s\n", options.outputFile.c_str());
        return kOutputFailed;
    }
    const std::uint32_t end = MilliClock();
    std::printf("%.3f sec\n", ElapsedMs(start, end) / 1000.0);
    std::printf("out > %s\n", options.outputFile.c_str());
    return kSuccess;
}

// An exception that escapes a thread ends in std::terminate: report it like
// one on the main thread, without the abort.
[[noreturn]] void EndByException() {
    std::fflush(stdout);
    int code = kSystemError;
    try {
        const std::exception_ptr current = std::current_exception();
        if (current) std::rethrow_exception(current);
        std::printf("fatal error!! _ the run was stopped\n");
    } catch (...) {
        code = ReportException(std::current_exception());
    }
    std::fflush(stdout);
    std::_Exit(code);
}

}  // namespace

int ReportException(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc& e) {
        std::printf("out of memory!! _ %s\n", e.what());
        return kOutOfMemory;
    } catch (const std::system_error& e) {
        std::printf("system error!! _ %s\n", e.what());
        return kSystemError;
    } catch (const std::exception& e) {
        std::printf("fatal error!! _ %s\n", e.what());
        return kSystemError;
    } catch (...) {
        std::printf("fatal error!! _ unknown exception\n");
        return kSystemError;
    }
}

int RunProgram(int argc, const char* const* argv) {
    InstallSignalHandlers();
    std::set_terminate(EndByException);
    int code;
    try {
        code = RunUnguarded(argc, argv);
    } catch (...) {
        code = ReportException(std::current_exception());
    }
    std::fflush(stdout);
    return code;
}
