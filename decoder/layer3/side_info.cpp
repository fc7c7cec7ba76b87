#include "decoder/layer3/side_info.h"

namespace quv3 {

// Entries of granules and channels the frame does not have keep what they
// held (no stage reads them); nothing is validated here (the consuming stages
// bound what they index).
void ReadSideInfo(Stream& in, SideInfo& si) {
    const FrameHeader& h = in.header;
    HeaderBitReader& r = in.header_reader;
    const bool mpeg1 = IsMpeg1(h);
    const int channels = ChannelCount(h);
    const int granules = GranuleCount(h);

    ReadSideInfoBytes(in);
    // main_data_begin always starts at byte 0, whatever the CRC skip left in bit_pos.
    if (mpeg1) {
        si.main_data_begin = (r.bytes[0] << 1) | (r.bytes[1] >> 7);
        r.bit_pos = 9;
        r.bit_pos += channels == 1 ? 5 : 3;
        for (int ch = 0; ch < channels; ++ch) {
            for (int band = 0; band < 4; ++band) si.scfsi[ch][band] = static_cast<int32_t>(ReadHeaderBits(r, 1));
        }
    } else {
        si.main_data_begin = r.bytes[0];
        r.bit_pos = 8;
        r.bit_pos += channels == 1 ? 1 : 2;
    }

    auto bits = [&r](int n) { return static_cast<int32_t>(ReadHeaderBits(r, n)); };
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            si.part2_3_length[gr][ch] = bits(12);
            si.big_values[gr][ch] = bits(9);
            si.global_gain[gr][ch] = bits(8);
            si.scalefac_compress[gr][ch] = bits(mpeg1 ? 4 : 9);
            si.window_switching_flag[gr][ch] = bits(1);
            if (si.window_switching_flag[gr][ch]) {
                si.block_type[gr][ch] = bits(2);
                si.mixed_block_flag[gr][ch] = bits(1);
                si.table_select[gr][ch][0] = bits(5);
                si.table_select[gr][ch][1] = bits(5);
                si.table_select[gr][ch][2] = 0;
                for (int w = 0; w < 3; ++w) si.subblock_gain[gr][ch][w] = bits(3);
            } else {
                for (int k = 0; k < 3; ++k) si.table_select[gr][ch][k] = bits(5);
                si.region0_count[gr][ch] = bits(4);
                si.region1_count[gr][ch] = bits(3);
                // Not transmitted for long blocks: fixed defaults, so that a stage
                // reading them (joint stereo takes channel 0's block layout for
                // both channels) never sees an earlier granule's values.
                si.block_type[gr][ch] = 0;
                si.mixed_block_flag[gr][ch] = 0;
                for (int w = 0; w < 3; ++w) si.subblock_gain[gr][ch][w] = 0;
            }
            if (mpeg1) si.preflag[gr][ch] = bits(1);
            si.scalefac_scale[gr][ch] = bits(1);
            si.count1table_select[gr][ch] = bits(1);
        }
    }
}

}  // namespace quv3
