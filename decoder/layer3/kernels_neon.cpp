#include "decoder/layer3/simd_neon.h"
#include "decoder/layer3/kernel_body.h"

namespace quv3 {
extern const Kernels kNeonKernels = KernelsOf<NeonSimd>("NEON");
}  // namespace quv3
