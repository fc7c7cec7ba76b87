#pragma once

#include <arm_neon.h>

#include "decoder/layer3/simd.h"
#include "decoder/tables/quant_tables.h"

// NEON (aarch64): four floats or two doubles a vector.
namespace quv3 {
namespace {

struct NeonSimd {
    static constexpr int kFloatLanes = 4;
    static constexpr int kDequantLanes = 4;
    static constexpr int kDoubleLanes = 2;
    static constexpr int kSlotsPerPass = 1;

    static Vec<float, 4> Pow43(Vec<int32_t, 4> m) {
        return Vec<float, 4>{kPow43Table[m[0]], kPow43Table[m[1]], kPow43Table[m[2]], kPow43Table[m[3]]};
    }
    static Vec<double, 2> MulAdd(Vec<double, 2> a, Vec<double, 2> b, Vec<double, 2> c) {
        return reinterpret_cast<Vec<double, 2>>(vfmaq_f64(reinterpret_cast<float64x2_t>(c),
                                                          reinterpret_cast<float64x2_t>(a),
                                                          reinterpret_cast<float64x2_t>(b)));
    }
    static Vec<double, 2> Widen(Vec<float, 2> v) {
        return reinterpret_cast<Vec<double, 2>>(vcvt_f64_f32(reinterpret_cast<float32x2_t>(v)));
    }
    static Vec<float, 2> Narrow(Vec<double, 2> v) {
        return reinterpret_cast<Vec<float, 2>>(vcvt_f32_f64(reinterpret_cast<float64x2_t>(v)));
    }
    // FMAX returns the other operand for a NaN only with FMAXNM; plain FMAX
    // gives NaN, so the lower bound is compared explicitly.
    static Vec<int32_t, 2> ClipAndRound(Vec<double, 2> v) {
        const float64x2_t lo = vdupq_n_f64(-32767.0), hi = vdupq_n_f64(32767.0);
        const float64x2_t x = reinterpret_cast<float64x2_t>(v);
        const float64x2_t c = vminq_f64(vbslq_f64(vcgtq_f64(x, lo), x, lo), hi);
        return reinterpret_cast<Vec<int32_t, 2>>(vmovn_s64(vcvtnq_s64_f64(c)));
    }
};

}  // namespace
}  // namespace quv3
