#include "decoder/layer3/kernels/simd_plain.h"
#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3 {
extern const Kernels kPlainKernels = KernelsOf<PlainSimd>("plain");
}  // namespace quv3
