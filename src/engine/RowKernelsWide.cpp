// Built with AVX2 enabled where the compiler targets x86-64; only called
// where the processor has it.
#include "platform/Lanes.h"
#include "engine/RowKernels.h"

#if defined(__AVX2__)
void SpreadRowWide(SpreadRowJob& job) { SpreadSourceRow<LanesAvx2, false>(job); }
void SpreadSumsRowWide(SpreadRowJob& job) { SpreadSourceRow<LanesAvx2, true>(job); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesAvx2>(job); }
#else
void SpreadRowWide(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, false>(job); }
void SpreadSumsRowWide(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, true>(job); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
#endif
