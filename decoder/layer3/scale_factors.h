#pragma once

#include <array>
#include <cstdint>

#include "decoder/layer3/main_data.h"
#include "decoder/layer3/side_info.h"

namespace quv3 {

// The scale factors of every granule and channel, and for LSF the intensity
// values derived while reading channel 1's.
struct ScaleFactors {
    int32_t scalefac_l[2][2][22];  // [granule][channel][long band]
    int32_t scalefac_s[2][2][13][3];  // [granule][channel][short band][window]
    int32_t intensity_scale;  // LSF: scalefac_compress mod 2 of the intensity right channel
    // LSF: 2^slen - 1 of each band of channel 1; long band b at b, short band b at 6 + b.
    std::array<int32_t, 22> largest_intensity_position;
};

// Reads the scale factors of one granule and channel from the reservoir and
// returns the bits they took. Writes the LSF preflag into the side information.
int32_t ReadScaleFactors(MainDataBuffer& m, SideInfo& si, const FrameHeader& h, int gr, int ch, ScaleFactors& sf);

}  // namespace quv3
