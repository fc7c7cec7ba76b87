#pragma once

#include <cstdint>

#include "decoder/layer3/dequantize.h"

namespace quv3 {

// Where intensity stereo begins in a joint-stereo granule: bound[0..2] per
// window (equal for long blocks), bound[3] in the long part of a mixed granule
// (a line); -1 where nothing was found. Sets both subband counts; returns the
// mid/side flag.
int32_t FindIntensityBounds(const QuantizedSpectrum& q, const SideInfo& si, const BandLayout& bands,
                            const FrameHeader& h, int gr, int32_t bound[4], Spectrum& out);

// Mid/side and intensity stereo on both channels' dequantized spectra, in
// channel 0's block layout. Above an intensity bound the right channel's
// quantized values are all zero, so only the left samples are used there.
void JointStereoGranule(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                        const BandLayout& bands, const FrameHeader& h, int gr, Spectrum& out);

}  // namespace quv3
