#include "platform/Lanes.h"

int WidestLanes() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
#endif
    return 2;
}

int LanesFor(int maxLanes) {
    const int widest = WidestLanes() == 8 ? 16 : WidestLanes();
    return (maxLanes > 0 && maxLanes < widest) ? maxLanes : widest;
}
