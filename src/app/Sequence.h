#pragma once
// Whole shots: the frames of a range, each read, blurred and written as a
// single run would, with the lens read and prepared once for all of them.
#include <functional>
#include <string>
#include <vector>

#include "app/CmdLineOption.h"

struct FrameReport {
    enum class Status { kWritten, kSkipped, kFailed };
    int frame = 0;
    Status status = Status::kFailed;
    int code = 0;          // the exit code a single run of the frame would end with
    std::string message;   // what a single run would print after its progress, as one line
    std::string output;    // the frame's output file
    double seconds = 0.0;  // of the whole frame
};

struct SequenceResult {
    int code = 0;                     // 0 when every frame was written or skipped
    std::vector<std::string> lines;   // the lens's failure, or the failed frames
    std::vector<FrameReport> frames;  // in the order run
};

// What a sequence needs beyond a single run's parameters: frames that parse
// and an output name with a frame pattern. The line to print, or "".
std::string CheckSequence(const CCmdLineOption& options, std::vector<int>& frames);

// Runs the frames in order; onFrame (when given) sees each report as it is
// made. A lens that does not load ends the run before any frame.
SequenceResult RunSequence(const CCmdLineOption& options, const std::vector<int>& frames,
                           const std::function<void(const FrameReport&)>& onFrame);

// "frame 12: 0.532 sec out > shot.0012.exr" and the like.
std::string FrameLine(const FrameReport& report);
