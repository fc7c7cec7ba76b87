#pragma once

#include "decoder/layer3/simd.h"
#include "decoder/tables/quant_tables.h"

// The plain level: one value at a time, on every processor. It is the
// reference the other levels reproduce bit for bit.
namespace quv3 {
namespace {

struct PlainSimd {
    static constexpr int kFloatLanes = 1;  // subbands per transform, slots per DCT
    static constexpr int kDequantLanes = 1;
    static constexpr int kDoubleLanes = 1;  // windowing outputs per vector
    static constexpr int kSlotsPerPass = 1;  // slots windowed together

    static Vec<float, 1> Pow43(Vec<int32_t, 1> magnitude) { return Vec<float, 1>{kPow43Table[magnitude[0]]}; }
    static Vec<double, 1> MulAdd(Vec<double, 1> a, Vec<double, 1> b, Vec<double, 1> c) { return a * b + c; }
    static Vec<double, 1> Widen(Vec<float, 1> v) { return Vec<double, 1>{v[0]}; }
    static Vec<float, 1> Narrow(Vec<double, 1> v) { return Vec<float, 1>{static_cast<float>(v[0])}; }
    // Clipped to -32767..32767 (a NaN to -32767), then to the nearest integer,
    // ties to even (the default rounding mode, which nothing changes).
    static Vec<int32_t, 1> ClipAndRound(Vec<double, 1> v) {
        double x = v[0] > -32767.0 ? v[0] : -32767.0;
        x = x < 32767.0 ? x : 32767.0;
        return Vec<int32_t, 1>{static_cast<int32_t>(__builtin_lrint(x))};
    }
};

}  // namespace
}  // namespace quv3
