// StreamStepsBody for AVX2 (this file is compiled with -mavx2 on x86-64).
#include "physical/StepStreams.h"

void StreamStepsWide(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count) {
    StreamStepsBody(cells, steps, end, lights, count);
}
