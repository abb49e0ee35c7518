// Built with AVX-512 enabled where the compiler targets x86-64; only called
// where the processor has it.
#include "platform/Lanes.h"
#include "engine/RowKernels.h"

#if defined(__AVX512F__)
void SpreadRowWidest(SpreadRowJob& job) { SpreadSourceRow<LanesAvx512, false>(job); }
void SpreadSumsRowWidest(SpreadRowJob& job) { SpreadSourceRow<LanesAvx512, true>(job); }
void GatherRowWidest(GatherRowJob& job) { GatherSourceRow<LanesAvx512>(job); }
void SpreadRowWidestPair(SpreadRowJob& job) { SpreadSourceRow<LanePair<LanesAvx512>, false>(job); }
void SpreadSumsRowWidestPair(SpreadRowJob& job) { SpreadSourceRow<LanePair<LanesAvx512>, true>(job); }
void GatherRowWidestPair(GatherRowJob& job) { GatherSourceRow<LanePair<LanesAvx512>>(job); }
void GatherGroupWidest(GatherRowJob* const* jobs) { GatherSourceRowGroup<LanesAvx512>(jobs); }
#else
void SpreadRowWidest(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, false>(job); }
void SpreadSumsRowWidest(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, true>(job); }
void GatherRowWidest(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void SpreadRowWidestPair(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, false>(job); }
void SpreadSumsRowWidestPair(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, true>(job); }
void GatherRowWidestPair(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void GatherGroupWidest(GatherRowJob* const* jobs) { GatherSourceRowGroup<LanesSse2>(jobs); }
#endif
