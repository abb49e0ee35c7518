#include "app/Sequence.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/FramePattern.h"
#include "app/FrameRun.h"

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

}  // namespace

std::string CheckSequence(const CCmdLineOption& options, std::vector<int>& frames) {
    if (!ParseFrames(options.framesText, frames)) return "bad parameter!! _ --frames = " + options.framesText;
    if (!HasFramePattern(options.outputFile))
        return "bad parameter!! _ -o = " + options.outputFile + ": a sequence needs a frame pattern (#### or %04d)";
    return "";
}

SequenceResult RunSequence(const CCmdLineOption& options, const std::vector<int>& frames,
                           const std::function<void(const FrameReport&)>& onFrame) {
    SequenceResult result;
    // The lens, once for the whole range.
    const dof::Result<dof::Image> picture = dof::ReadImage(options.lensFile);
    if (!picture) {
        const FrameOutcome failed = picture.error().code == dof::ErrorCode::kReadFailed
                                        ? FrameOutcome{kBadInput, {"lens load failed!! _ " + options.lensFile}}
                                        : FailureOutcome(picture.error());
        result.code = failed.code;
        result.lines = failed.lines;
        return result;
    }
    const dof::Result<dof::Lens> lens = dof::Lens::Make(picture.value());
    if (!lens) {
        result.code = kLensSize;
        result.lines = {"lens size not 256x256!! _ " + std::to_string(picture.value().Width()) + "x" +
                        std::to_string(picture.value().Height())};
        return result;
    }

    std::vector<int> failed;
    for (const int frame : frames) {
        const auto start = std::chrono::steady_clock::now();
        FrameReport report;
        report.frame = frame;
        const FramePaths paths{FramePath(options.imageFile, frame), FramePath(options.zbufferFile, frame),
                               options.lensFile, FramePath(options.outputFile, frame)};
        report.output = paths.output;
        if (options.skipExisting && Exists(paths.output)) {
            report.status = FrameReport::Status::kSkipped;
        } else {
            const FrameOutcome outcome = RunFrame(options, paths, &lens.value(), nullptr);
            report.code = outcome.code;
            report.message = Joined(outcome.lines);
            report.status = outcome.code == kSuccess ? FrameReport::Status::kWritten : FrameReport::Status::kFailed;
        }
        report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (report.status == FrameReport::Status::kFailed) {
            failed.push_back(frame);
            result.code = std::max(result.code, report.code);
        }
        if (onFrame) onFrame(report);
        result.frames.push_back(std::move(report));
    }
    if (!failed.empty()) result.lines = {"failed frames!! _ " + FrameRuns(failed)};
    return result;
}

std::string FrameLine(const FrameReport& report) {
    const std::string frame = "frame " + std::to_string(report.frame) + ": ";
    switch (report.status) {
        case FrameReport::Status::kWritten: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f sec", report.seconds);
            return frame + seconds + " out > " + report.output;
        }
        case FrameReport::Status::kSkipped: return frame + "skipped, " + report.output + " is there";
        case FrameReport::Status::kFailed: break;
    }
    return frame + report.message;
}
