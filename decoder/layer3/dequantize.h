#pragma once

#include <cstdint>

#include "decoder/layer3/band_layout.h"
#include "decoder/layer3/huffman.h"
#include "decoder/layer3/kernels/kernels.h"
#include "decoder/layer3/scale_factors.h"
#include "decoder/layer3/side_info.h"

namespace quv3 {

// The spectra of the current granule: per channel 576 samples in the order the
// inverse transform reads (short blocks reordered).
struct Spectrum {
    alignas(64) float SpectralSamples[2][576];
};

float LongGainFactor(int band, int32_t global_gain, int32_t scalefac_scale, int32_t scalefac, int32_t preflag);
float ShortGainFactor(int32_t global_gain, int32_t subblock_gain, int32_t scalefac_scale, int32_t scalefac);

// Dequantizes channel ch of granule gr in the block layout kind (its own, or
// channel 0's in joint stereo) with its own gains and scale factors.
void DequantizeChannel(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                       const BandLayout& bands, int gr, int ch, BlockKind kind, Spectrum& out);

}  // namespace quv3
