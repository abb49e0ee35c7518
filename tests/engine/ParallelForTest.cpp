// Items handed to worker threads: each exactly once, a failure in one item's
// work comes back to the caller, and a poll that says stop stops the rest.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "platform/ParallelFor.h"

TEST(ParallelFor, EveryItemRunsExactlyOnceWhateverTheThreadCount) {
    for (const int threads : {1, 2, 3, 8}) {
        for (const int rows : {0, 1, 5, 200}) {
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(rows));
            ParallelFor(rows, threads, [&](int row) { runs[static_cast<std::size_t>(row)]++; });
            for (const std::atomic<int>& count : runs) EXPECT_EQ(count.load(), 1) << threads << " threads";
        }
    }
}

TEST(ParallelFor, AFailingItemStopsTheOthersAndIsRethrownToTheCaller) {
    for (const int threads : {1, 2, 4}) {
        std::atomic<int> started{0};
        EXPECT_THROW(ParallelFor(10000, threads,
                                 [&](int row) {
                                     started++;
                                     if (row == 3) throw std::bad_alloc();
                                     // Long enough that the failure is seen before the end.
                                     std::this_thread::sleep_for(std::chrono::microseconds(100));
                                 }),
                     std::bad_alloc);
        // The rows handed out after the failure was seen were never started.
        EXPECT_LT(started.load(), 10000) << threads << " threads";
    }
}

TEST(ParallelFor, APollThatSaysStopEndsTheLoopEarly) {
    for (const int threads : {1, 2, 4}) {
        std::atomic<int> started{0};
        int polls = 0;
        const bool finished = ParallelFor(
            1000, threads,
            [&](int) {
                started++;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            [&](int done) {
                EXPECT_LE(done, started.load());
                return ++polls < 5;
            });
        EXPECT_FALSE(finished) << threads << " threads";
        EXPECT_LT(started.load(), 1000) << threads << " threads";
    }
}
