#include "decoder/layer3/kernels/kernels.h"

namespace quv3 {

extern const Kernels kPlainKernels;
#if defined(__x86_64__) || defined(__i386__)
extern const Kernels kSse2Kernels, kAvx2Kernels, kAvx512Kernels;
namespace {
const Kernels* const kLevels[] = {&kPlainKernels, &kSse2Kernels, &kAvx2Kernels, &kAvx512Kernels};
}  // namespace

int32_t CpuKernelLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 3;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 2;
    return __builtin_cpu_supports("sse2") ? 1 : 0;
}
#elif defined(__aarch64__)
extern const Kernels kNeonKernels;
namespace {
const Kernels* const kLevels[] = {&kPlainKernels, &kNeonKernels};
}  // namespace

int32_t CpuKernelLevel() { return 1; }  // every aarch64 processor has NEON
#else
namespace {
const Kernels* const kLevels[] = {&kPlainKernels};
}  // namespace

int32_t CpuKernelLevel() { return 0; }
#endif

int32_t KernelLevelCount() { return static_cast<int32_t>(sizeof kLevels / sizeof kLevels[0]); }

const Kernels& KernelsAt(int32_t level) {
    if (level < 0) level = 0;
    if (level >= KernelLevelCount()) level = KernelLevelCount() - 1;
    return *kLevels[level];
}

}  // namespace quv3
