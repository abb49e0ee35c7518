#pragma once

// Makes SIGINT, SIGTERM and SIGHUP print "interrupted!! _ " and the signal's
// name and end the process by that signal. Output files are written with
// these signals held back, so none is left half-written.
void InstallSignalHandlers();
