#include "app/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include <dof/dof.h>

#include "app/Clock.h"
#include "app/CmdLineOption.h"
#include "app/ExitCodes.h"
#include "app/FrameRun.h"
#include "app/ProgressLines.h"
#include "app/Sequence.h"
#include "app/Signals.h"

namespace {

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

// A range of frames: a line for each, and at the end the frames that failed.
int RunShot(const CCmdLineOption& options) {
    std::vector<int> frames;
    const std::string refused = CheckSequence(options, frames);
    if (!refused.empty()) {
        std::printf("%s\n", refused.c_str());
        return kBadInput;
    }
    const SequenceResult result = RunSequence(options, frames, [](const FrameReport& report) {
        std::printf("%s\n", FrameLine(report).c_str());
        std::fflush(stdout);
    });
    for (const std::string& line : result.lines) std::printf("%s\n", line.c_str());
    return result.code;
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

    if (options.sequence) return RunShot(options);

    const FramePaths paths{options.imageFile, options.zbufferFile, options.lensFile, options.outputFile};
    const FrameOutcome outcome = RunFrame(options, paths, nullptr, ProgressLines());
    for (const std::string& line : outcome.lines) std::printf("%s\n", line.c_str());
    if (outcome.code != kSuccess) return outcome.code;
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
