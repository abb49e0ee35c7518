#include "app/Driver.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "app/CmdLineOption.h"
#include "app/FileIo.h"
#include "app/RunSetup.h"
#include "engine/BlurEngine.h"
#include "engine/Clock.h"
#include "engine/ResourceLimits.h"
#include "image/Conversions.h"
#include "image/TgaWriter.h"

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

constexpr double kMiB = 1024.0 * 1024.0;

bool CheckParameters(const CCmdLineOption& options) {
    BadParameter bad;
    if (!FindBadParameter(options, bad)) return true;
    std::printf("bad parameter!! _ %s = %g\n", bad.name, bad.value);
    return false;
}

void PrintImageTooLarge(const std::string& path, const InputNeed& need, double budget) {
    std::printf("out of memory!! _ %s: %dx%d pixels need %.0f MiB, the limit is %.0f MiB\n", path.c_str(),
                need.width, need.height, std::ceil(need.bytes / kMiB), std::floor(budget / kMiB));
}

void PrintFileTooLarge(const std::string& path, double bytes, double budget) {
    std::printf("out of memory!! _ %s: the file needs %.0f MiB, the limit is %.0f MiB\n", path.c_str(),
                std::ceil(bytes / kMiB), std::floor(budget / kMiB));
}

// Reads one input whole unless its header shows that its picture would not
// fit in budget; then prints why and leaves refused set.
InputFile ReadInput(const std::string& path, bool isDepth, double budget, bool& refused) {
    InputFile file;
    const HeadCheck check = [&](const unsigned char* head, std::size_t headSize, std::size_t fileSize) {
        const InputNeed need = InputMemory(head, headSize, fileSize, isDepth);
        if (need.bytes <= budget) return true;
        if (need.sized)
            PrintImageTooLarge(path, need, budget);
        else
            PrintFileTooLarge(path, need.bytes, budget);
        return false;
    };
    const ReadResult result = ReadWholeFile(path, file.data, file.size, check);
    refused = result == ReadResult::kRefused;
    file.read = result == ReadResult::kRead;
    return file;
}

int ReportSetup(const SetupReport& report, const CCmdLineOption& options, double budget) {
    const std::string* paths[3] = {&options.zbufferFile, &options.imageFile, &options.lensFile};
    switch (report.status) {
        case SetupStatus::kReady:
            return kSuccess;
        case SetupStatus::kImageTooLarge:
            if (report.need.sized)
                PrintImageTooLarge(*paths[report.tooLarge], report.need, budget);
            else
                PrintFileTooLarge(*paths[report.tooLarge], report.need.bytes, budget);
            return kOutOfMemory;
        case SetupStatus::kLoadFailed:
            if (!report.loaded[kDepthInput]) std::printf("zbuffer load failed!! _ %s\n", paths[0]->c_str());
            if (!report.loaded[kColourInput]) std::printf("image load failed!! _ %s\n", paths[1]->c_str());
            if (!report.loaded[kLensInput]) std::printf("lens load failed!! _ %s\n", paths[2]->c_str());
            return kBadInput;
        case SetupStatus::kDepthSize:
            std::printf("image size - zbuffer size!! _ %dx%d - %dx%d\n", report.width, report.height,
                        report.otherWidth, report.otherHeight);
            return kDepthSize;
        case SetupStatus::kLensSize:
            std::printf("lens size not 256x256!! _ %dx%d\n", report.otherWidth, report.otherHeight);
            return kLensSize;
        case SetupStatus::kBlurTooLarge:
            std::printf("out of memory!! _ -s %g: blurs up to %g pixels on %dx%d need %.0f MiB, "
                        "the limit is %.0f MiB\n",
                        options.blurSize, report.largestBlur, report.width, report.height,
                        std::ceil(report.neededBytes / kMiB), std::floor(budget / kMiB));
            return kOutOfMemory;
    }
    return kBadInput;
}

// The run itself; RunProgram adds the handling of exceptions and signals.
int RunUnguarded(int argc, const char* const* argv) {
    const std::uint32_t start = MilliClock();
    auto engine = std::make_unique<CBlurEngine>();
    CCmdLineOption options;

    options.ParseArguments(argc, argv);
    CopyOptions(options, *engine);

    if (argc <= 1) {
        options.PrintUsage();
        return kBadInput;
    }
    if (!CheckParameters(options)) return kBadInput;

    // Each input is refused before it is read whole when its picture could
    // not fit; PrepareRun checks again from all of the bytes.
    const double budget = MemoryBudget();
    const std::string* paths[3] = {&options.zbufferFile, &options.imageFile, &options.lensFile};
    InputFile inputs[3];
    for (int i = 0; i < 3; ++i) {
        bool refused = false;
        inputs[i] = ReadInput(*paths[i], i == kDepthInput, budget, refused);
        if (refused) return kOutOfMemory;
    }
    const SetupReport report = PrepareRun(*engine, inputs, budget);
    if (report.status != SetupStatus::kReady) return ReportSetup(report, options, budget);
    const int w = report.width;
    const int h = report.height;

    // The result straight as the bytes that are written.
    engine->resultAsBytes = true;
    engine->Run();

    bool written;
    {
        LargeArray<unsigned char> bytes;
        bytes.swap(engine->resultBytes);
        engine.reset();
        CTGAImage file;
        written = bytes.size() == static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4 &&
                  file.Encode(w, h, bytes.data()) &&
                  WriteFileAtomically(options.outputFile, file.fileBytes.data(), file.fileSize);
    }
    if (!written) {
        std::printf("output save failed!! _ %s\n", options.outputFile.c_str());
        return kOutputFailed;
    }

    const std::uint32_t end = MilliClock();
    std::printf("%.3f sec\n", ElapsedMs(start, end) / 1000.0);
    std::printf("out > %s\n", options.outputFile.c_str());
    return kSuccess;
}

void WriteRaw(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

// A signal that ends the run: no temporary output stays behind, and the
// process still ends by that signal, as its parent expects.
void EndBySignal(int signalNumber) {
    RemoveUnfinishedOutput();
    const char* name = signalNumber == SIGINT ? "SIGINT" : signalNumber == SIGTERM ? "SIGTERM" : "SIGHUP";
    WriteRaw("interrupted!! _ ");
    WriteRaw(name);
    WriteRaw("\n");
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

void InstallSignalHandlers() {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = EndBySignal;
        sigemptyset(&action.sa_mask);
        sigaddset(&action.sa_mask, SIGINT);
        sigaddset(&action.sa_mask, SIGTERM);
        sigaddset(&action.sa_mask, SIGHUP);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

namespace {

// An exception that escapes a worker thread ends in std::terminate: report
// it like one on the main thread, without the abort.
[[noreturn]] void EndByException() {
    RemoveUnfinishedOutput();
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
