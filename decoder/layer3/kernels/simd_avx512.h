#pragma once

#include <immintrin.h>

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

// AVX-512: sixteen floats or eight doubles a vector; the transforms keep eight
// lanes (their groups of eight subbands and batches of eight slots). Three
// slots windowed together keep 12 sums (outputs j and 32 - j) and 4 window
// vectors in registers.
namespace quv3 {
namespace {

struct Avx512Simd {
    static constexpr int kFloatLanes = 8, kDequantLanes = 16, kDoubleLanes = 8;
    static constexpr int kSlotsPerPass = 3, kWindowVectors = 2;
    using D = Vec<double, 8>;

    // Magnitudes below 16 (nearly all lines) come from the table's first entries
    // held in a register; the others are gathered.
    static Vec<float, 16> Pow43(Vec<int32_t, 16> m) {
        const __m512 v = _mm512_permutexvar_ps((__m512i)m, _mm512_loadu_ps(kPow43Table.data()));
        const __mmask16 large = _mm512_cmpge_epi32_mask((__m512i)m, _mm512_set1_epi32(16));
        return (Vec<float, 16>)(large ? _mm512_mask_i32gather_ps(v, large, (__m512i)m, kPow43Table.data(), 4) : v);
    }
    static D MulAdd(D a, D b, D c) { return (D)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c); }
    static D Widen(Vec<float, 8> v) { return (D)_mm512_cvtps_pd((__m256)v); }
    static Vec<float, 8> Narrow(D v) { return (Vec<float, 8>)_mm512_cvtpd_ps((__m512d)v); }
    static Vec<int32_t, 8> ClipAndRound(D v) {
        const __m512d lo = _mm512_set1_pd(-32767.0), hi = _mm512_set1_pd(32767.0);
        return (Vec<int32_t, 8>)_mm512_cvtpd_epi32(_mm512_min_pd(_mm512_max_pd((__m512d)v, lo), hi));
    }
};

}  // namespace
}  // namespace quv3
