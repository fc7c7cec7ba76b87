#pragma once

#include <cstdint>

#include "decoder/layer3/dequantize.h"

namespace quv3 {

// Where intensity stereo begins in a joint-stereo granule: bound[0..2] per
// window (equal for long blocks), bound[3] in the long part of a mixed granule
// (a line); -1 where nothing was found. With the mid/side flag, and the
// subbands of both channels that may hold lines other than zero afterwards.
struct IntensityBounds {
    int32_t bound[4];
    int32_t mid_side;
    int32_t subbands;
};
IntensityBounds FindIntensityBounds(const QuantizedSpectrum& q, const SideInfo& si, const BandLayout& bands,
                                    const FrameHeader& h, int gr);

// Mid/side and intensity stereo on both channels' dequantized spectra, in
// channel 0's block layout. Above an intensity bound the right channel's
// quantized values are all zero, so only the left samples are used there.
// Returns the subbands of both channels that may hold lines other than zero.
int32_t JointStereoGranule(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                           const BandLayout& bands, const FrameHeader& h, int gr, Spectrum& out);

}  // namespace quv3
