// Built with AVX-512F enabled.
// GCC 12's AVX-512 intrinsics trip -W(maybe-)uninitialized inside its own header.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "decoder/layer3/kernels/simd_avx512.h"
#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3 {
extern const Kernels kAvx512Kernels = KernelsOf<Avx512Simd>("AVX-512");
}  // namespace quv3
