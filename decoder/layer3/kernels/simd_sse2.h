#pragma once

#include <emmintrin.h>

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

// SSE2, what every x86-64 processor runs: four floats or two doubles a vector.
namespace quv3 {
namespace {

struct Sse2Simd {
    static constexpr int kFloatLanes = 4, kDequantLanes = 4, kDoubleLanes = 2;
    // Three slots a pass: 6 sums, 2 window vectors, the history value and its product fit the 16 registers.
    static constexpr int kSlotsPerPass = 3, kWindowVectors = 1;
    using D = Vec<double, 2>;

    static Vec<float, 4> Pow43(Vec<int32_t, 4> m) { return GatherLanes<4>(kPow43Table.data(), m); }  // no gather
    static D MulAdd(D a, D b, D c) { return a * b + c; }
    // The upper lanes are left undefined: cvtps2pd reads the lower two alone.
    static D Widen(Vec<float, 2> v) { return (D)_mm_cvtps_pd((__m128)__builtin_shufflevector(v, v, 0, 1, -1, -1)); }
    static Vec<float, 2> Narrow(D v) { return __builtin_convertvector(v, Vec<float, 2>); }
    static Vec<int32_t, 2> ClipAndRound(D v) {
        const __m128d c = _mm_min_pd(_mm_max_pd((__m128d)v, _mm_set1_pd(-32767.0)), _mm_set1_pd(32767.0));
        const Vec<int32_t, 4> r = (Vec<int32_t, 4>)_mm_cvtpd_epi32(c);
        return __builtin_shufflevector(r, r, 0, 1);
    }
};

}  // namespace
}  // namespace quv3
