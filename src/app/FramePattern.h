#pragma once
// Frames of a shot: the numbers a range names and the file of each frame.
#include <string>
#include <vector>

// The frames of a range: "1-100", "1-100x2" (every second), "1,5,9-12", or
// any list of those; numbers from 0 up, each frame once, in the order given.
// False for anything else.
bool ParseFrames(const std::string& text, std::vector<int>& frames);

// Whether a path names a frame: it holds a run of '#' (a digit each, "####"
// pads to 4) or a printf-style "%d" or "%0Nd".
bool HasFramePattern(const std::string& path);

// The path of a frame: every pattern replaced by the number, padded with
// zeros to the pattern's width. A path without one is the same for every frame.
std::string FramePath(const std::string& path, int frame);

// "3, 7-9, 12": frames (in increasing order) as runs, for a line.
std::string FrameRuns(std::vector<int> frames);
