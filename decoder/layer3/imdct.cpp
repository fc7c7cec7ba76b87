#include "decoder/layer3/imdct.h"

#include "decoder/tables/transform_tables.h"

namespace quv3 {

// The butterflies between the 8 lines on each side of a subband boundary.
void AliasReduce(float* x, int boundaries) {
    for (int b = 1; b <= boundaries; ++b) {
        for (int i = 0; i < 8; ++i) {
            const int lo = 18 * b - 1 - i;
            const int hi = 18 * b + i;
            const float u = x[lo];
            const float d = x[hi];
            x[lo] = u * kAliasCs[i] - d * kAliasCa[i];
            x[hi] = d * kAliasCs[i] + u * kAliasCa[i];
        }
    }
}

// In vectors of the kernel's width, aligned on it; the subbands of a vector
// outside first .. end - 1 are left as they are.
void InverseTransformSubbands(const Kernels& k, const float* lines, int block_type, int first, int end,
                              ChannelOverlap overlap, float (*subbands)[18]) {
    const int lanes = k.lanes;
    for (int sb = first & ~(lanes - 1); sb < end; sb += lanes) {
        const int lo = first > sb ? first - sb : 0;
        const int hi = end < sb + lanes ? end - sb : lanes;
        const uint32_t mask = ((1u << hi) - 1) & ~((1u << lo) - 1);
        k.transform_subbands(lines + 18 * sb, kImdctWindows[block_type & 3], block_type,
                             &OverlapValue(overlap, sb, 0), subbands[sb], sb, mask);
    }
}

}  // namespace quv3
