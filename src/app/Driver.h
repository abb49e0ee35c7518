#pragma once

// One run of the filter from the command line to the written file. Prints
// every message and returns the process's exit code:
// 0 success, 1 usage / bad parameter / load failure, 2 depth size,
// 3 lens size, 4 output not written.
int RunProgram(int argc, const char* const* argv);
