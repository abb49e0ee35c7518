#pragma once
// Several independent doubles per instruction, as many as one register of
// the target holds. Each lane is rounded on its own exactly as a scalar
// operation would be, so results do not depend on the lane count. A mask M
// says which lanes a comparison holds for; comparisons with NaN are false.
#include <cstdint>

#include <emmintrin.h>
#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

struct LanesSse2 {
    static constexpr int kCount = 2;
    typedef __m128d V;
    typedef __m128d M;
    static V Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V Splat(double v) { return _mm_set1_pd(v); }
    static V Indices() { return _mm_setr_pd(0.0, 1.0); }
    static V Add(V a, V b) { return _mm_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V Min(V a, V b) { return _mm_min_pd(a, b); }
    static V Max(V a, V b) { return _mm_max_pd(a, b); }
    static M LessEqual(V a, V b) { return _mm_cmple_pd(a, b); }
    static M Less(V a, V b) { return _mm_cmplt_pd(a, b); }
    static M Both(M a, M b) { return _mm_and_pd(a, b); }
    static M Either(M a, M b) { return _mm_or_pd(a, b); }
    // v where the mask holds, +0.0 elsewhere.
    static V Select(M mask, V v) { return _mm_and_pd(mask, v); }
    static unsigned Bits(M mask) { return static_cast<unsigned>(_mm_movemask_pd(mask)); }
    static V Div(V a, V b) { return _mm_div_pd(a, b); }
    // base[index] in each lane (index: whole numbers from 0 below 2^31).
    static V Gather(const double* base, V index) {
        double at[2];
        _mm_storeu_pd(at, index);
        return _mm_setr_pd(base[static_cast<int>(at[0])], base[static_cast<int>(at[1])]);
    }
    // Lanes that are not whole numbers (NaN among them); SSE2 cannot round.
    static M NotWhole(V v) {
        double x[2];
        _mm_storeu_pd(x, v);
        return _mm_castsi128_pd(_mm_set_epi64x(x[1] == __builtin_floor(x[1]) ? 0 : -1, x[0] == __builtin_floor(x[0]) ? 0 : -1));
    }
};

#if defined(__AVX2__)
struct LanesAvx2 {
    static constexpr int kCount = 4;
    typedef __m256d V;
    typedef __m256d M;
    static V Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V Splat(double v) { return _mm256_set1_pd(v); }
    static V Indices() { return _mm256_setr_pd(0.0, 1.0, 2.0, 3.0); }
    static V Add(V a, V b) { return _mm256_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V Min(V a, V b) { return _mm256_min_pd(a, b); }
    static V Max(V a, V b) { return _mm256_max_pd(a, b); }
    static M LessEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
    static M Less(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M Both(M a, M b) { return _mm256_and_pd(a, b); }
    static M Either(M a, M b) { return _mm256_or_pd(a, b); }
    static V Select(M mask, V v) { return _mm256_and_pd(mask, v); }
    static unsigned Bits(M mask) { return static_cast<unsigned>(_mm256_movemask_pd(mask)); }
    static V Div(V a, V b) { return _mm256_div_pd(a, b); }
    static V Gather(const double* base, V index) {
        return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, _mm256_cvttpd_epi32(index),
                                        _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
    }
    static V Ceil(V v) { return _mm256_round_pd(v, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC); }
    static V Truncate(V v) { return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
    static M Equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    // a where the mask holds, b elsewhere; the lanes of a but not of b.
    static V Where(M mask, V a, V b) { return _mm256_blendv_pd(b, a, mask); }
    static M AndNot(M a, M b) { return _mm256_andnot_pd(b, a); }
    static M NotWhole(V v) { return _mm256_cmp_pd(v, _mm256_round_pd(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC), _CMP_NEQ_UQ); }
};
#endif

#if defined(__AVX512F__)
struct LanesAvx512 {
    static constexpr int kCount = 8;
    typedef __m512d V;
    typedef __mmask8 M;
    static V Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V Splat(double v) { return _mm512_set1_pd(v); }
    static V Indices() { return _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0); }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V Min(V a, V b) { return _mm512_maskz_min_pd(0xff, a, b); }
    static V Max(V a, V b) { return _mm512_maskz_max_pd(0xff, a, b); }
    static M LessEqual(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
    static M Less(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M Both(M a, M b) { return static_cast<M>(a & b); }
    static M Either(M a, M b) { return static_cast<M>(a | b); }
    static V Select(M mask, V v) { return _mm512_maskz_mov_pd(mask, v); }
    static unsigned Bits(M mask) { return static_cast<unsigned>(mask); }
    static V Div(V a, V b) { return _mm512_div_pd(a, b); }
    static V Gather(const double* base, V index) {
        return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xff, _mm512_maskz_cvttpd_epi32(0xff, index), base, 8);
    }
    static V Ceil(V v) { return _mm512_maskz_roundscale_pd(0xff, v, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC); }
    static V Truncate(V v) { return _mm512_maskz_roundscale_pd(0xff, v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
    static M Equal(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static V Where(M mask, V a, V b) { return _mm512_mask_blend_pd(mask, b, a); }
    static M AndNot(M a, M b) { return static_cast<M>(a & ~b); }
    static M NotWhole(V v) {
        return _mm512_cmp_pd_mask(v, _mm512_maskz_roundscale_pd(0xff, v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC), _CMP_NEQ_UQ);
    }
};
#endif

// Two registers of L side by side, as one block of 2 * L::kCount lanes: a
// source's set-up is shared by twice the targets, and the two halves' sums
// form independent chains of additions.
template <class L>
struct LanePair {
    static constexpr int kCount = 2 * L::kCount;
    struct V {
        typename L::V lo, hi;
    };
    struct M {
        typename L::M lo, hi;
    };
    static V Load(const double* p) { return {L::Load(p), L::Load(p + L::kCount)}; }
    static void Store(double* p, V v) { L::Store(p, v.lo), L::Store(p + L::kCount, v.hi); }
    static V Splat(double v) { return {L::Splat(v), L::Splat(v)}; }
    static V Indices() { return {L::Indices(), L::Add(L::Indices(), L::Splat(static_cast<double>(L::kCount)))}; }
    static V Add(V a, V b) { return {L::Add(a.lo, b.lo), L::Add(a.hi, b.hi)}; }
    static V Sub(V a, V b) { return {L::Sub(a.lo, b.lo), L::Sub(a.hi, b.hi)}; }
    static V Mul(V a, V b) { return {L::Mul(a.lo, b.lo), L::Mul(a.hi, b.hi)}; }
    static V Min(V a, V b) { return {L::Min(a.lo, b.lo), L::Min(a.hi, b.hi)}; }
    static V Max(V a, V b) { return {L::Max(a.lo, b.lo), L::Max(a.hi, b.hi)}; }
    static M LessEqual(V a, V b) { return {L::LessEqual(a.lo, b.lo), L::LessEqual(a.hi, b.hi)}; }
    static M Less(V a, V b) { return {L::Less(a.lo, b.lo), L::Less(a.hi, b.hi)}; }
    static M Both(M a, M b) { return {L::Both(a.lo, b.lo), L::Both(a.hi, b.hi)}; }
    static M Either(M a, M b) { return {L::Either(a.lo, b.lo), L::Either(a.hi, b.hi)}; }
    static V Select(M mask, V v) { return {L::Select(mask.lo, v.lo), L::Select(mask.hi, v.hi)}; }
    static unsigned Bits(M mask) { return L::Bits(mask.lo) | L::Bits(mask.hi) << L::kCount; }
    static V Div(V a, V b) { return {L::Div(a.lo, b.lo), L::Div(a.hi, b.hi)}; }
    static V Gather(const double* base, V index) { return {L::Gather(base, index.lo), L::Gather(base, index.hi)}; }
    static M NotWhole(V v) { return {L::NotWhole(v.lo), L::NotWhole(v.hi)}; }
};

// The widest lanes this processor runs: 2, 4 or 8.
int WidestLanes();
// The lanes of a block of targets: the widest registers, two of them side by
// side where they hold 8 (16 lanes), or maxLanes where that is narrower
// (0: no limit).
int LanesFor(int maxLanes);
