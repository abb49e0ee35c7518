#pragma once
#include <cstring>

// Small vectors of doubles. Each lane is rounded on its own exactly as a
// scalar operation would be, so results do not depend on the lane count or
// on the instruction set the compiler picks.

// One colour with its alpha.
typedef double Vec4 __attribute__((vector_size(32)));

inline Vec4 Load4(const double* p) {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store4(double* p, Vec4 v) { std::memcpy(p, &v, sizeof v); }

// As many independent doubles as one register of the target holds, with
// the few operations the passes need. Comparisons are false for NaN.
#if defined(__AVX__)
#include <immintrin.h>
constexpr int kLanes = 4;
typedef __m256d VecL;
inline VecL LoadL(const double* p) { return _mm256_loadu_pd(p); }
inline void StoreL(double* p, VecL v) { _mm256_storeu_pd(p, v); }
inline VecL SplatL(double v) { return _mm256_set1_pd(v); }
inline VecL LaneIndices() { return _mm256_setr_pd(0.0, 1.0, 2.0, 3.0); }
inline VecL AddL(VecL a, VecL b) { return _mm256_add_pd(a, b); }
inline VecL SubL(VecL a, VecL b) { return _mm256_sub_pd(a, b); }
inline VecL AndL(VecL a, VecL b) { return _mm256_and_pd(a, b); }
inline VecL OrL(VecL a, VecL b) { return _mm256_or_pd(a, b); }
inline VecL LessEqualL(VecL a, VecL b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
inline VecL LessL(VecL a, VecL b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline bool AnyL(VecL mask) { return _mm256_movemask_pd(mask) != 0; }
#else
#include <emmintrin.h>
constexpr int kLanes = 2;
typedef __m128d VecL;
inline VecL LoadL(const double* p) { return _mm_loadu_pd(p); }
inline void StoreL(double* p, VecL v) { _mm_storeu_pd(p, v); }
inline VecL SplatL(double v) { return _mm_set1_pd(v); }
inline VecL LaneIndices() { return _mm_setr_pd(0.0, 1.0); }
inline VecL AddL(VecL a, VecL b) { return _mm_add_pd(a, b); }
inline VecL SubL(VecL a, VecL b) { return _mm_sub_pd(a, b); }
inline VecL AndL(VecL a, VecL b) { return _mm_and_pd(a, b); }
inline VecL OrL(VecL a, VecL b) { return _mm_or_pd(a, b); }
inline VecL LessEqualL(VecL a, VecL b) { return _mm_cmple_pd(a, b); }
inline VecL LessL(VecL a, VecL b) { return _mm_cmplt_pd(a, b); }
inline bool AnyL(VecL mask) { return _mm_movemask_pd(mask) != 0; }
#endif
