#pragma once
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

// The frames of a range ("1-100x2", "1,5,9-12"); ValueError for a bad one.
std::vector<int> ParseFrameRange(const std::string& text);

// Runs frames of a shot as the program does with args (its switches, frame
// patterns in the paths): frames, or --frames of args when it is None. A
// list of reports, one a frame in order: frame, status ("written",
// "skipped", "failed"), code (the program's exit code for the frame),
// message (its failure), output, seconds, line (the program's line for it).
// ValueError for refused switches, OSError when the lens does not load.
pybind11::list RunFrames(const std::vector<std::string>& args, pybind11::object frames);
