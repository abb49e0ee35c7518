// What touching memory for the first time costs a process here, in the
// system's 4 KiB pages and in 2 MiB pages asked for with madvise: the first
// touch of fresh memory, and the same size again right after freeing it. A
// run pays the first for its peak memory (see *Fresh memory* in docs/performance.md).
// Then what the program measures to choose its pages: a first write to a
// fresh small page, and whether big blocks ask for huge pages for it.
// Linux only; prints figures, passes or fails nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/LargeArray.h"

#if defined(__linux__)
#include <sys/mman.h>

namespace {

// Milliseconds to write one byte in every 4 KiB of a new mapping of bytes.
double TouchMs(std::size_t bytes, bool huge) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return -1.0;
#ifdef MADV_HUGEPAGE
    if (huge) madvise(block, bytes, MADV_HUGEPAGE);
#endif
    volatile unsigned char* bytesAt = static_cast<unsigned char*>(block);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < bytes; i += 4096) bytesAt[i] = 1;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    munmap(block, bytes);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 256;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--mib") == 0) mib = static_cast<std::size_t>(std::atol(argv[i + 1]));
    const std::size_t bytes = mib << 20;
    std::printf("| pages | first touch of %zu MiB, ms | GB/s | again after freeing, ms | GB/s |\n|---|---:|---:|---:|---:|\n",
                mib);
    for (const bool huge : {false, true}) {
        const double first = TouchMs(bytes, huge);
        const double again = TouchMs(bytes, huge);
        std::printf("| %s | %.1f | %.2f | %.1f | %.2f |\n", huge ? "2 MiB (madvise)" : "4 KiB", first,
                    static_cast<double>(bytes) / first / 1e6, again, static_cast<double>(bytes) / again / 1e6);
    }
    std::printf("\na fresh small page takes %.2f us to map first (median of 31); big blocks ask for huge pages: %s\n",
                FreshSmallPageMicroseconds(), BigBlocksAskForHugePages() ? "yes" : "no");
    return 0;
}
#else
int main() {
    std::printf("Linux only\n");
    return 0;
}
#endif
