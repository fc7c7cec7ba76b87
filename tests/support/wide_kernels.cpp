// The widest level's vector shapes (eight doubles, sixteen floats a vector) in
// portable vector code, so the kernel body's runs, reversals and partial
// widenings at that width are checked on processors without those
// instructions.
#include "decoder/layer3/kernels/simd.h"
#include "decoder/layer3/kernels/simd_plain.h"
#include "decoder/tables/quant_tables.h"

namespace quv3 {
namespace {

struct WideSimd {
    static constexpr int kFloatLanes = 8, kDequantLanes = 16, kDoubleLanes = 8;
    static constexpr int kSlotsPerPass = 3, kWindowVectors = 2;
    using D = Vec<double, 8>;

    static Vec<float, 16> Pow43(Vec<int32_t, 16> m) { return GatherLanes<16>(kPow43Table.data(), m); }
    static D MulAdd(D a, D b, D c) { return a * b + c; }
    static D Widen(Vec<float, 8> v) { return __builtin_convertvector(v, D); }
    static Vec<float, 8> Narrow(D v) { return __builtin_convertvector(v, Vec<float, 8>); }
    static Vec<int32_t, 8> ClipAndRound(D v) {
        Vec<int32_t, 8> r;
        for (int l = 0; l < 8; ++l) r[l] = PlainSimd::ClipAndRound(Vec<double, 1>{v[l]})[0];
        return r;
    }
};

}  // namespace
}  // namespace quv3

#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3::test {
extern const Kernels kWideKernels = KernelsOf<WideSimd>("wide");
}  // namespace quv3::test
