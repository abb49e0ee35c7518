#include "app/ProgressLines.h"

#include <cstdio>

void ProgressLines::operator()(const dof::Progress& progress) {
    if (progress.stage == dof::Stage::kSetUp) {
        std::printf("Init... size = %f\n", progress.largestBlur);
        std::fflush(stdout);
        return;
    }
    if (progress.stage != dof::Stage::kGather) return;
    if (!gathering_) {
        // The gather's first report: the second starts now.
        gathering_ = true;
        lastLine_ = clock_();
        return;
    }
    if (progress.stageFraction == 1.0) {
        std::printf("state... %3.0f%%\n", 100.0);
        std::fflush(stdout);
        return;
    }
    const std::uint32_t now = clock_();
    if (ElapsedMs(lastLine_, now) > 1000) {
        std::printf("state... %3.0f%%\n", progress.stageFraction * 100.0);
        std::fflush(stdout);
        lastLine_ = now;
    }
}
