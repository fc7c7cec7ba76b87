#include "decoder/layer3/imdct.h"

#include "decoder/layer3/synthesis.h"
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

int TransformGranuleChannel(const Kernels& k, float* lines, const SideInfo& si, int gr, int ch, int32_t decoded_lines,
                            int32_t stereo_subbands, TransformMemory& t) {
    const BlockKind kind = BlockKindOf(si, gr, ch);
    // Outside joint stereo the lines from the decoded count on are +0: the
    // subbands above it need no transform (an all-zero subband transforms to
    // its overlap alone, which passing the overlap through gives too, but for
    // the signs of zeros, which no PCM sample can show). Short and mixed
    // granules' lines are reordered, so they all count.
    int32_t active = stereo_subbands > 0 ? stereo_subbands : kind == BlockKind::kLong ? (decoded_lines + 17) / 18 : 32;
    // Short blocks get no alias reduction; a mixed block only the boundary
    // between its two long subbands, as in the ISO reference decoder.
    if (kind == BlockKind::kLong) {
        // Boundaries above active + 1 only move values between subbands that
        // are not transformed.
        AliasReduce(lines, active < 31 ? active + 1 : 31);
        // The butterflies carry the last active subband's top lines into the
        // next subband, which must then be transformed too.
        if (active < 32) ++active;
    } else if (kind == BlockKind::kMixed) {
        AliasReduce(lines, 1);
    }
    // With mixed_block_flag set the two lowest subbands use the normal window
    // whatever the block type, as the ISO reference decoder does; the others
    // use the granule's own block type.
    const int wsf = si.window_switching_flag[gr][ch];
    const int bt = si.block_type[gr][ch];
    const int lower = !wsf || si.mixed_block_flag[gr][ch] ? 0 : bt;
    const int upper = !wsf ? 0 : bt;
    ChannelOverlap overlap = t.OverlapBuffer[ch];
    // Subbands 0 and 1 always; the others up to the active count; above it
    // the lines are zero and the overlap passes through alone. Zero lines
    // transform to their overlap too, but for the signs of zeros, so the
    // transformed run goes on to the end of the kernel's last vector and no
    // vector is split between the two.
    int transformed = active > 2 ? active : 2;
    transformed = (transformed + k.lanes - 1) & ~(k.lanes - 1);
    if (transformed > 32) transformed = 32;
    if (lower == upper) {
        InverseTransformSubbands(k, lines, lower, 0, transformed, overlap, t.SubbandSamples);
    } else {
        InverseTransformSubbands(k, lines, lower, 0, 2, overlap, t.SubbandSamples);
        InverseTransformSubbands(k, lines, upper, 2, transformed, overlap, t.SubbandSamples);
    }
    // Above both the active subbands and the overlap the last granule left,
    // the output is zero: the synthesis reads only the rows below that (as
    // it rounds it up), and the overlap there stays zero without a pass.
    int32_t& overlap_subbands = t.overlap_subbands[ch];
    const int rows = SynthesisRows(active > overlap_subbands ? active : overlap_subbands);
    InverseTransformSubbands(k, lines, kOverlapOnly, transformed, rows, overlap, t.SubbandSamples);
    overlap_subbands = active;
    return rows;
}

}  // namespace quv3
