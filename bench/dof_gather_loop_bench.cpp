// The gather's arithmetic on its own, on every core at once: how many
// 512-bit additions and multiplications the processor does a second, and
// what the gather's block loop costs with nothing around it (two target rows
// of a grey lens and an opaque picture, every neighbour taken whole, its
// kernel rows in the L1 cache), then over the engine's own records laid out
// as it lists them, with their kernel rows over more memory. The engine's
// own figures (contributions a second in `dof_bench`) are set against these
// in the README.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/RowJobs.h"

#if defined(__AVX512F__)
#include <immintrin.h>

namespace {

// Keeps a register's value alive without a memory access.
#define DOF_KEEP(x) __asm__ volatile("" : "+v"(x))

// Twelve independent chains, additions and multiplications alternating by
// chain (named registers: an array would live in memory); returns operations.
__attribute__((noinline)) double ArithmeticChains(long steps) {
    volatile double seed = 1.0, tiny = 1e-300, factor = 1.0000000000001;
    const __m512d add = _mm512_set1_pd(tiny), mul = _mm512_set1_pd(factor);
    __m512d a0 = _mm512_set1_pd(seed), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0;
    __m512d a6 = a0, a7 = a0, a8 = a0, a9 = a0, a10 = a0, a11 = a0;
    for (long i = 0; i < steps; ++i) {
        a0 = _mm512_add_pd(a0, add), a1 = _mm512_mul_pd(a1, mul), a2 = _mm512_add_pd(a2, add);
        a3 = _mm512_mul_pd(a3, mul), a4 = _mm512_add_pd(a4, add), a5 = _mm512_mul_pd(a5, mul);
        a6 = _mm512_add_pd(a6, add), a7 = _mm512_mul_pd(a7, mul), a8 = _mm512_add_pd(a8, add);
        a9 = _mm512_mul_pd(a9, mul), a10 = _mm512_add_pd(a10, add), a11 = _mm512_mul_pd(a11, mul);
        DOF_KEEP(a0); DOF_KEEP(a1); DOF_KEEP(a2); DOF_KEEP(a3); DOF_KEEP(a4); DOF_KEEP(a5);
        DOF_KEEP(a6); DOF_KEEP(a7); DOF_KEEP(a8); DOF_KEEP(a9); DOF_KEEP(a10); DOF_KEEP(a11);
    }
    return 12.0 * static_cast<double>(steps);
}

// A neighbour as the block loop reads it: its kernel row for the block's
// first target row (the second row's lies kRowStep further) and its exposures.
constexpr int kRowStep = 64;
struct Neighbour {
    const double* kernel;
    double exposure[3];
};

// The sums of a block of 8 targets in each of two rows, in registers: a
// neighbour adds its kernel values, and their products with its three
// exposures (as the engine's whole-block path).
struct TwoRowSums {
    __m512d r0, g0, b0, w0, r1, g1, b1, w1;

    __attribute__((always_inline)) explicit TwoRowSums(const double* sums)
        : r0(_mm512_loadu_pd(sums)), g0(_mm512_loadu_pd(sums + 8)), b0(_mm512_loadu_pd(sums + 16)),
          w0(_mm512_loadu_pd(sums + 24)), r1(_mm512_loadu_pd(sums + 32)), g1(_mm512_loadu_pd(sums + 40)),
          b1(_mm512_loadu_pd(sums + 48)), w1(_mm512_loadu_pd(sums + 56)) {}
    __attribute__((always_inline)) void Add(const double* row0, const double* row1, const double* exposure) {
        const __m512d k0 = _mm512_loadu_pd(row0), k1 = _mm512_loadu_pd(row1);
        const __m512d er = _mm512_set1_pd(exposure[0]), eg = _mm512_set1_pd(exposure[1]);
        const __m512d eb = _mm512_set1_pd(exposure[2]);
        r0 = _mm512_add_pd(r0, _mm512_mul_pd(k0, er)), g0 = _mm512_add_pd(g0, _mm512_mul_pd(k0, eg));
        b0 = _mm512_add_pd(b0, _mm512_mul_pd(k0, eb)), w0 = _mm512_add_pd(w0, k0);
        r1 = _mm512_add_pd(r1, _mm512_mul_pd(k1, er)), g1 = _mm512_add_pd(g1, _mm512_mul_pd(k1, eg));
        b1 = _mm512_add_pd(b1, _mm512_mul_pd(k1, eb)), w1 = _mm512_add_pd(w1, k1);
    }
    __attribute__((always_inline)) void Store(double* sums) const {
        _mm512_storeu_pd(sums, r0), _mm512_storeu_pd(sums + 8, g0), _mm512_storeu_pd(sums + 16, b0);
        _mm512_storeu_pd(sums + 24, w0), _mm512_storeu_pd(sums + 32, r1), _mm512_storeu_pd(sums + 40, g1);
        _mm512_storeu_pd(sums + 48, b1), _mm512_storeu_pd(sums + 56, w1);
    }
};

// One block of two rows, every neighbour taken.
__attribute__((noinline)) void AddToBlock(const Neighbour* n, int count, double* sums) {
    TwoRowSums block(sums);
    for (int k = 0; k < count; ++k) block.Add(n[k].kernel, n[k].kernel + kRowStep, n[k].exposure);
    block.Store(sums);
}

// Blocks of perBlock neighbours each, over kernels that stay in the L1
// cache; returns the neighbour visits.
double BlockLoop(long visits, int perBlock) {
    std::vector<double> kernels(32 * 2 * kRowStep + 16, 1e-3);
    std::vector<Neighbour> neighbours(static_cast<std::size_t>(perBlock));
    for (int k = 0; k < perBlock; ++k)
        neighbours[static_cast<std::size_t>(k)] = {&kernels[static_cast<std::size_t>((k % 32) * 2 * kRowStep + k % 8)],
                                                   {0.5, 0.25, 0.125}};
    alignas(64) double sums[64] = {};
    const long blocks = visits / perBlock;
    for (long b = 0; b < blocks; ++b) AddToBlock(neighbours.data(), perBlock, sums);
    if (sums[0] < 0.0) std::printf("(%g)\n", sums[0]);
    return static_cast<double>(blocks * perBlock);
}

// The sweep's block loop over sources laid out as the engine lists them: a
// source row of 480 blocks, 0 to 9 sources starting at each (4.5 on average)
// and each reaching 6 blocks, 27 a block; a third of them changing kernel
// from their left neighbour, among kernel rows over kernelBytes; each visit
// tests the depth, asks for the kernel lines two blocks ahead and adds two
// rows. Returns the visits.
double SweepLoop(long sweeps, std::size_t kernelBytes) {
    constexpr int kBlocks = 480, kSpan = 6, kRowDoubles = 256;
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    std::vector<double> kernels(kernelBytes / sizeof(double) + 3 * kRowDoubles, 1e-3);
    const std::size_t rows = kernelBytes / sizeof(double) / kRowDoubles;
    std::vector<GatherSource> records;
    std::size_t kernel = 0;
    for (int block = 0; block < kBlocks; ++block)
        for (int k = static_cast<int>(next() % 10); k > 0; --k) {
            if (next() % 3 == 0) kernel = next() % rows;
            GatherSource r = {};
            r.u = block * 8 + static_cast<int>(next() % 8);
            r.firstBlock = block;
            r.lastBlock = block + kSpan - 1;
            r.stride = kRowDoubles;
            r.kernelAtZero = reinterpret_cast<std::uintptr_t>(&kernels[(kernel + 2) * kRowDoubles - 24]) -
                             static_cast<std::uintptr_t>(r.u) * sizeof(double);
            r.exposure[0] = 0.5, r.exposure[1] = 0.25, r.exposure[2] = 0.125, r.depth = 1.0;
            records.push_back(r);
        }
    alignas(64) double sums[64] = {};
    long visits = 0;
    for (long sweep = 0; sweep < sweeps; ++sweep) {
        const GatherSource* first = records.data();
        const GatherSource* open = records.data();
        const GatherSource* const end = records.data() + records.size();
        for (int block = 0; block < kBlocks; ++block) {
            while (open != end && open->firstBlock <= block) ++open;
            while (first != open && first->lastBlock < block) ++first;
            TwoRowSums sumsOfBlock(sums);
            const std::uintptr_t x = static_cast<std::uintptr_t>(block) * 8 * sizeof(double);
            for (const GatherSource* s = first; s != open; ++s) {
                if (s->lastBlock < block) continue;
                const std::uintptr_t k = s->kernelAtZero + x, rowBytes = s->stride * sizeof(double);
                __builtin_prefetch(reinterpret_cast<const void*>(k + 128));
                __builtin_prefetch(reinterpret_cast<const void*>(k + 128 - rowBytes));
                if (!(s->depth <= 2.0)) continue;
                ++visits;
                sumsOfBlock.Add(reinterpret_cast<const double*>(k), reinterpret_cast<const double*>(k - rowBytes),
                                s->exposure);
            }
            sumsOfBlock.Store(sums);
            // Kept: every sum is stored and loaded again, as the engine's are.
            __asm__ volatile("" : : "r"(sums) : "memory");
        }
    }
    return static_cast<double>(visits);
}

// Runs work on every processor at once; returns the total of its counts a second.
template <class Work>
double OnEveryCore(int threads, Work work) {
    std::vector<double> counts(static_cast<std::size_t>(threads));
    std::vector<std::thread> running;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < threads; ++t) running.emplace_back([&, t] { counts[static_cast<std::size_t>(t)] = work(); });
    for (std::thread& t : running) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double total = 0.0;
    for (const double c : counts) total += c;
    return total / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
    if (threads < 1) threads = 1;
    if (!__builtin_cpu_supports("avx512f")) {
        std::printf("this processor has no AVX-512\n");
        return 0;
    }
    std::printf("%d threads at once\n", threads);
    const double operations = OnEveryCore(threads, [] { return ArithmeticChains(200000000L); });
    std::printf("512-bit additions and multiplications: %.2f billion a second (%.2f a core)\n", operations / 1e9,
                operations / 1e9 / threads);
    // 8 targets in each of 2 rows a visit; 3 multiplications and 4 additions a row.
    std::printf("the gather's arithmetic alone (7 operations per row of 8 targets): %.2f billion contributions a second"
                " at full lanes\n", operations / 7.0 * 8.0 / 1e9);
    std::printf("| neighbours a block | ns a visit (2 rows of 8 targets), one core | billion contributions a second, all cores |\n"
                "|---:|---:|---:|\n");
    for (const int perBlock : {4, 12, 27, 64}) {
        const double visits = OnEveryCore(threads, [perBlock] { return BlockLoop(200000000L, perBlock); });
        std::printf("| %d | %.3f | %.2f |\n", perBlock, 1e9 * threads / visits, visits * 16.0 / 1e9);
    }
    // Cycles from the arithmetic's rate: two 512-bit operations a cycle.
    const double hertz = operations / threads / 2.0;
    std::printf("\nthe block loop over sources as the engine lists them (27 a block on average), %.2f GHz:\n"
                "| kernel rows over | ns a visit, one core | cycles a visit |\n"
                "|---:|---:|---:|\n", hertz / 1e9);
    const std::size_t kib = 1024;
    for (const std::size_t kernelBytes : {16 * kib, 1024 * kib, 8192 * kib}) {
        const double visits = OnEveryCore(threads, [=] { return SweepLoop(1000, kernelBytes); });
        const double ns = 1e9 * threads / visits;
        std::printf("| %zu KiB | %.3f | %.1f |\n", kernelBytes / kib, ns, ns * hertz / 1e9);
    }
    return 0;
}
#else
int main() {
    std::printf("built without AVX-512\n");
    return 0;
}
#endif
