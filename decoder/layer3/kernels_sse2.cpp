// Built with SSE2 enabled.
#include "decoder/layer3/simd_sse2.h"
#include "decoder/layer3/kernel_body.h"

namespace quv3 {
extern const Kernels kSse2Kernels = KernelsOf<Sse2Simd>("SSE2");
}  // namespace quv3
