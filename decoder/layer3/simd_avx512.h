#pragma once

#include <immintrin.h>

#include "decoder/layer3/simd.h"
#include "decoder/tables/quant_tables.h"

// AVX-512: sixteen floats or eight doubles a vector; the transforms keep eight
// lanes (their groups of eight subbands and batches of eight slots).
namespace quv3 {
namespace {

struct Avx512Simd {
    static constexpr int kFloatLanes = 8;
    static constexpr int kDequantLanes = 16;
    static constexpr int kDoubleLanes = 8;
    static constexpr int kSlotsPerPass = 3;  // 12 sums and 4 window vectors in registers

    // Magnitudes below 16 (nearly all lines) come from the table's first entries
    // held in a register; the others are gathered.
    static Vec<float, 16> Pow43(Vec<int32_t, 16> m) {
        const __m512i mag = reinterpret_cast<__m512i>(m);
        const __m512 v = _mm512_permutexvar_ps(mag, _mm512_loadu_ps(kPow43Table.data()));
        const __mmask16 large = _mm512_cmpge_epi32_mask(mag, _mm512_set1_epi32(16));
        if (!large) return reinterpret_cast<Vec<float, 16>>(v);
        return reinterpret_cast<Vec<float, 16>>(_mm512_mask_i32gather_ps(v, large, mag, kPow43Table.data(), 4));
    }
    static Vec<double, 8> MulAdd(Vec<double, 8> a, Vec<double, 8> b, Vec<double, 8> c) {
        return reinterpret_cast<Vec<double, 8>>(_mm512_fmadd_pd(reinterpret_cast<__m512d>(a),
                                                                reinterpret_cast<__m512d>(b),
                                                                reinterpret_cast<__m512d>(c)));
    }
    static Vec<double, 8> Widen(Vec<float, 8> v) {
        return reinterpret_cast<Vec<double, 8>>(_mm512_cvtps_pd(reinterpret_cast<__m256>(v)));
    }
    static Vec<float, 8> Narrow(Vec<double, 8> v) {
        return reinterpret_cast<Vec<float, 8>>(_mm512_cvtpd_ps(reinterpret_cast<__m512d>(v)));
    }
    static Vec<int32_t, 8> ClipAndRound(Vec<double, 8> v) {
        const __m512d c = _mm512_min_pd(_mm512_max_pd(reinterpret_cast<__m512d>(v), _mm512_set1_pd(-32767.0)),
                                        _mm512_set1_pd(32767.0));
        return reinterpret_cast<Vec<int32_t, 8>>(_mm512_cvtpd_epi32(c));
    }
};

}  // namespace
}  // namespace quv3
