#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "decoder/layer3/dequantize.h"
#include "decoder/tables/quant_tables.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

TEST(GainFactor, QuarterPowersOfTwo) {
    for (int32_t a = -127; a <= 45; ++a) {
        const float g = LongGainFactor(0, 210 + a, 0, 0, 0);
        EXPECT_FLOAT_EQ(g, static_cast<float>(std::exp2(a / 4.0))) << a;
    }
    EXPECT_EQ(LongGainFactor(0, 210, 0, 0, 0), 1.0f);
    EXPECT_GT(LongGainFactor(0, 83, 0, 0, 0), 0.0f);  // A = -127: 2^-31.75
    EXPECT_EQ(LongGainFactor(0, 82, 0, 0, 0), 0.0f);  // A = -128
    EXPECT_EQ(LongGainFactor(0, 210, 1, 40, 0), 0.0f);  // 210 - 210 - 4 x 40 = -160
    // pretab: band 11 adds 1 step of m = 2.
    EXPECT_EQ(LongGainFactor(11, 200, 0, 0, 1), LongGainFactor(0, 198, 0, 0, 0));
    EXPECT_EQ(LongGainFactor(17, 220, 1, 1, 1), LongGainFactor(0, 220 - 4 - 12, 0, 0, 0));
    // Short windows: 8 per subblock_gain step, m per scale-factor step.
    EXPECT_EQ(ShortGainFactor(230, 2, 0, 1), LongGainFactor(0, 230 - 16 - 2, 0, 0, 0));
}

// q^(4/3) x g with the sign of q, and +0.0 for q = 0 whatever the gain.
TEST(DequantizeChannel, SignAndZero) {
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) {
        auto s = NewState();
        s->kernels = &KernelsAt(level);
        const int32_t q[6] = {8, -8, 0, 0, 5, 8206};
        for (int i = 0; i < 6; ++i) s->quantized.QuantizedValues[0][i] = q[i];
        s->quantized.decoded_line_count[0] = 6;
        s->side_info.global_gain[0][0] = 210;  // band 0 (lines 0..3): gain 1.0
        s->side_info.scalefac_scale[0][0] = 1;
        s->scale_factors.scalefac_l[0][0][1] = 40;  // band 1 (lines 4..7): 210 - 210 - 160, gain 0.0
        Dequantize(*s, 0, 0);
        const float* x = s->spectrum.SpectralSamples[0];
        EXPECT_EQ(x[0], 16.0f) << level;
        EXPECT_EQ(x[1], -16.0f) << level;
        EXPECT_FALSE(std::signbit(x[2])) << level;
        EXPECT_EQ(x[4], 0.0f) << level;
        EXPECT_EQ(x[5], 0.0f) << level;
        s->scale_factors.scalefac_l[0][0][1] = 0;
        Dequantize(*s, 0, 0);
        EXPECT_FLOAT_EQ(x[5], static_cast<float>(std::pow(8206.0, 4.0 / 3.0))) << level;
    }
}

TEST(DequantizeChannel, LongBandsTakeTheirOwnScaleFactor) {
    auto s = NewState();
    SideInfo& si = s->side_info;
    si.global_gain[0][0] = 210;
    for (int b = 0; b < 22; ++b) s->scale_factors.scalefac_l[0][0][b] = b % 5;
    for (int i = 0; i < 576; ++i) s->quantized.QuantizedValues[0][i] = 1;
    s->quantized.decoded_line_count[0] = 576;
    Dequantize(*s, 0, 0);
    int band = 0;
    for (int i = 0; i < 576; ++i) {
        EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][i], static_cast<float>(std::exp2(-(band % 5) / 2.0))) << i;
        if (i == s->bands.LongBandEnds[band]) ++band;
    }
    // N = 0: everything is zero.
    s->quantized.decoded_line_count[0] = 0;
    Dequantize(*s, 0, 0);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(s->spectrum.SpectralSamples[0][i], 0.0f);
}

TEST(DequantizeChannel, ShortLinesLandAtTheirReorderedPositions) {
    auto s = NewState();
    SideInfo& si = s->side_info;
    si.global_gain[0][0] = 210;
    si.window_switching_flag[0][0] = 1;
    si.block_type[0][0] = 2;
    si.subblock_gain[0][0][1] = 1;  // window 1 is 8 steps (a factor 4) quieter
    s->quantized.QuantizedValues[0][12] = 8;  // band 1, window 0, first line
    s->quantized.QuantizedValues[0][16] = 8;  // band 1, window 1, first line
    s->quantized.decoded_line_count[0] = 20;
    Dequantize(*s, 0, 0);
    EXPECT_EQ(s->spectrum.SpectralSamples[0][4], 16.0f);
    EXPECT_EQ(s->spectrum.SpectralSamples[0][10], 4.0f);
    int nonzero = 0;
    for (int i = 0; i < 576; ++i) nonzero += s->spectrum.SpectralSamples[0][i] != 0.0f;
    EXPECT_EQ(nonzero, 2);
}

TEST(DequantizeChannel, MixedBlocksSplitAtLine36) {
    auto s = NewState();
    SideInfo& si = s->side_info;
    si.global_gain[0][0] = 210;
    si.window_switching_flag[0][0] = 1;
    si.block_type[0][0] = 2;
    si.mixed_block_flag[0][0] = 1;
    si.preflag[0][0] = 1;  // no effect below line 36
    for (int b = 0; b < 8; ++b) s->scale_factors.scalefac_l[0][0][b] = 2;  // factor 1/2
    s->scale_factors.scalefac_s[0][0][3][2] = 4;  // factor 1/4
    s->quantized.QuantizedValues[0][35] = 8;
    s->quantized.QuantizedValues[0][44] = 8;  // band 3 (4 wide) window 2, first line: window line 12
    s->quantized.decoded_line_count[0] = 48;
    Dequantize(*s, 0, 0);
    EXPECT_EQ(s->spectrum.SpectralSamples[0][35], 8.0f);
    const int pos = (12 / 6) * 18 + 2 * 6 + 12 % 6;
    EXPECT_EQ(s->spectrum.SpectralSamples[0][pos], 4.0f);
    // N = 0 still writes the long part (as zeros) and clears the rest.
    for (float& v : s->spectrum.SpectralSamples[0]) v = 7.0f;
    s->quantized.decoded_line_count[0] = 0;
    for (int& q : s->quantized.QuantizedValues[0]) q = 0;
    Dequantize(*s, 0, 0);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(s->spectrum.SpectralSamples[0][i], 0.0f) << i;
}

// 8000 Hz (MPEG 2.5, which no standard defines mixed blocks for) has 8-line
// short bands: short band 3 begins at line 72, and a mixed granule's long part
// is long bands 0..5 (lines 0..71), as many as the six long scale factors an
// LSF mixed granule carries.
TEST(DequantizeChannel, Mpeg25At8000HzMixedBlocksSplitAtLine72) {
    auto s = NewState(0, 2, 1);
    ASSERT_EQ(s->bands.mixed_long_lines, 72);
    EXPECT_EQ(NewState(0, 2)->bands.mixed_long_lines, 36) << "16000 Hz";
    SideInfo& si = s->side_info;
    si.global_gain[0][0] = 210;
    si.window_switching_flag[0][0] = 1;
    si.block_type[0][0] = 2;
    si.mixed_block_flag[0][0] = 1;
    s->scale_factors.scalefac_l[0][0][5] = 2;  // long band 5 (lines 60..71): factor 1/2
    s->scale_factors.scalefac_s[0][0][3][1] = 4;  // short band 3 (12 wide), window 1: factor 1/4
    s->quantized.QuantizedValues[0][65] = 8;  // stays in place
    s->quantized.QuantizedValues[0][84] = 8;  // short band 3, window 1, first line: window line 24
    s->quantized.decoded_line_count[0] = 96;
    Dequantize(*s, 0, 0);
    EXPECT_EQ(s->spectrum.SpectralSamples[0][65], 8.0f);
    const int pos = (24 / 6) * 18 + 1 * 6 + 24 % 6;
    EXPECT_EQ(s->spectrum.SpectralSamples[0][pos], 4.0f);
    int nonzero = 0;
    for (int i = 0; i < 576; ++i) nonzero += s->spectrum.SpectralSamples[0][i] != 0.0f;
    EXPECT_EQ(nonzero, 2);
}

// The vector kernels against q^(4/3) x g written out with the table, line by
// line (DequantizeSample's specified form): every magnitude the escape coding
// allows, zeros, gains down to 0.0 and every line count, at each level. A
// third of the trials keep every magnitude below 16, the range some levels
// look up in registers, and a third below 32.
TEST(DequantizeChannel, EveryKernelLevelGivesTheTableProducts) {
    std::mt19937 rng(23);
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) {
        auto s = NewState();
        s->kernels = &KernelsAt(level);
        SideInfo& si = s->side_info;
        for (int trial = 0; trial < 300; ++trial) {
            si.global_gain[0][0] = static_cast<int32_t>(rng() % 256);
            si.scalefac_scale[0][0] = static_cast<int32_t>(rng() % 2);
            si.preflag[0][0] = static_cast<int32_t>(rng() % 2);
            for (int b = 0; b < 22; ++b) s->scale_factors.scalefac_l[0][0][b] = static_cast<int32_t>(rng() % 16);
            const int32_t n = static_cast<int32_t>(rng() % 577);
            for (int i = 0; i < 578; ++i) {
                const uint32_t r = rng();
                const int32_t top = trial % 3 == 0 ? 16 : trial % 3 == 1 ? 32 : 8207;
                int32_t mag = r % 4 == 0 ? 0 : r % 4 == 1 ? static_cast<int32_t>(r >> 8) % 16
                                                            : static_cast<int32_t>(r >> 8) % top;
                s->quantized.QuantizedValues[0][i] = i < n ? (r & 128 ? -mag : mag) : 0;
            }
            s->quantized.decoded_line_count[0] = n;
            Dequantize(*s, 0, 0);
            int band = 0;
            for (int i = 0; i < 576; ++i) {
                const int32_t q = s->quantized.QuantizedValues[0][i];
                const float g = LongGainFactor(band, si.global_gain[0][0], si.scalefac_scale[0][0],
                                               s->scale_factors.scalefac_l[0][0][band], si.preflag[0][0]);
                const float want = q == 0 ? 0.0f : q > 0 ? kPow43Table[q] * g : -(kPow43Table[-q] * g);
                const float got = s->spectrum.SpectralSamples[0][i];
                ASSERT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(want))
                    << "level " << level << " trial " << trial << " line " << i << " q " << q;
                if (i == s->bands.LongBandEnds[band] && band < 21) ++band;
            }
        }
    }
}

}  // namespace
}  // namespace quv3::test
