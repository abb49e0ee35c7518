// Built with AVX2 enabled where the compiler targets x86-64; only called
// where the processor has it.
#include "platform/Lanes.h"
#include "engine/RowKernels.h"

#if defined(__AVX2__)
void SpreadRowWide(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesAvx2>(rows, count); }
void SpreadSumsRowWide(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesAvx2>(rows, count); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesAvx2>(job); }
#else
void SpreadRowWide(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesSse2>(rows, count); }
void SpreadSumsRowWide(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesSse2>(rows, count); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
#endif
