#include "decoder/layer3/kernels/simd_neon.h"
#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3 {
extern const Kernels kNeonKernels = KernelsOf<NeonSimd>("NEON");
}  // namespace quv3
