#pragma once
// The scatter's innermost loop: one kernel step over a run of neighbouring
// sources, target[i] += dv * light[i] for four floats a source. Compiled
// twice from this one body, for the baseline instruction set and, chosen at
// run time where the processor has it, for AVX2 (8 floats an instruction);
// every float is rounded on its own either way, so the bytes are the same.
#include "physical/BokehKernel.h"

// cells: the run's first source column of one buffer row, four floats a
// column; lights: the run's sources, four floats each.
typedef void (*StepStream)(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count);

void StreamStepsBaseline(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count);
void StreamStepsWide(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count);

// The widest the processor runs.
StepStream ChooseStepStream();

inline void StreamStepsBody(float* cells, const RunStep* steps, const RunStep* end, const float* lights, int count) {
    const int floats = 4 * count;
    for (; steps != end; ++steps) {
        float* target = cells + 4 * steps->dx;
        const float dv = steps->dv;
        for (int j = 0; j < floats; ++j) target[j] += dv * lights[j];
    }
}
