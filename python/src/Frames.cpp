// Frames of a shot from Python, as the program runs them: the same options,
// the same sequence runner (app/Sequence.h), a report per frame. Dask tasks
// call it, one task a frame or a chunk of frames.
#include "Frames.h"

#include <string>
#include <vector>

#include "PythonErrors.h"
#include "app/CmdLineOption.h"
#include "app/FramePattern.h"
#include "app/Parameters.h"
#include "app/Sequence.h"

namespace py = pybind11;

namespace {

const char* StatusName(FrameReport::Status status) {
    switch (status) {
        case FrameReport::Status::kWritten: return "written";
        case FrameReport::Status::kSkipped: return "skipped";
        case FrameReport::Status::kFailed: break;
    }
    return "failed";
}

// The options of a command line without the program's name; a refused one
// raises ValueError with the program's line.
CCmdLineOption Options(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"dof"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    CCmdLineOption options;
    options.ParseArguments(static_cast<int>(argv.size()), argv.data());
    const std::string refused = BadParameterLine(options);
    if (!refused.empty()) RaiseValueError(refused);
    return options;
}

}  // namespace

std::vector<int> ParseFrameRange(const std::string& text) {
    std::vector<int> frames;
    if (!ParseFrames(text, frames)) RaiseValueError("bad parameter!! _ --frames = " + text);
    return frames;
}

py::list RunFrames(const std::vector<std::string>& args, py::object frames) {
    CCmdLineOption options = Options(args);
    std::vector<int> chosen;
    if (frames.is_none()) {
        options.sequence = true;
        const std::string refused = CheckSequence(options, chosen);
        if (!refused.empty()) RaiseValueError(refused);
    } else {
        chosen = frames.cast<std::vector<int>>();
        if (!HasFramePattern(options.outputFile))
            RaiseValueError("bad parameter!! _ -o = " + options.outputFile +
                            ": a sequence needs a frame pattern (#### or %04d)");
    }
    SequenceResult result;
    {
        py::gil_scoped_release unlocked;
        result = RunSequence(options, chosen, nullptr);
    }
    // The lens failed: no frame was tried.
    if (result.frames.empty() && !result.lines.empty()) RaiseOSError(result.lines.front());
    py::list reports;
    for (const FrameReport& report : result.frames) {
        py::dict entry;
        entry["frame"] = report.frame;
        entry["status"] = StatusName(report.status);
        entry["code"] = report.code;
        entry["message"] = report.message;
        entry["output"] = report.output;
        entry["seconds"] = report.seconds;
        entry["line"] = FrameLine(report);
        reports.append(entry);
    }
    return reports;
}
