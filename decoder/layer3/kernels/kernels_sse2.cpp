// Built with SSE2 enabled.
#include "decoder/layer3/kernels/simd_sse2.h"
#include "decoder/layer3/kernels/kernel_body.h"

namespace quv3 {
extern const Kernels kSse2Kernels = KernelsOf<Sse2Simd>("SSE2");
}  // namespace quv3
