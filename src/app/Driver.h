#pragma once
#include <exception>

// One run of the filter from the command line to the written file, through
// the library's public API. Prints every message and returns the process's
// exit code: 0 success (and --help, --version), 1 usage / bad parameter /
// load failure, 2 depth size, 3 lens size, 4 output not written, 5 out of
// memory (a picture or blur beyond the memory limit, or an allocation that
// failed), 6 another failure of the system (a thread that could not be
// started, for example). SIGINT, SIGTERM and SIGHUP end the run by that
// signal, after one line.
int RunProgram(int argc, const char* const* argv);

// Prints the one line of an exception that ended a run ("out of memory!! _ ",
// "system error!! _ " or "fatal error!! _ " and its text) and returns the
// exit code for it.
int ReportException(std::exception_ptr failure);
