// Rows handed to worker threads: each exactly once, and a failure in one
// row's work comes back to the caller instead of ending the process.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

#include "engine/RowPool.h"

TEST(RowPool, EveryRowRunsExactlyOnceWhateverTheThreadCount) {
    for (const int threads : {1, 2, 3, 8}) {
        for (const int rows : {0, 1, 5, 200}) {
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(rows));
            ForEachRowParallel(rows, threads, [&](int row) { runs[static_cast<std::size_t>(row)]++; });
            for (const std::atomic<int>& count : runs) EXPECT_EQ(count.load(), 1) << threads << " threads";
        }
    }
}

TEST(RowPool, AFailingRowStopsTheOthersAndIsRethrownToTheCaller) {
    for (const int threads : {1, 2, 4}) {
        std::atomic<int> started{0};
        EXPECT_THROW(ForEachRowParallel(10000, threads,
                                        [&](int row) {
                                            started++;
                                            if (row == 3) throw std::bad_alloc();
                                        }),
                     std::bad_alloc);
        // The rows handed out after the failure was seen were never started.
        EXPECT_LT(started.load(), 10000) << threads << " threads";
    }
}
