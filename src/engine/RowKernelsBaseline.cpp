// The passes' row kernels for two lanes (SSE2, which every x86-64 processor
// has), and the one place that picks the lanes for a run.
#include "engine/RowKernels.h"
#include "platform/Lanes.h"

void SpreadRowBaseline(const SpreadRowJob* rows, int count) { SpreadSourceRows<LanesSse2>(rows, count); }
void SpreadSumsRowBaseline(const SpreadRowJob* rows, int count) { SpreadSumsSourceRows<LanesSse2>(rows, count); }
void GatherRowBaseline(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void SpreadRowWide(const SpreadRowJob* rows, int count);
void SpreadSumsRowWide(const SpreadRowJob* rows, int count);
void SpreadSumsRowWidest(const SpreadRowJob* rows, int count);
void SpreadSumsRowWidestPair(const SpreadRowJob* rows, int count);
void GatherRowWide(GatherRowJob& job);
void SpreadRowWidest(const SpreadRowJob* rows, int count);
void GatherRowWidest(GatherRowJob& job);
void SpreadRowWidestPair(const SpreadRowJob* rows, int count);
void GatherRowWidestPair(GatherRowJob& job);
void GatherGroupWidest(GatherRowJob* const* jobs, int groups);
int RowSpreadsWide(const double* sums, const double* errors, const double* counts, int width, double* spreads,
                   int* open, int& openCount);
int RowSpreadsWidest(const double* sums, const double* errors, const double* counts, int width, double* spreads,
                     int* open, int& openCount);

SpreadRowFunction ChooseSpreadRow(int maxLanes, bool runningSums) {
    const int lanes = LanesFor(maxLanes);
    if (runningSums)
        return lanes >= 16 ? SpreadSumsRowWidestPair
               : lanes >= 8 ? SpreadSumsRowWidest
               : lanes >= 4 ? SpreadSumsRowWide
                            : SpreadSumsRowBaseline;
    return lanes >= 16 ? SpreadRowWidestPair : lanes >= 8 ? SpreadRowWidest : lanes >= 4 ? SpreadRowWide : SpreadRowBaseline;
}

GatherRowFunction ChooseGatherRow(int maxLanes) {
    const int lanes = LanesFor(maxLanes);
    return lanes >= 16 ? GatherRowWidestPair : lanes >= 8 ? GatherRowWidest : lanes >= 4 ? GatherRowWide : GatherRowBaseline;
}

GatherGroupFunction ChooseGatherGroup(int maxLanes) { return LanesFor(maxLanes) >= 16 ? GatherGroupWidest : nullptr; }

RowSpreadsFunction ChooseRowSpreads(int maxLanes) {
    const int lanes = LanesFor(maxLanes);
    return lanes >= 8 ? RowSpreadsWidest : lanes >= 4 ? RowSpreadsWide : nullptr;
}
