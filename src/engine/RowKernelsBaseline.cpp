// The passes' row kernels for two lanes (SSE2, which every x86-64 processor
// has), and the one place that picks the lanes for a run.
#include "engine/RowKernels.h"
#include "platform/Lanes.h"

void SpreadRowBaseline(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, false>(job); }
void SpreadSumsRowBaseline(SpreadRowJob& job) { SpreadSourceRow<LanesSse2, true>(job); }
void GatherRowBaseline(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void SpreadRowWide(SpreadRowJob& job);
void SpreadSumsRowWide(SpreadRowJob& job);
void SpreadSumsRowWidest(SpreadRowJob& job);
void SpreadSumsRowWidestPair(SpreadRowJob& job);
void GatherRowWide(GatherRowJob& job);
void SpreadRowWidest(SpreadRowJob& job);
void GatherRowWidest(GatherRowJob& job);
void SpreadRowWidestPair(SpreadRowJob& job);
void GatherRowWidestPair(GatherRowJob& job);
void GatherGroupWidest(GatherRowJob* const* jobs);

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
