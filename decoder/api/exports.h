#pragma once

#include <cstdint>

namespace quv3 {

// The kernels of level (lowered to what the processor runs) for the exports'
// decoder from now on, as the first InitQuv chooses the highest; for tests and
// the benchmark. Returns the level chosen.
int32_t UseKernelLevel(int32_t level);

}  // namespace quv3
