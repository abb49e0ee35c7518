#pragma once
// The one way work is spread over threads: a loop over items (rows, mostly)
// handed out one at a time in increasing order.
#include <functional>

// Runs work(item) for item = 0 .. count - 1 on up to threads worker threads.
// Meanwhile the calling thread calls poll(done) about every millisecond,
// done counting the finished items; poll returning false stops the handing
// out, and ParallelFor returns false once the items under way are finished.
// With threads <= 1 (or when the system starts no thread) the calling thread
// does the items itself, in order, calling poll before each. An exception of
// any item's work stops the others and is rethrown here. True when every
// item was done.
bool ParallelFor(int count, int threads, const std::function<void(int)>& work,
                 const std::function<bool(int done)>& poll);

// The same without a poll: always runs to the end.
inline void ParallelFor(int count, int threads, const std::function<void(int)>& work) {
    ParallelFor(count, threads, work, [](int) { return true; });
}

// Number of processors, at least 1.
int ProcessorCount();
