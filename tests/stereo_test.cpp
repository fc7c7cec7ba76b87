#include <gtest/gtest.h>

#include "decoder/layer3/stereo.h"
#include "decoder/tables/quant_tables.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

// A joint-stereo granule at unit gain (global_gain 210, scale factors 0).
std::unique_ptr<StageState> Joint(int id, int mode_extension) {
    auto s = NewState(id, 0);
    s->header.mode = 1;
    s->header.mode_extension = mode_extension;
    for (int ch = 0; ch < 2; ++ch) s->side_info.global_gain[0][ch] = 210;
    return s;
}

const float k2 = kPow43Table[2];  // 2^(4/3)

TEST(MidSide, LongGranuleUpToTheLongerChannel) {
    auto s = Joint(1, 2);
    for (int i = 0; i < 100; ++i) s->quantized.QuantizedValues[0][i] = 2;
    for (int i = 0; i < 300; ++i) s->quantized.QuantizedValues[1][i] = 1;
    s->quantized.decoded_line_count[0] = 100;
    s->quantized.decoded_line_count[1] = 300;
    for (float& v : s->spectrum.SpectralSamples[1]) v = 5.0f;
    JointStereo(*s, 0);
    const double m = 0.707106781188;
    EXPECT_EQ(s->spectrum.SpectralSamples[0][50], static_cast<float>((k2 + 1.0) * m));
    EXPECT_EQ(s->spectrum.SpectralSamples[1][50], static_cast<float>((k2 - 1.0) * m));
    EXPECT_EQ(s->spectrum.SpectralSamples[0][200], static_cast<float>(1.0 * m));
    EXPECT_EQ(s->spectrum.SpectralSamples[1][200], static_cast<float>(-1.0 * m));
    for (int i = 300; i < 576; ++i) {
        ASSERT_EQ(s->spectrum.SpectralSamples[0][i], 0.0f);
        ASSERT_EQ(s->spectrum.SpectralSamples[1][i], 0.0f);
    }
    EXPECT_EQ(s->stereo_subbands, 17);
}

// Left value 2.0 everywhere above line 100; the right channel carries content
// below it only, so intensity starts at the next band boundary.
std::unique_ptr<StageState> IntensityGranule(int id, int ext, int position) {
    auto s = Joint(id, ext);
    for (int i = 0; i < 576; ++i) s->quantized.QuantizedValues[0][i] = 1;  // 1.0, doubled by global gain
    for (int ch = 0; ch < 2; ++ch) s->side_info.global_gain[0][ch] = 214;  // factor 2
    s->quantized.QuantizedValues[1][100] = 1;
    s->quantized.decoded_line_count[0] = 576;
    s->quantized.decoded_line_count[1] = 102;
    for (int b = 0; b < 22; ++b) s->scale_factors.scalefac_l[0][1][b] = position;
    for (int b = 0; b < 22; ++b) s->scale_factors.largest_intensity_position[b] = 15;
    return s;
}

TEST(IntensityMpeg1, PositionsShareTheLeftSignal) {
    const int line = 300;  // band 18 at 44.1 kHz
    struct Case {
        int position;
        float left, right;
    } cases[] = {{3, 1.0f, 1.0f}, {0, 0.0f, 2.0f}, {6, 2.0f, 0.0f}};
    for (const Case& c : cases) {
        auto s = IntensityGranule(1, 1, c.position);
        JointStereo(*s, 0);
        EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][line], c.left) << c.position;
        EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[1][line], c.right) << c.position;
    }
    // Position 7 is illegal: left/right with mode extension 1, mid/side with 3.
    auto lr = IntensityGranule(1, 1, 7);
    JointStereo(*lr, 0);
    EXPECT_EQ(lr->spectrum.SpectralSamples[0][line], 2.0f);
    EXPECT_EQ(lr->spectrum.SpectralSamples[1][line], 0.0f);
    auto ms = IntensityGranule(1, 3, 7);
    JointStereo(*ms, 0);
    EXPECT_EQ(ms->spectrum.SpectralSamples[0][line], static_cast<float>(2.0 * 0.707106781188));
    EXPECT_EQ(ms->spectrum.SpectralSamples[1][line], static_cast<float>(2.0 * 0.707106781188));
}

TEST(IntensityMpeg1, BoundFollowsTheRightChannel) {
    auto s = IntensityGranule(1, 1, 3);
    JointStereo(*s, 0);
    // Line 100 lies in band 13 (90..109): that band is still left/right.
    EXPECT_EQ(s->spectrum.SpectralSamples[0][105], 2.0f);
    EXPECT_EQ(s->spectrum.SpectralSamples[1][105], 0.0f);
    EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[1][110], 1.0f);
    EXPECT_EQ(s->stereo_subbands, 32);
    // A silent right channel: band 0 stays left/right, intensity from band 1.
    auto z = IntensityGranule(1, 1, 3);
    z->quantized.QuantizedValues[1][100] = 0;
    JointStereo(*z, 0);
    EXPECT_EQ(z->spectrum.SpectralSamples[1][3], 0.0f);
    EXPECT_FLOAT_EQ(z->spectrum.SpectralSamples[1][4], 1.0f);
}

TEST(IntensityLsf, PositionsScaleOneSide) {
    const int line = 300;
    auto odd = IntensityGranule(0, 1, 5);
    odd->scale_factors.intensity_scale = 0;
    JointStereo(*odd, 0);
    EXPECT_EQ(odd->spectrum.SpectralSamples[0][line], 2.0f * 0.594604f);
    EXPECT_EQ(odd->spectrum.SpectralSamples[1][line], 2.0f);
    auto even = IntensityGranule(0, 1, 4);
    even->scale_factors.intensity_scale = 0;
    JointStereo(*even, 0);
    EXPECT_EQ(even->spectrum.SpectralSamples[0][line], 2.0f);
    EXPECT_EQ(even->spectrum.SpectralSamples[1][line], 2.0f * 0.707107f);
    auto scale1 = IntensityGranule(0, 1, 4);
    scale1->scale_factors.intensity_scale = 1;
    JointStereo(*scale1, 0);
    EXPECT_EQ(scale1->spectrum.SpectralSamples[1][line], 2.0f * 0.5f);  // 2^(-4/2)
    // The largest value the band could carry means: no intensity.
    auto illegal = IntensityGranule(0, 1, 15);
    JointStereo(*illegal, 0);
    EXPECT_EQ(illegal->spectrum.SpectralSamples[0][line], 2.0f);
    EXPECT_EQ(illegal->spectrum.SpectralSamples[1][line], 0.0f);
    // A silent right channel makes the whole granule intensity (band 0 too).
    auto z = IntensityGranule(0, 1, 2);
    z->quantized.QuantizedValues[1][100] = 0;
    JointStereo(*z, 0);
    EXPECT_EQ(z->spectrum.SpectralSamples[1][0], 2.0f * 0.840896f);
}

TEST(IntensityBand21, RepeatsBand20) {
    for (int id : {0, 1}) {
        auto s = IntensityGranule(id, 1, 2);
        s->scale_factors.scalefac_l[0][1][21] = 0;
        JointStereo(*s, 0);
        EXPECT_EQ(s->spectrum.SpectralSamples[1][570], s->spectrum.SpectralSamples[1][s->bands.LongBandEnds[20]]) << id;
        EXPECT_EQ(s->spectrum.SpectralSamples[0][570], s->spectrum.SpectralSamples[0][s->bands.LongBandEnds[20]]) << id;
    }
    // Band 21 alone in the intensity region: MPEG-1 leaves it left/right, LSF
    // shares the left signal fully (position 0).
    for (int id : {0, 1}) {
        auto s = IntensityGranule(id, 1, 2);
        s->quantized.QuantizedValues[1][100] = 0;
        s->quantized.QuantizedValues[1][s->bands.LongBandEnds[20]] = 1;
        s->quantized.decoded_line_count[1] = 576;
        JointStereo(*s, 0);
        EXPECT_EQ(s->spectrum.SpectralSamples[1][570], id == 1 ? 0.0f : 2.0f) << id;
        EXPECT_EQ(s->spectrum.SpectralSamples[0][570], 2.0f) << id;
    }
}

TEST(IntensityShort, LsfBoundsPerWindowMpeg1Shared) {
    for (int id : {0, 1}) {
        auto s = Joint(id, 1);
        SideInfo& si = s->side_info;
        for (int ch = 0; ch < 2; ++ch) {
            si.window_switching_flag[0][ch] = 1;
            si.block_type[0][ch] = 2;
        }
        for (int i = 0; i < 576; ++i) s->quantized.QuantizedValues[0][i] = 1;
        // Right content only in band 5, window 1 (bitstream lines of band 5 at 44.1 kHz: 3 x 16 .. 3 x 21 + 2).
        const int width = s->bands.ShortBandEnds[5] - s->bands.ShortBandEnds[4];
        s->quantized.QuantizedValues[1][3 * (s->bands.ShortBandEnds[4] + 1) + width] = 1;
        s->quantized.decoded_line_count[0] = 576;
        s->quantized.decoded_line_count[1] = 3 * (s->bands.ShortBandEnds[5] + 1);
        for (int b = 0; b < 13; ++b)
            for (int w = 0; w < 3; ++w) s->scale_factors.scalefac_s[0][1][b][w] = 1;
        for (int b = 0; b < 22; ++b) s->scale_factors.largest_intensity_position[b] = 7;
        const IntensityBounds found = FindIntensityBounds(s->quantized, s->side_info, s->bands, s->header, 0);
        const int32_t* bound = found.bound;
        const int32_t own = s->bands.ShortBandEnds[5] + 1;
        if (id == 0) {
            EXPECT_EQ(bound[0], -1);
            EXPECT_EQ(bound[1], own);
            EXPECT_EQ(bound[2], -1);
        } else {
            EXPECT_EQ(bound[0], own);
            EXPECT_EQ(bound[1], own);
            EXPECT_EQ(bound[2], own);
        }
        EXPECT_EQ(found.subbands, 32);
    }
}

TEST(IntensityShort, RightContentInBandZeroKeepsItOutOfIntensity) {
    auto s = Joint(0, 1);
    for (int ch = 0; ch < 2; ++ch) {
        s->side_info.window_switching_flag[0][ch] = 1;
        s->side_info.block_type[0][ch] = 2;
    }
    s->quantized.QuantizedValues[1][2] = 1;  // band 0, window 0
    s->quantized.decoded_line_count[1] = 12;
    s->quantized.decoded_line_count[0] = 576;
    const IntensityBounds found = FindIntensityBounds(s->quantized, s->side_info, s->bands, s->header, 0);
    const int32_t* bound = found.bound;
    EXPECT_EQ(bound[0], s->bands.ShortBandEnds[0] + 1);
    EXPECT_EQ(bound[1], -1);
    EXPECT_EQ(bound[2], -1);
}

}  // namespace
}  // namespace quv3::test
