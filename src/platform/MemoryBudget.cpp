#include "platform/MemoryBudget.h"

#include <unistd.h>

#include <algorithm>

double MemoryBudget() {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 2.0 * kGiB;
    const double physical = static_cast<double>(pages) * static_cast<double>(pageSize);
    return std::min(physical * 0.75, 64.0 * kGiB);
}
