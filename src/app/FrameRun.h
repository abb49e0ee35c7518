#pragma once
// One picture from files to file, as the program makes it: the inputs read
// (the depth beside the colour, or both from one file), the blur of the mode
// the options choose, the output written. What it would print afterwards is
// returned with the exit code, so that a single run prints it as it is and a
// sequence makes one line of it per frame.
#include <functional>
#include <string>
#include <vector>

#include <dof/dof.h>

#include "app/CmdLineOption.h"

struct FramePaths {
    std::string colour;
    std::string depth;
    std::string lens;
    std::string output;
};

struct FrameOutcome {
    int code = 0;                    // the exit code a single run ends with
    std::vector<std::string> lines;  // printed after the progress lines, when code is not 0
};

// The worker threads of a run: one per processor, one fewer above four,
// unless --threads says otherwise.
int ThreadsOf(const CCmdLineOption& options);

// The line and exit code of a failure of the library that no step reports
// otherwise (memory, the system, a fault).
FrameOutcome FailureOutcome(const dof::Error& error, const std::string& prefix = "");

// Reads, blurs and writes one picture. lens, when given, is used instead of
// reading paths.lens.
FrameOutcome RunFrame(const CCmdLineOption& options, const FramePaths& paths, const dof::Lens* lens,
                      const std::function<void(const dof::Progress&)>& progress);
