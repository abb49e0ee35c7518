#pragma once
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// Failures of worker threads, carried back to the thread that started them:
// the first exception a worker meets is kept and rethrown after the join.
class WorkerFailure {
public:
    template <class Body>
    void Guard(Body body) noexcept {
        try {
            body();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!first_) first_ = std::current_exception();
            failed_.store(true);
        }
    }
    bool Failed() const { return failed_.load(); }
    void RethrowIfFailed() {
        if (first_) std::rethrow_exception(first_);
    }

private:
    std::mutex mutex_;
    std::exception_ptr first_;
    std::atomic<bool> failed_{false};
};

// Starts up to count threads running body. When the system refuses a thread
// the ones already started carry the work (rows are handed out as they come),
// so fewer threads are returned; none at all when the first is refused.
template <class Body>
std::vector<std::thread> StartThreads(int count, const Body& body) {
    std::vector<std::thread> threads;
    try {
        threads.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) threads.emplace_back(body);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    return threads;
}

// Runs work(row) for rows 0 .. rows - 1 on threadCount threads; rows are
// handed out one at a time in increasing order. Returns when all are done;
// an exception of any row's work stops the others and is rethrown here.
template <class Work>
void ForEachRowParallel(int rows, int threadCount, Work work) {
    std::atomic<int> next{0};
    WorkerFailure failure;
    auto worker = [&] {
        failure.Guard([&] {
            for (int row = next.fetch_add(1); row < rows && !failure.Failed(); row = next.fetch_add(1)) work(row);
        });
    };
    std::vector<std::thread> threads;
    if (threadCount > 1 && rows > 1) threads = StartThreads(threadCount, worker);
    if (threads.empty()) worker();
    for (std::thread& thread : threads) thread.join();
    failure.RethrowIfFailed();
}
