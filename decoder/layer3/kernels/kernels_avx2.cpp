// Built with AVX2 and FMA enabled.
#include "decoder/layer3/kernels/simd_avx2.h"
#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3 {
extern const Kernels kAvx2Kernels = KernelsOf<Avx2Simd>("AVX2");
}  // namespace quv3
