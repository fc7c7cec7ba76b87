#pragma once

#include <cstdint>

#include "decoder/layer3/band_layout.h"
#include "decoder/layer3/main_data.h"
#include "decoder/layer3/side_info.h"

namespace quv3 {

// The Huffman-decoded values of the current granule, per channel: lines 0..575
// in bitstream order and 2 spare slots that a count1 quadruple at line 574
// fills; the line after the last decoded one.
struct QuantizedSpectrum {
    alignas(64) int32_t QuantizedValues[2][578];
    int32_t decoded_line_count[2];
};

// Decodes one granule and channel whose scale factors took part2_bits. The bit
// position always ends on the part2_3_length boundary; returns the bits read
// beyond it (negative: left over).
int32_t DecodeSpectrum(MainDataBuffer& m, const SideInfo& si, const BandLayout& bands, int gr, int ch,
                       int32_t part2_bits, QuantizedSpectrum& q);
// The end of a granule and channel's decoding, pos lines decoded (the count1
// region from count1_start on) with used bits of the budget; returns the bits
// read beyond the budget.
int32_t FinishSpectrum(MainDataBuffer& m, int ch, int32_t pos, int32_t count1_start, int32_t used, int32_t budget,
                       QuantizedSpectrum& out);
// The exclusive end lines of the three big-values regions.
void RegionBounds(const SideInfo& si, const BandLayout& bands, int gr, int ch, int32_t bounds[3]);

}  // namespace quv3
