#include <gtest/gtest.h>

#include "decoder/layer3/scale_factors.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

// Scale factors with value (index % (2^width)) so the reads can be checked.
BitWriter Ramp(int count, int width) {
    BitWriter w;
    for (int i = 0; i < count; ++i) w.Put(width ? i % (1 << width) : 0, width);
    return w;
}

TEST(ScaleFactorsMpeg1, CompressZeroReadsNothing) {
    auto s = NewState();
    s->side_info.scalefac_compress[0][0] = 0;
    s->side_info.window_switching_flag[0][0] = 0;
    s->scale_factors.scalefac_l[0][0][3] = 9;
    LoadMainData(s->main_data, Ramp(40, 4));
    EXPECT_EQ(ReadScaleFactors(s->main_data, s->side_info, s->header, 0, 0, s->scale_factors), 0);
    EXPECT_EQ(s->main_data.bit_pos, 0);
    for (int b = 0; b < 22; ++b) EXPECT_EQ(s->scale_factors.scalefac_l[0][0][b], 0);
}

TEST(ScaleFactorsMpeg1, Granule1ReusesTheGroupsScfsiMarks) {
    auto s = NewState();
    SideInfo& si = s->side_info;
    si.scalefac_compress[1][0] = 15;  // slen 4 and 3
    si.window_switching_flag[1][0] = 0;
    const int scfsi[4] = {1, 0, 1, 0};
    for (int g = 0; g < 4; ++g) si.scfsi[0][g] = scfsi[g];
    for (int b = 0; b < 22; ++b) s->scale_factors.scalefac_l[0][0][b] = 100 + b;
    BitWriter w;
    for (int b = 6; b < 11; ++b) w.Put(b, 4);   // group 1, slen1
    for (int b = 16; b < 21; ++b) w.Put(b - 16, 3);  // group 3, slen2
    LoadMainData(s->main_data, w);
    EXPECT_EQ(ReadScaleFactors(s->main_data, s->side_info, s->header, 1, 0, s->scale_factors), 35);
    const int32_t* l = s->scale_factors.scalefac_l[1][0];
    for (int b = 0; b < 6; ++b) EXPECT_EQ(l[b], 100 + b);
    for (int b = 6; b < 11; ++b) EXPECT_EQ(l[b], b);
    for (int b = 11; b < 16; ++b) EXPECT_EQ(l[b], 100 + b);
    for (int b = 16; b < 21; ++b) EXPECT_EQ(l[b], b - 16);
    EXPECT_EQ(l[21], 0);
    // Granule 0 ignores scfsi.
    si.scalefac_compress[0][0] = 15;
    si.window_switching_flag[0][0] = 0;
    LoadMainData(s->main_data, Ramp(21, 4));
    EXPECT_EQ(ReadScaleFactors(s->main_data, s->side_info, s->header, 0, 0, s->scale_factors), 11 * 4 + 10 * 3);
}

TEST(ScaleFactorsMpeg1, MixedAndShortBlocks) {
    auto s = NewState();
    SideInfo& si = s->side_info;
    si.scalefac_compress[0][0] = 10;  // slen 2 and 3
    si.window_switching_flag[0][0] = 1;
    si.block_type[0][0] = 2;
    si.mixed_block_flag[0][0] = 1;
    s->scale_factors.scalefac_s[0][0][12][1] = 5;
    BitWriter w;
    for (int b = 0; b < 8; ++b) w.Put(b & 3, 2);
    for (int k = 0; k < 9; ++k) w.Put(3 - (k & 3), 2);
    for (int k = 0; k < 18; ++k) w.Put(k & 7, 3);
    LoadMainData(s->main_data, w);
    EXPECT_EQ(ReadScaleFactors(s->main_data, s->side_info, s->header, 0, 0, s->scale_factors), 88);
    EXPECT_EQ(s->scale_factors.scalefac_l[0][0][7], 3);
    EXPECT_EQ(s->scale_factors.scalefac_s[0][0][3][0], 3);
    EXPECT_EQ(s->scale_factors.scalefac_s[0][0][5][2], 3 - (8 & 3));
    EXPECT_EQ(s->scale_factors.scalefac_s[0][0][11][2], 17 & 7);
    EXPECT_EQ(s->scale_factors.scalefac_s[0][0][12][1], 0);
    si.mixed_block_flag[0][0] = 0;
    LoadMainData(s->main_data, Ramp(36, 3));
    EXPECT_EQ(ReadScaleFactors(s->main_data, s->side_info, s->header, 0, 0, s->scale_factors), 18 * 2 + 18 * 3);
}

struct LsfCase {
    int32_t sfc;
    int channel;
    int mode_extension;
    int block;  // 0 long, 1 short, 2 mixed
    int32_t bits;
    int32_t preflag;
};

int32_t RunLsf(StageState& s, const LsfCase& c) {
    SideInfo& si = s.side_info;
    s.header.mode_extension = c.mode_extension;
    si.scalefac_compress[0][c.channel] = c.sfc;
    si.window_switching_flag[0][c.channel] = c.block != 0;
    si.block_type[0][c.channel] = c.block ? 2 : 0;
    si.mixed_block_flag[0][c.channel] = c.block == 2;
    si.preflag[0][c.channel] = 7;
    BitWriter w;
    for (int i = 0; i < 64; ++i) w.Put(0xFF, 8);
    LoadMainData(s.main_data, w);
    const int32_t bits = ReadScaleFactors(s.main_data, s.side_info, s.header, 0, c.channel, s.scale_factors);
    EXPECT_EQ(bits, static_cast<int32_t>(s.main_data.bit_pos));
    return bits;
}

TEST(ScaleFactorsLsf, BitCountsAndPreflag) {
    const LsfCase cases[] = {
        {275, 0, 0, 0, 6 * 3 + 5 * 2 + 5 * 0 + 5 * 3, 0},  // slen 3 2 0 3
        {500, 0, 0, 0, 0, 1},                              // slen 0 0 0 0, range 2
        {511, 0, 0, 0, 11 * 3 + 10 * 2, 1},                // slen 3 2 0 0
        {511, 0, 0, 2, 6 * 3 + 9 * 3 + 18 * 2, 1},         // mixed, range 2: nr 15 18 0 0
        {450, 1, 0, 1, 0, 0},                              // no intensity: normal rules, slen 2 2 2 0
        {361, 1, 1, 0, 0, 0},                              // intensity: i = 180, slen 0 0 0 0
        {510, 1, 3, 0, 8 * 3 + 8 * 2, 0},                  // intensity i = 255: continues range 2
    };
    for (const LsfCase& c : cases) {
        auto s = NewState(0, 0);
        const int32_t bits = RunLsf(*s, c);
        if (c.sfc == 450) {
            EXPECT_EQ(bits, 9 * 2 + 9 * 2 + 12 * 2) << c.sfc;  // short, range 1: nr 9 9 12 6 values
        } else {
            EXPECT_EQ(bits, c.bits) << c.sfc << " kind " << c.block;
        }
        EXPECT_EQ(s->side_info.preflag[0][c.channel], c.preflag) << c.sfc;
    }
}

TEST(ScaleFactorsLsf, IntensityRightChannelRecordsLargestPositions) {
    auto s = NewState(0, 0);
    s->scale_factors.largest_intensity_position[21] = 0;
    EXPECT_EQ(RunLsf(*s, {361, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(s->scale_factors.intensity_scale, 1);
    for (int b = 0; b < 21; ++b) EXPECT_EQ(s->scale_factors.largest_intensity_position[b], 0) << b;
    // sfc 2 x (36 x 2 + 6 x 1 + 3) + 0 = 162: slen 2 1 3, nr 7 7 7.
    EXPECT_EQ(RunLsf(*s, {162, 1, 1, 0, 7 * 2 + 7 * 1 + 7 * 3, 0}), 42);
    EXPECT_EQ(s->scale_factors.intensity_scale, 0);
    EXPECT_EQ(s->scale_factors.largest_intensity_position[0], 3);
    EXPECT_EQ(s->scale_factors.largest_intensity_position[7], 1);
    EXPECT_EQ(s->scale_factors.largest_intensity_position[20], 7);
    for (int k = 0; k < 21; ++k) {
        const int expect = k < 7 ? 3 : k < 14 ? 1 : 7;
        EXPECT_EQ(s->scale_factors.scalefac_l[0][1][k], expect) << k;  // all-ones input
    }
    // A one-channel stream never writes them.
    auto mono = NewState(0, 0);
    mono->scale_factors.largest_intensity_position[3] = 42;
    RunLsf(*mono, {162, 0, 1, 0, 7 * 2 + 5 * 1, 0});
    EXPECT_EQ(mono->scale_factors.largest_intensity_position[3], 42);
}

}  // namespace
}  // namespace quv3::test
