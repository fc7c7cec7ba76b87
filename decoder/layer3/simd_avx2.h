#pragma once

#include <immintrin.h>

#include "decoder/layer3/simd.h"
#include "decoder/tables/quant_tables.h"

// AVX2 with FMA: eight floats or four doubles a vector.
namespace quv3 {
namespace {

struct Avx2Simd {
    static constexpr int kFloatLanes = 8;
    static constexpr int kDequantLanes = 8;
    static constexpr int kDoubleLanes = 4;
    static constexpr int kSlotsPerPass = 1;

    static Vec<float, 8> Pow43(Vec<int32_t, 8> m) {
        return reinterpret_cast<Vec<float, 8>>(
            _mm256_i32gather_ps(kPow43Table.data(), reinterpret_cast<__m256i>(m), 4));
    }
    static Vec<double, 4> MulAdd(Vec<double, 4> a, Vec<double, 4> b, Vec<double, 4> c) {
        return reinterpret_cast<Vec<double, 4>>(_mm256_fmadd_pd(reinterpret_cast<__m256d>(a),
                                                                reinterpret_cast<__m256d>(b),
                                                                reinterpret_cast<__m256d>(c)));
    }
    static Vec<double, 4> Widen(Vec<float, 4> v) {
        return reinterpret_cast<Vec<double, 4>>(_mm256_cvtps_pd(reinterpret_cast<__m128>(v)));
    }
    static Vec<float, 4> Narrow(Vec<double, 4> v) {
        return reinterpret_cast<Vec<float, 4>>(_mm256_cvtpd_ps(reinterpret_cast<__m256d>(v)));
    }
    static Vec<int32_t, 4> ClipAndRound(Vec<double, 4> v) {
        const __m256d c = _mm256_min_pd(_mm256_max_pd(reinterpret_cast<__m256d>(v), _mm256_set1_pd(-32767.0)),
                                        _mm256_set1_pd(32767.0));
        return reinterpret_cast<Vec<int32_t, 4>>(_mm256_cvtpd_epi32(c));
    }
};

}  // namespace
}  // namespace quv3
