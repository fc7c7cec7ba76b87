#pragma once

#include <arm_neon.h>

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

// NEON (aarch64): four floats or two doubles a vector.
namespace quv3 {
namespace {

struct NeonSimd {
    static constexpr int kFloatLanes = 4, kDequantLanes = 4, kDoubleLanes = 2;
    static constexpr int kSlotsPerPass = 3, kWindowVectors = 2;
    using D = Vec<double, 2>;

    static Vec<float, 4> Pow43(Vec<int32_t, 4> m) { return GatherLanes<4>(kPow43Table.data(), m); }  // no gather
    static D MulAdd(D a, D b, D c) { return (D)vfmaq_f64((float64x2_t)c, (float64x2_t)a, (float64x2_t)b); }
    static D Widen(Vec<float, 2> v) { return (D)vcvt_f64_f32((float32x2_t)v); }
    static Vec<float, 2> Narrow(D v) { return (Vec<float, 2>)vcvt_f32_f64((float64x2_t)v); }
    // The lower bound by a comparison: FMAX would turn a NaN sum into NaN.
    static Vec<int32_t, 2> ClipAndRound(D v) {
        const float64x2_t x = (float64x2_t)v, lo = vdupq_n_f64(-32767.0);
        const float64x2_t c = vminq_f64(vbslq_f64(vcgtq_f64(x, lo), x, lo), vdupq_n_f64(32767.0));
        return (Vec<int32_t, 2>)vmovn_s64(vcvtnq_s64_f64(c));
    }
};

}  // namespace
}  // namespace quv3
