#pragma once

#include <emmintrin.h>

#include "decoder/layer3/simd.h"
#include "decoder/tables/quant_tables.h"

// SSE2, what every x86-64 processor runs: four floats or two doubles a vector.
namespace quv3 {
namespace {

struct Sse2Simd {
    static constexpr int kFloatLanes = 4;
    static constexpr int kDequantLanes = 4;
    static constexpr int kDoubleLanes = 2;
    static constexpr int kSlotsPerPass = 1;

    // No gather instruction: four table reads.
    static Vec<float, 4> Pow43(Vec<int32_t, 4> m) {
        return Vec<float, 4>{kPow43Table[m[0]], kPow43Table[m[1]], kPow43Table[m[2]], kPow43Table[m[3]]};
    }
    static Vec<double, 2> MulAdd(Vec<double, 2> a, Vec<double, 2> b, Vec<double, 2> c) { return a * b + c; }
    static Vec<double, 2> Widen(Vec<float, 2> v) { return __builtin_convertvector(v, Vec<double, 2>); }
    static Vec<float, 2> Narrow(Vec<double, 2> v) { return __builtin_convertvector(v, Vec<float, 2>); }
    static Vec<int32_t, 2> ClipAndRound(Vec<double, 2> v) {
        const __m128d c =
            _mm_min_pd(_mm_max_pd(reinterpret_cast<__m128d>(v), _mm_set1_pd(-32767.0)), _mm_set1_pd(32767.0));
        const Vec<int32_t, 4> r = reinterpret_cast<Vec<int32_t, 4>>(_mm_cvtpd_epi32(c));
        return __builtin_shufflevector(r, r, 0, 1);
    }
};

}  // namespace
}  // namespace quv3
