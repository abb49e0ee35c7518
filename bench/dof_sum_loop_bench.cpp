// The first pass's inner loop on its own: a run of neighbours adds its J
// row, shifted one place per neighbour, to a block of targets' sums. Prints
// the time per window of 16 lanes for the loop the engine runs and for the
// shapes it could take, so that the engine's own figure (about 2.4 cycles a
// window, see docs/performance.md) can be set against what the loop alone costs.
// Some shapes read wrong values (aligned loads); they measure time only.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__AVX512F__)
#include <immintrin.h>

namespace {

typedef void (*SumLoop)(const double* j, int windows, double* sums);

// As the engine: 16 lanes in two registers, two unaligned loads a window.
__attribute__((noinline)) void Unaligned16(const double* j, int n, double* sums) {
    __m512d a = _mm512_loadu_pd(sums), b = _mm512_loadu_pd(sums + 8);
    for (int i = 0; i < n; ++i) {
        a = _mm512_add_pd(a, _mm512_loadu_pd(j - i));
        b = _mm512_add_pd(b, _mm512_loadu_pd(j - i + 8));
    }
    _mm512_storeu_pd(sums, a), _mm512_storeu_pd(sums + 8, b);
}

const double* Aligned(const double* p) {
    return reinterpret_cast<const double*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{63});
}

// The same with each load moved down to a cache line's start (wrong sums).
__attribute__((noinline)) void Aligned16(const double* j, int n, double* sums) {
    __m512d a = _mm512_loadu_pd(sums), b = _mm512_loadu_pd(sums + 8);
    for (int i = 0; i < n; ++i) {
        const double* p = Aligned(j - i);
        a = _mm512_add_pd(a, _mm512_load_pd(p));
        b = _mm512_add_pd(b, _mm512_load_pd(p + 8));
    }
    _mm512_storeu_pd(sums, a), _mm512_storeu_pd(sums + 8, b);
}

// 32 lanes in four registers: four sums in flight.
__attribute__((noinline)) void Unaligned32(const double* j, int n, double* sums) {
    __m512d a = _mm512_loadu_pd(sums), b = _mm512_loadu_pd(sums + 8);
    __m512d c = _mm512_loadu_pd(sums + 16), d = _mm512_loadu_pd(sums + 24);
    for (int i = 0; i < n; ++i) {
        a = _mm512_add_pd(a, _mm512_loadu_pd(j - i)), b = _mm512_add_pd(b, _mm512_loadu_pd(j - i + 8));
        c = _mm512_add_pd(c, _mm512_loadu_pd(j - i + 16)), d = _mm512_add_pd(d, _mm512_loadu_pd(j - i + 24));
    }
    _mm512_storeu_pd(sums, a), _mm512_storeu_pd(sums + 8, b);
    _mm512_storeu_pd(sums + 16, c), _mm512_storeu_pd(sums + 24, d);
}

// 32 lanes, loads at line starts (wrong sums).
__attribute__((noinline)) void Aligned32(const double* j, int n, double* sums) {
    __m512d a = _mm512_loadu_pd(sums), b = _mm512_loadu_pd(sums + 8);
    __m512d c = _mm512_loadu_pd(sums + 16), d = _mm512_loadu_pd(sums + 24);
    for (int i = 0; i < n; ++i) {
        const double* p = Aligned(j - i);
        a = _mm512_add_pd(a, _mm512_load_pd(p)), b = _mm512_add_pd(b, _mm512_load_pd(p + 8));
        c = _mm512_add_pd(c, _mm512_load_pd(p + 16)), d = _mm512_add_pd(d, _mm512_load_pd(p + 24));
    }
    _mm512_storeu_pd(sums, a), _mm512_storeu_pd(sums + 8, b);
    _mm512_storeu_pd(sums + 16, c), _mm512_storeu_pd(sums + 24, d);
}

template <int K>
__m512d Shifted(__m512d high, __m512d low) {
    // All lanes kept; the unmasked form trips a false warning in some compilers.
    return _mm512_castsi512_pd(
        _mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(high), _mm512_castpd_si512(low), K));
}

// 32 lanes cut from five aligned loads per 8 windows with a fixed shuffle
// (right sums for a row that starts on a line; eight windows a step).
__attribute__((noinline)) void Shuffled32(const double* j, int n, double* sums) {
    __m512d a = _mm512_loadu_pd(sums), b = _mm512_loadu_pd(sums + 8);
    __m512d c = _mm512_loadu_pd(sums + 16), d = _mm512_loadu_pd(sums + 24);
    const double* base = Aligned(j);
    for (int i = 0; i + 8 <= n; i += 8) {
        const double* q = base - i;
        const __m512d r0 = _mm512_load_pd(q), r1 = _mm512_load_pd(q + 8), r2 = _mm512_load_pd(q + 16);
        const __m512d r3 = _mm512_load_pd(q + 24), r4 = _mm512_load_pd(q + 32);
#define DOF_STEP(K)                                                                                        \
    a = _mm512_add_pd(a, Shifted<K>(r1, r0)), b = _mm512_add_pd(b, Shifted<K>(r2, r1));                    \
    c = _mm512_add_pd(c, Shifted<K>(r3, r2)), d = _mm512_add_pd(d, Shifted<K>(r4, r3));
        DOF_STEP(7) DOF_STEP(6) DOF_STEP(5) DOF_STEP(4) DOF_STEP(3) DOF_STEP(2) DOF_STEP(1) DOF_STEP(0)
#undef DOF_STEP
    }
    _mm512_storeu_pd(sums, a), _mm512_storeu_pd(sums + 8, b);
    _mm512_storeu_pd(sums + 16, c), _mm512_storeu_pd(sums + 24, d);
}

}  // namespace

int main(int argc, char** argv) {
    double ghz = 2.1;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--ghz") == 0) ghz = std::atof(argv[i + 1]);
    if (!__builtin_cpu_supports("avx512f")) {
        std::printf("this processor has no AVX-512\n");
        return 0;
    }
    std::vector<double> storage(8192 + 8);
    double* row = const_cast<double*>(Aligned(storage.data() + 8));
    for (int i = 0; i < 8192; ++i) row[i] = 1e-9 * i;
    alignas(64) double sums[32] = {};
    struct Shape {
        const char* name;
        int lanes;
        SumLoop loop;
    };
    const Shape shapes[] = {{"16 lanes, unaligned loads (the engine)", 16, Unaligned16},
                            {"16 lanes, loads at line starts (wrong sums)", 16, Aligned16},
                            {"32 lanes, unaligned loads", 32, Unaligned32},
                            {"32 lanes, loads at line starts (wrong sums)", 32, Aligned32},
                            {"32 lanes, aligned loads and shuffles", 32, Shuffled32}};
    std::printf("| loop | windows a run | ns per 16 lanes | cycles at %.2f GHz |\n|---|---:|---:|---:|\n", ghz);
    for (const int windows : {24, 200}) {
        for (const Shape& shape : shapes) {
            const long runs = 100000000L / windows;
            const auto start = std::chrono::steady_clock::now();
            // Runs start at every offset in a line, as the engine's do.
            for (long r = 0; r < runs; ++r) shape.loop(row + 4000 + (r & 7), windows, sums);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double per16 = seconds * 1e9 / (static_cast<double>(runs) * windows * (shape.lanes / 16.0));
            std::printf("| %s | %d | %.3f | %.2f |\n", shape.name, windows, per16, per16 * ghz);
        }
    }
    std::fprintf(stderr, "(%g)\n", sums[0]);
    return 0;
}
#else
int main() {
    std::printf("built without AVX-512\n");
    return 0;
}
#endif
