#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"
#include "decoder/tables/band_tables.h"
#include "decoder/tables/reorder_table.h"

namespace quv3 {

// The scale-factor bands of the current frame's sampling frequency: inclusive
// last lines of the 22 long and 13 short bands (short ones within a window),
// and where each short-block line goes in the transform's order.
// mixed_long_lines: a mixed granule's long part, the lines before short band 3
// (the first short band it transmits). 36 at every ISO rate, where they are
// long bands 0..7 (MPEG-1) or 0..5 (LSF); at 8000 Hz (MPEG 2.5, which no
// standard defines mixed blocks for) 72, long bands 0..5, as many long scale
// factors as an LSF mixed granule carries. The transform's long part stays
// subbands 0 and 1 (lines 0..35) at every rate.
struct BandLayout {
    const int32_t* LongBandEnds;
    const int32_t* ShortBandEnds;
    const int16_t* ShortReorder;
    int32_t mixed_long_lines;
};

// Short band b within a window: its first line and its width.
inline int32_t ShortBandStart(const BandLayout& bands, int b) { return b > 0 ? bands.ShortBandEnds[b - 1] + 1 : 0; }
inline int32_t ShortBandWidth(const BandLayout& bands, int b) {
    return bands.ShortBandEnds[b] + 1 - ShortBandStart(bands, b);
}

inline BandLayout SelectBandLayout(const FrameHeader& h) {
    const int32_t row = RateRow(h);
    return {kLongBandEndsTable[row].data(), kShortBandEndsTable[row].data(), kShortReorderTable[row].data(),
            3 * (kShortBandEndsTable[row][2] + 1)};
}

}  // namespace quv3
