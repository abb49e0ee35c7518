#include "engine/BlurEngine.h"

#include <chrono>
#include <cstdio>
#include <thread>

int CBlurEngine::ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

void CBlurEngine::RunFirstPass() {
    nextRow = 0;
    const int h = source.height;
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(threadCount));
    for (int i = 0; i < threadCount; ++i) {
        workers.emplace_back([this, h] {
            std::unique_lock<std::mutex> lock(rowMutex);
            while (nextRow < h) {
                const int y = nextRow;
                nextRow = y + 1;
                lock.unlock();
                FirstPassRow(y);
                lock.lock();
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
}

int CBlurEngine::ClaimRow() {
    bool anyNotDone = false;
    for (std::size_t i = 0; i < rowStates.size(); ++i) {
        const int state = rowStates[i].load(std::memory_order_relaxed);
        if (state == kRowWaiting) {
            rowStates[i].store(kRowClaimed, std::memory_order_relaxed);
            return static_cast<int>(i);
        }
        if (state != kRowDone) anyNotDone = true;
    }
    return anyNotDone ? kNoRowWaiting : kAllRowsDone;
}

void CBlurEngine::RunGatherPass() {
    const int h = source.height;
    rowStates = std::vector<std::atomic<int>>(static_cast<std::size_t>(h > 0 ? h : 0));
    for (std::atomic<int>& state : rowStates) state.store(kRowWaiting);

    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(threadCount));
    for (int i = 0; i < threadCount; ++i) {
        workers.emplace_back([this] {
            for (;;) {
                int row;
                {
                    std::lock_guard<std::mutex> lock(rowMutex);
                    row = ClaimRow();
                }
                if (row == kAllRowsDone) return;
                if (row == kNoRowWaiting) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                GatherRow(row);
                std::lock_guard<std::mutex> lock(rowMutex);
                rowStates[static_cast<std::size_t>(row)].store(kRowDone, std::memory_order_release);
            }
        });
    }

    std::uint32_t lastPrint = clock();
    std::size_t doneRows = 0;
    for (;;) {
        doneRows = 0;
        for (const std::atomic<int>& state : rowStates)
            if (state.load(std::memory_order_acquire) == kRowDone) ++doneRows;
        if (doneRows >= rowStates.size()) break;
        const std::uint32_t now = clock();
        if (ElapsedMs(lastPrint, now) > 1000) {
            std::printf("state... %3.0f%%\n", static_cast<double>(doneRows) / h * 100.0);
            std::fflush(stdout);
            lastPrint = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A picture without rows is complete at once.
    const double percent = h > 0 ? static_cast<double>(doneRows) / h * 100.0 : 100.0;
    std::printf("state... %3.0f%%\n", percent);
    std::fflush(stdout);
    for (std::thread& worker : workers) worker.join();
}
