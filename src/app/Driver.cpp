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
#include "app/Parameters.h"
#include "app/ProgressLines.h"
#include "app/Sequence.h"
#include "app/Signals.h"

namespace {

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
    const std::string refused = BadParameterLine(options);
    if (!refused.empty()) {
        std::printf("%s\n", refused.c_str());
        return kBadInput;
    }

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
