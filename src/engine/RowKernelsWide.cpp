// Built with AVX2 enabled where the compiler targets x86-64; only called
// where the processor has it.
#include "platform/Lanes.h"
#include "engine/RowKernels.h"

#if defined(__AVX2__)
void SpreadRowWide(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesAvx2>(rows, count); }
void SpreadSumsRowWide(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesAvx2>(rows, count); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesAvx2>(job); }
int RowSpreadsWide(const double* sums, const double* errors, const double* counts, int width, double* spreads,
                   int* open, int& openCount) {
    return RowSpreadsInLanes<LanesAvx2>(sums, errors, counts, width, spreads, open, openCount);
}
#else
void SpreadRowWide(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesSse2>(rows, count); }
void SpreadSumsRowWide(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesSse2>(rows, count); }
void GatherRowWide(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
int RowSpreadsWide(const double*, const double*, const double*, int, double*, int*, int&) { return 0; }
#endif
