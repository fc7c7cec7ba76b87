#pragma once

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

// The plain level: one value at a time, on every processor. It is the
// reference the other levels reproduce bit for bit.
namespace quv3 {
namespace {

struct PlainSimd {
    // Subbands per transform and slots per DCT; lines per dequantization;
    // outputs per windowing vector; slots windowed together, and vectors of
    // outputs each window load serves.
    static constexpr int kFloatLanes = 1, kDequantLanes = 1, kDoubleLanes = 1;
    static constexpr int kSlotsPerPass = 1, kWindowVectors = 8;
    using D = Vec<double, 1>;

    static Vec<float, 1> Pow43(Vec<int32_t, 1> m) { return GatherLanes<1>(kPow43Table.data(), m); }
    static D MulAdd(D a, D b, D c) { return a * b + c; }
    static D Widen(Vec<float, 1> v) { return D{v[0]}; }
    static Vec<float, 1> Narrow(D v) { return Vec<float, 1>{static_cast<float>(v[0])}; }
    // Clipped to -32767..32767 (a NaN to -32767), then to the nearest integer,
    // ties to even (the default rounding mode, which nothing changes).
    static Vec<int32_t, 1> ClipAndRound(D v) {
        double x = v[0] > -32767.0 ? v[0] : -32767.0;
        x = x < 32767.0 ? x : 32767.0;
        return Vec<int32_t, 1>{static_cast<int32_t>(__builtin_lrint(x))};
    }
};

}  // namespace
}  // namespace quv3
