#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"

namespace quv3 {

// Side information of one frame: 81 signed 32-bit values, per-granule fields
// indexed [granule][channel].
struct SideInfo {
    int32_t main_data_begin;
    int32_t scfsi[2][4];
    int32_t part2_3_length[2][2];
    int32_t big_values[2][2];
    int32_t global_gain[2][2];
    int32_t scalefac_compress[2][2];
    int32_t window_switching_flag[2][2];
    int32_t block_type[2][2];
    int32_t mixed_block_flag[2][2];
    int32_t table_select[2][2][3];
    int32_t subblock_gain[2][2][3];
    int32_t region0_count[2][2];
    int32_t region1_count[2][2];
    int32_t preflag[2][2];
    int32_t scalefac_scale[2][2];
    int32_t count1table_select[2][2];
};
static_assert(sizeof(SideInfo) == 81 * 4);

// Reads the frame's side-information bytes from the stream (the header read
// last says how many) and unpacks them.
void ReadSideInfo(Stream& in, SideInfo& si);

// The block layout of a granule and channel: short when window switching
// selects block type 2, mixed when its two lowest subbands stay long.
enum class BlockKind { kLong, kShort, kMixed };

inline BlockKind BlockKindOf(const SideInfo& si, int gr, int ch) {
    if (!si.window_switching_flag[gr][ch] || si.block_type[gr][ch] != 2) return BlockKind::kLong;
    return si.mixed_block_flag[gr][ch] ? BlockKind::kMixed : BlockKind::kShort;
}

}  // namespace quv3
