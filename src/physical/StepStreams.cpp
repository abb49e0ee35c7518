#include "physical/StepStreams.h"

#include "platform/Lanes.h"

void StreamStepsBaseline(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count) {
    StreamStepsBody(cells, steps, end, lights, count);
}

StepStream ChooseStepStream() {
#if defined(__x86_64__) || defined(__i386__)
    if (WidestLanes() >= 4) return StreamStepsWide;
#endif
    return StreamStepsBaseline;
}
