#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"
#include "decoder/tables/band_tables.h"
#include "decoder/tables/reorder_table.h"

namespace quv3 {

// The scale-factor bands of the current frame's sampling frequency: inclusive
// last lines of the 22 long and 13 short bands (short ones within a window),
// and where each short-block line goes in the transform's order.
struct BandLayout {
    const int32_t* LongBandEnds;
    const int32_t* ShortBandEnds;
    const int16_t* ShortReorder;
};

inline BandLayout SelectBandLayout(const FrameHeader& h) {
    const int row = (h.ID & 1) * 3 + (h.sampling_frequency % 3);
    return {kLongBandEndsTable[row].data(), kShortBandEndsTable[row].data(), kShortReorderTable[row].data()};
}

}  // namespace quv3
