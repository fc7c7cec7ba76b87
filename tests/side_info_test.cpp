#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decoder/layer3/side_info.h"
#include "decoder/stream/stream.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

constexpr int32_t kStale = 77;

SideInfo StaleSideInfo() {
    SideInfo si;
    int32_t* p = reinterpret_cast<int32_t*>(&si);
    for (size_t i = 0; i < sizeof si / 4; ++i) p[i] = kStale;
    return si;
}

// A side-information record with distinct in-range values in every transmitted field.
SideInfo Sample(const HeaderSpec& h, bool window_switching) {
    SideInfo si{};
    si.main_data_begin = h.id ? 300 : 200;
    for (int ch = 0; ch < 2; ++ch)
        for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = (ch + b) & 1;
    for (int gr = 0; gr < 2; ++gr) {
        for (int ch = 0; ch < 2; ++ch) {
            const int k = gr * 2 + ch;
            si.part2_3_length[gr][ch] = 1000 + k;
            si.big_values[gr][ch] = 100 + k;
            si.global_gain[gr][ch] = 150 + k;
            si.scalefac_compress[gr][ch] = h.id ? 9 + k : 300 + k;
            si.window_switching_flag[gr][ch] = window_switching;
            si.block_type[gr][ch] = window_switching ? 2 : 0;
            si.mixed_block_flag[gr][ch] = window_switching ? k & 1 : 0;
            for (int r = 0; r < 3; ++r) {
                si.table_select[gr][ch][r] = window_switching && r == 2 ? 0 : 5 + r + k;
                si.subblock_gain[gr][ch][r] = window_switching ? (r + k) & 7 : 0;
            }
            si.region0_count[gr][ch] = window_switching ? 0 : 7 + k;
            si.region1_count[gr][ch] = window_switching ? 0 : 3 + (k & 3);
            si.preflag[gr][ch] = h.id ? (k & 1) : 0;
            si.scalefac_scale[gr][ch] = (k >> 1) & 1;
            si.count1table_select[gr][ch] = k & 1;
        }
    }
    return si;
}

struct Parsed {
    SideInfo si;
    int32_t end_bit;
};

Parsed Parse(const HeaderSpec& h, const SideInfo& written, SideInfo start = StaleSideInfo()) {
    Bytes frame = BuildFrame(h, written, {});
    TempFile f(frame);
    auto s = std::make_unique<Stream>();
    OpenInput(*s, f.path.c_str());
    EXPECT_EQ(ReadHeaderAndCrc(*s), 0);
    SideInfo si = start;
    ReadSideInfo(*s, si);
    CloseInput(*s);
    return {si, s->header_reader.bit_pos};
}

TEST(SideInfo, ConsumesExactlyTheBytesOfEachLayout) {
    struct Case {
        int id, mode, end_bit;
    } cases[] = {{1, 1, 256}, {1, 3, 136}, {0, 1, 136}, {0, 3, 72}};
    for (const Case& c : cases) {
        for (bool ws : {false, true}) {
            HeaderSpec h;
            h.id = c.id;
            h.mode = c.mode;
            h.bitrate_index = c.id ? 9 : 8;
            EXPECT_EQ(Parse(h, Sample(h, ws)).end_bit, c.end_bit) << c.id << " " << c.mode << " " << ws;
        }
    }
}

TEST(SideInfo, FieldsReadBackAsWritten) {
    for (bool ws : {false, true}) {
        HeaderSpec h;
        const SideInfo written = Sample(h, ws);
        const SideInfo got = Parse(h, written, SideInfo{}).si;
        EXPECT_EQ(std::memcmp(&got, &written, sizeof got), 0) << "window switching " << ws;
    }
}

TEST(SideInfo, MainDataBeginAlwaysFromTheFirstByte) {
    HeaderSpec h;
    h.protection_bit = 0;
    SideInfo si{};
    si.main_data_begin = 37;  // bytes 0x12 0x80
    EXPECT_EQ(SideInfoBytes(h, si)[0], 0x12);
    EXPECT_EQ(Parse(h, si).si.main_data_begin, 37);
    HeaderSpec lsf;
    lsf.id = 0;
    lsf.bitrate_index = 8;
    lsf.protection_bit = 0;
    si.main_data_begin = 18;  // byte 0x12
    EXPECT_EQ(Parse(lsf, si).si.main_data_begin, 18);
}

TEST(SideInfo, EntriesAFrameDoesNotCarryKeepTheirValues) {
    HeaderSpec lsf;
    lsf.id = 0;
    lsf.bitrate_index = 8;
    const SideInfo a = Parse(lsf, Sample(lsf, false)).si;
    for (int ch = 0; ch < 2; ++ch) {
        for (int b = 0; b < 4; ++b) EXPECT_EQ(a.scfsi[ch][b], kStale);
        EXPECT_EQ(a.preflag[0][ch], kStale) << "LSF preflag is set by the scale factors";
        EXPECT_EQ(a.part2_3_length[1][ch], kStale);
        EXPECT_EQ(a.table_select[1][ch][2], kStale);
        // Long granule: block type, mixed flag and subblock gains are not
        // transmitted and read as 0, never as an earlier granule's values.
        EXPECT_EQ(a.block_type[0][ch], 0);
        EXPECT_EQ(a.mixed_block_flag[0][ch], 0);
        EXPECT_EQ(a.subblock_gain[0][ch][1], 0);
    }
    HeaderSpec mono;
    mono.mode = 3;
    const SideInfo m = Parse(mono, Sample(mono, true)).si;
    for (int gr = 0; gr < 2; ++gr) {
        EXPECT_EQ(m.part2_3_length[gr][1], kStale);
        EXPECT_EQ(m.global_gain[gr][1], kStale);
        // Window switching: table_select[2] is 0 and the region counts are untouched.
        EXPECT_EQ(m.table_select[gr][0][2], 0);
        EXPECT_EQ(m.region0_count[gr][0], kStale);
        EXPECT_EQ(m.region1_count[gr][0], kStale);
    }
    EXPECT_EQ(m.scfsi[1][0], kStale);
}

}  // namespace
}  // namespace quv3::test
