#pragma once
#include <cstdint>

#include <dof/Blur.h>

#include "app/Clock.h"

// The program's lines of a blur's progress: "Init... size = %f" once set-up
// is done, and while the picture is gathered a "state... %3.0f%%" line at a
// report that comes more than a second after the last line (or after the
// gather began), and always one at its end.
class ProgressLines {
public:
    explicit ProgressLines(std::uint32_t (*clock)() = MilliClock) : clock_(clock) {}
    void operator()(const dof::Progress& progress);

private:
    std::uint32_t (*clock_)();
    bool gathering_ = false;
    std::uint32_t lastLine_ = 0;
};
