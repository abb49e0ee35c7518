#pragma once
#include <atomic>
#include <thread>
#include <vector>

// Runs work(row) for rows 0 .. rows - 1 on threadCount threads; rows are
// handed out one at a time in increasing order. Returns when all are done.
template <class Work>
void ForEachRowParallel(int rows, int threadCount, Work work) {
    std::atomic<int> next{0};
    auto worker = [&] {
        for (int row = next.fetch_add(1); row < rows; row = next.fetch_add(1)) work(row);
    };
    if (threadCount <= 1 || rows <= 1) {
        worker();
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(threadCount));
    for (int i = 0; i < threadCount; ++i) threads.emplace_back(worker);
    for (std::thread& thread : threads) thread.join();
}
