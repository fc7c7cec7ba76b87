#include "decoder/layer3/simd_plain.h"
#include "decoder/layer3/kernel_body.h"

namespace quv3 {
extern const Kernels kPlainKernels = KernelsOf<PlainSimd>("plain");
}  // namespace quv3
