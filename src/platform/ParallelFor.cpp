#include "platform/ParallelFor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The first exception a worker meets, kept to be rethrown after the join.
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
// the ones already started carry the work, so fewer are returned; none at
// all when the first is refused.
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

}  // namespace

int ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

bool ParallelFor(int count, int threads, const std::function<void(int)>& work,
                 const std::function<bool(int done)>& poll) {
    if (count <= 0) return true;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    WorkerFailure failure;
    std::mutex doneMutex;
    std::condition_variable allDone;
    auto worker = [&] {
        failure.Guard([&] {
            while (!stop.load() && !failure.Failed()) {
                const int item = next.fetch_add(1);
                if (item >= count) break;
                work(item);
                if (done.fetch_add(1) + 1 == count) {
                    std::lock_guard<std::mutex> lock(doneMutex);
                    allDone.notify_all();
                }
            }
        });
        // A failed item is never done: wake the caller to stop it.
        if (failure.Failed()) {
            std::lock_guard<std::mutex> lock(doneMutex);
            allDone.notify_all();
        }
    };

    std::vector<std::thread> workers;
    if (threads > 1 && count > 1) workers = StartThreads(threads, worker);
    if (workers.empty()) {
        for (int item = 0; item < count; ++item) {
            if (!poll(item)) return false;
            work(item);
        }
        return true;
    }

    for (;;) {
        const int finished = done.load();
        if (finished >= count || failure.Failed()) break;
        if (!poll(finished)) {
            stop.store(true);
            break;
        }
        std::unique_lock<std::mutex> lock(doneMutex);
        allDone.wait_for(lock, std::chrono::milliseconds(1),
                         [&] { return done.load() >= count || failure.Failed(); });
    }
    for (std::thread& thread : workers) thread.join();
    failure.RethrowIfFailed();
    return !stop.load();
}
