#pragma once

#include <immintrin.h>

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

// AVX2 with FMA: eight floats or four doubles a vector.
namespace quv3 {
namespace {

struct Avx2Simd {
    static constexpr int kFloatLanes = 8, kDequantLanes = 8, kDoubleLanes = 4;
    // Six slots a pass: 12 sums keep both FMA units busy, with 2 window vectors and the history value.
    static constexpr int kSlotsPerPass = 6, kWindowVectors = 1;
    using D = Vec<double, 4>;

    // Most magnitudes are below 16: two in-register lookups in the table's first
    // 16 entries, and the gather (slow on some processors) only for a vector
    // holding a larger one.
    static Vec<float, 8> Pow43(Vec<int32_t, 8> m) {
        const __m256i i = (__m256i)m;
        const __m256 lo = _mm256_permutevar8x32_ps(_mm256_loadu_ps(kPow43Table.data()), i);
        const __m256 hi = _mm256_permutevar8x32_ps(_mm256_loadu_ps(kPow43Table.data() + 8), i);
        if (!_mm256_testz_si256(i, _mm256_set1_epi32(~15))) {
            return (Vec<float, 8>)_mm256_i32gather_ps(kPow43Table.data(), i, 4);
        }
        return (Vec<float, 8>)_mm256_blendv_ps(lo, hi, (__m256)_mm256_cmpgt_epi32(i, _mm256_set1_epi32(7)));
    }
    static D MulAdd(D a, D b, D c) { return (D)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c); }
    static D Widen(Vec<float, 4> v) { return (D)_mm256_cvtps_pd((__m128)v); }
    static Vec<float, 4> Narrow(D v) { return (Vec<float, 4>)_mm256_cvtpd_ps((__m256d)v); }
    static Vec<int32_t, 4> ClipAndRound(D v) {
        const __m256d lo = _mm256_set1_pd(-32767.0), hi = _mm256_set1_pd(32767.0);
        return (Vec<int32_t, 4>)_mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd((__m256d)v, lo), hi));
    }
};

}  // namespace
}  // namespace quv3
