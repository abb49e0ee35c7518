#include "engine/Lanes.h"
#include "engine/RowKernels.h"

void SpreadRowBaseline(SpreadRowJob& job) { SpreadSourceRow<LanesSse2>(job); }
void GatherRowBaseline(GatherRowJob& job) { GatherSourceRow<LanesSse2>(job); }
void SpreadRowWide(SpreadRowJob& job);
void GatherRowWide(GatherRowJob& job);
void SpreadRowWidest(SpreadRowJob& job);
void GatherRowWidest(GatherRowJob& job);

int WidestLanes() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
#endif
    return 2;
}

namespace {
int LanesFor(int maxLanes) {
    const int widest = WidestLanes();
    return (maxLanes > 0 && maxLanes < widest) ? maxLanes : widest;
}
}  // namespace

SpreadRowFunction ChooseSpreadRow(int maxLanes) {
    const int lanes = LanesFor(maxLanes);
    return lanes >= 8 ? SpreadRowWidest : lanes >= 4 ? SpreadRowWide : SpreadRowBaseline;
}

GatherRowFunction ChooseGatherRow(int maxLanes) {
    const int lanes = LanesFor(maxLanes);
    return lanes >= 8 ? GatherRowWidest : lanes >= 4 ? GatherRowWide : GatherRowBaseline;
}
