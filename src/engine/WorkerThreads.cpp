#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <thread>

#include "engine/BlurEngine.h"
#include "engine/RowPool.h"

int CBlurEngine::ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

int CBlurEngine::ClaimRow() {
    // Rows are claimed in increasing order, so every row below the first
    // waiting one has been claimed already.
    const int rows = static_cast<int>(rowStates.size());
    while (firstWaiting_ < rows && rowStates[static_cast<std::size_t>(firstWaiting_)].load() != kRowWaiting)
        ++firstWaiting_;
    if (firstWaiting_ < rows) {
        rowStates[static_cast<std::size_t>(firstWaiting_)].store(kRowClaimed);
        return firstWaiting_++;
    }
    for (const std::atomic<int>& state : rowStates)
        if (state.load() != kRowDone) return kNoRowWaiting;
    return kAllRowsDone;
}

// Gathers every row on the worker threads while this thread reports
// progress: at most about once a second, and once more at the end.
void CBlurEngine::RunGatherPass() {
    const int rows = height_;
    if (resultAsBytes) {
        resultBytes.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 0);
        colourBytes_ = std::make_unique<ExposureBytes>(strong);
    } else
        result.Resize(width_, height_, FroatPixel{});
    rowStates = std::vector<std::atomic<int>>(static_cast<std::size_t>(rows));
    for (std::atomic<int>& state : rowStates) state.store(kRowWaiting);
    firstWaiting_ = 0;

    std::atomic<int> doneRows{0};
    std::mutex doneMutex;
    std::condition_variable allDone;
    WorkerFailure failure;
    auto markDone = [&] {
        std::lock_guard<std::mutex> lock(doneMutex);
        allDone.notify_all();
    };
    auto worker = [&] {
        failure.Guard([&] {
            for (;;) {
                int row;
                {
                    std::lock_guard<std::mutex> lock(rowMutex);
                    row = failure.Failed() ? kAllRowsDone : ClaimRow();
                }
                // No waiting row is left: the rows still claimed belong to others.
                if (row < 0) return;
                GatherRow(row);
                {
                    std::lock_guard<std::mutex> lock(rowMutex);
                    rowStates[static_cast<std::size_t>(row)].store(kRowDone);
                }
                if (doneRows.fetch_add(1) + 1 == rows) markDone();
            }
        });
        // A failed row is never done: wake the progress loop to stop it.
        if (failure.Failed()) markDone();
    };
    std::vector<std::thread> workers = StartThreads(threadCount, worker);
    // Without any worker thread this one gathers every row itself.
    if (workers.empty()) worker();

    std::uint32_t lastPrint = clock();
    int done = 0;
    for (;;) {
        done = doneRows.load();
        if (done >= rows || failure.Failed()) break;
        const std::uint32_t now = clock();
        if (ElapsedMs(lastPrint, now) > 1000) {
            std::printf("state... %3.0f%%\n", static_cast<double>(done) / rows * 100.0);
            std::fflush(stdout);
            lastPrint = now;
        }
        std::unique_lock<std::mutex> lock(doneMutex);
        allDone.wait_for(lock, std::chrono::milliseconds(1),
                         [&] { return doneRows.load() >= rows || failure.Failed(); });
    }
    if (failure.Failed()) {
        for (std::thread& thread : workers) thread.join();
        failure.RethrowIfFailed();
    }
    // A picture without rows is complete at once.
    const double percent = rows > 0 ? static_cast<double>(done) / rows * 100.0 : 100.0;
    std::printf("state... %3.0f%%\n", percent);
    std::fflush(stdout);
    for (std::thread& thread : workers) thread.join();
}
