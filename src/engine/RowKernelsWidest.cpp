// Built with AVX-512 enabled where the compiler targets x86-64; only called
// where the processor has it.
#include "platform/Lanes.h"
#include "engine/RowKernels.h"

#if defined(__AVX512F__)
void SpreadRowWidest(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesAvx512>(rows, count); }
void SpreadSumsRowWidest(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesAvx512>(rows, count); }
void GatherRowWidest(GatherRowJob& job) { GatherSourceRow<LanesAvx512>(job); }
void SpreadRowWidestPair(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanePair<LanesAvx512>>(rows, count); }
void SpreadSumsRowWidestPair(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanePair<LanesAvx512>>(rows, count); }
void GatherRowWidestPair(GatherRowJob& job) { GatherSourceRow<LanePair<LanesAvx512>>(job); }
void GatherGroupWidest(GatherRowJob* const* jobs, int groups) { GatherSourceRowGroup<LanesAvx512>(jobs, groups); }
int RowSpreadsWidest(const double* sums, const double* errors, const double* counts, int width, double* spreads,
                     int* open, int& openCount) {
    return RowSpreadsInLanes<LanesAvx512>(sums, errors, counts, width, spreads, open, openCount);
}
#else
void SpreadRowWidest(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesSse2>(rows, count); }
void SpreadSumsRowWidest(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesSse2>(rows, count); }
void GatherRowWidest(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void SpreadRowWidestPair(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesSse2>(rows, count); }
void SpreadSumsRowWidestPair(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesSse2>(rows, count); }
void GatherRowWidestPair(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void GatherGroupWidest(GatherRowJob* const* jobs, int groups) { GatherSourceRowGroup<LanesSse2>(jobs, groups); }
int RowSpreadsWidest(const double*, const double*, const double*, int, double*, int*, int&) { return 0; }
#endif
