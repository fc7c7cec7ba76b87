#pragma once

#include <cstdint>

#include "decoder/layer3/kernels/kernels.h"
#include "decoder/layer3/side_info.h"

namespace quv3 {

struct TransformMemory {
    // The second halves of the last windowed transforms, kept sample-major per
    // group of eight subbands ([channel][subband / 8][t][subband % 8]) so the
    // kernels read and write whole vectors of subbands.
    alignas(64) float OverlapBuffer[2][4][18][8];
    // The transform output of the channel being synthesised: [subband][t].
    alignas(64) float SubbandSamples[32][18];
    // Per channel, how many subbands from 0 on may hold an overlap other than
    // zero; all above hold zeros.
    int32_t overlap_subbands[2];
};
static_assert(sizeof(TransformMemory::OverlapBuffer) == 4608);
static_assert(sizeof(TransformMemory::SubbandSamples) == 2304);

using ChannelOverlap = float (*)[18][8];

inline float& OverlapValue(ChannelOverlap overlap, int sb, int t) { return overlap[sb >> 3][t][sb & 7]; }

// Butterflies across subband boundaries 1 .. boundaries of one channel's lines.
void AliasReduce(float* lines, int boundaries);
// Subbands first .. end - 1 of one channel with one block type; kOverlapOnly
// for subbands whose lines are all zero.
void InverseTransformSubbands(const Kernels& k, const float* lines, int block_type, int first, int end,
                              ChannelOverlap overlap, float (*subbands)[18]);

// Channel ch's granule gr from its dequantized lines into t.SubbandSamples:
// alias reduction, then the inverse transforms with overlap-add for the
// subbands that hold lines, the overlap alone above them. The lines beyond
// decoded_lines are zero; in joint stereo, those of both channels above
// stereo_subbands (0 outside joint stereo). Returns the subband rows the
// synthesis reads (SynthesisRows): above them the output is zero.
int TransformGranuleChannel(const Kernels& k, float* lines, const SideInfo& si, int gr, int ch, int32_t decoded_lines,
                            int32_t stereo_subbands, TransformMemory& t);

}  // namespace quv3
