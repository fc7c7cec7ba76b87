#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decoder/layer3/imdct.h"
#include "decoder/tables/transform_tables.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

const double kPi = std::acos(-1.0);

void DirectImdct36(const float* in, double* out) {
    for (int i = 0; i < 36; ++i) {
        double sum = 0;
        for (int k = 0; k < 18; ++k) sum += in[k] * std::cos(kPi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
        out[i] = sum;
    }
}

void DirectImdct12Windowed(const float* in, double* out) {
    for (int i = 0; i < 12; ++i) {
        double sum = 0;
        for (int k = 0; k < 6; ++k) sum += in[k] * std::cos(kPi / 24 * (2 * i + 1 + 6) * (2 * k + 1));
        out[i] = sum * std::sin(kPi / 12 * (i + 0.5));
    }
}

TEST(ImdctWindows, RowsOfTheFourBlockTypes) {
    const float(*w)[36] = kImdctWindows;
    for (int n = 0; n < 36; ++n) {
        EXPECT_NEAR(w[0][n], std::sin(kPi / 36 * (n + 0.5)), 1e-7);
        EXPECT_EQ(w[2][n], 0.0f);
    }
    for (int n = 18; n < 24; ++n) EXPECT_EQ(w[1][n], 1.0f);
    for (int n = 30; n < 36; ++n) EXPECT_EQ(w[1][n], 0.0f);
    for (int n = 0; n < 6; ++n) EXPECT_EQ(w[3][n], 0.0f);
    for (int n = 12; n < 18; ++n) EXPECT_EQ(w[3][n], 1.0f);
    for (int n = 24; n < 30; ++n) EXPECT_NEAR(w[1][n], std::sin(kPi / 12 * (n - 18 + 0.5)), 5e-7);  // the step literal is rounded
    for (int n = 6; n < 12; ++n) EXPECT_NEAR(w[3][n], std::sin(kPi / 12 * (n - 6 + 0.5)), 5e-7);
}

// One subband of channel ch through the transform, at the state's kernel level.
void Transform(StageState& s, int block_type, int sb, int ch) {
    InverseTransformSubbands(*s.kernels, s.spectrum.SpectralSamples[ch], block_type, sb, sb + 1,
                             s.transform.OverlapBuffer[ch], s.transform.SubbandSamples);
}

float& Overlap(StageState& s, int ch, int sb, int t) { return OverlapValue(s.transform.OverlapBuffer[ch], sb, t); }

// Block type 0 with a zero overlap: w0[t] x[t] out, w0[18 + t] x[18 + t] kept,
// x the 36-point IMDCT written as its defining sum.
TEST(InverseTransform, NormalWindowMatchesTheDefiningSum) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    for (int trial = 0; trial < 50; ++trial) {
        auto s = NewState();
        float in[18];
        for (int k = 0; k < 18; ++k) s->spectrum.SpectralSamples[0][18 * 4 + k] = in[k] = u(rng);
        Transform(*s, 0, 4, 0);
        double x[36];
        DirectImdct36(in, x);
        for (int t = 0; t < 18; ++t) {
            EXPECT_NEAR(s->transform.SubbandSamples[4][t], kImdctWindows[0][t] * x[t], 2e-6 * 18 * 1000) << t;
            EXPECT_NEAR(Overlap(*s, 0, 4, t), kImdctWindows[0][18 + t] * x[18 + t], 2e-6 * 18 * 1000) << t;
        }
    }
}

TEST(InverseTransform, OddSubbandsNegateOddSamplesButNotTheOverlap) {
    auto s = NewState();
    for (int t = 0; t < 18; ++t) Overlap(*s, 1, 3, t) = static_cast<float>(t + 1);
    s->spectrum.SpectralSamples[1][18 * 3 + 2] = 1.0f;
    Transform(*s, 0, 3, 1);
    float even[18], overlap_odd[18];
    for (int t = 0; t < 18; ++t) overlap_odd[t] = Overlap(*s, 1, 3, t);
    auto e = NewState();
    for (int t = 0; t < 18; ++t) Overlap(*e, 1, 2, t) = static_cast<float>(t + 1);
    e->spectrum.SpectralSamples[1][18 * 2 + 2] = 1.0f;
    Transform(*e, 0, 2, 1);
    for (int t = 0; t < 18; ++t) even[t] = e->transform.SubbandSamples[2][t];
    for (int t = 0; t < 18; ++t) {
        EXPECT_EQ(s->transform.SubbandSamples[3][t], t % 2 ? -even[t] : even[t]) << t;
        EXPECT_EQ(overlap_odd[t], Overlap(*e, 1, 2, t)) << t;
    }
}

TEST(InverseTransform, ShortBlocksStartWithTheOverlapAndLeaveSixZeros) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    auto s = NewState();
    for (int t = 0; t < 18; ++t) Overlap(*s, 0, 7, t) = u(rng);
    for (int k = 0; k < 18; ++k) s->spectrum.SpectralSamples[0][18 * 7 + k] = u(rng);
    float ov[18];
    for (int t = 0; t < 18; ++t) ov[t] = Overlap(*s, 0, 7, t);
    Transform(*s, 2, 7, 0);
    for (int t = 0; t < 6; ++t) EXPECT_EQ(s->transform.SubbandSamples[7][t], t % 2 ? -ov[t] : ov[t]);
    for (int t = 12; t < 18; ++t) EXPECT_EQ(Overlap(*s, 0, 7, t), 0.0f);
    // The three windows overlap-add: window 0's block starts at 6, window 1's at 12, window 2's at 18.
    double y[3][12];
    for (int w = 0; w < 3; ++w) DirectImdct12Windowed(&s->spectrum.SpectralSamples[0][18 * 7 + 6 * w], y[w]);
    for (int t = 6; t < 12; ++t) {
        const double expect = ov[t] + y[0][t - 6];
        EXPECT_NEAR(s->transform.SubbandSamples[7][t], t % 2 ? -expect : expect, 1e-5);
    }
    EXPECT_NEAR(Overlap(*s, 0, 7, 0), y[1][6] + y[2][0], 1e-5);
}

TEST(InverseTransform, ZeroLinesPassTheOverlapThrough) {
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) {
        auto s = NewState();
        auto t = NewState();
        t->kernels = &KernelsAt(level);
        for (int k = 0; k < 18; ++k) Overlap(*s, 0, 9, k) = Overlap(*t, 0, 9, k) = 0.25f * k;
        Transform(*s, 0, 9, 0);
        Transform(*t, kOverlapOnly, 9, 0);
        for (int k = 0; k < 18; ++k) {
            EXPECT_EQ(s->transform.SubbandSamples[9][k], t->transform.SubbandSamples[9][k]) << level;
            EXPECT_EQ(t->transform.SubbandSamples[9][k], k % 2 ? -0.25f * k : 0.25f * k) << level;
            EXPECT_EQ(Overlap(*t, 0, 9, k), 0.0f) << level;
            EXPECT_EQ(Overlap(*s, 0, 9, k), 0.0f) << level;
        }
    }
}

// Every kernel level (one to eight subbands per vector) against the plain level
// one subband at a time, bit for bit: every block type, runs starting at 0 and 2
// (mixed blocks), partial last vectors, an overlap carried over granules.
TEST(InverseTransform, EveryLevelEqualsThePlainLevel) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-3000.0f, 3000.0f);
    for (int32_t level = 1; level <= CpuKernelLevel(); ++level) {
        auto batched = NewState();
        auto single = NewState();
        batched->kernels = &KernelsAt(level);
        for (int granule = 0; granule < 40; ++granule) {
            const int block_type = static_cast<int>(rng() % 5);  // 4: kOverlapOnly
            const int first = rng() % 3 == 0 ? 2 : 0;
            const int end = first + 1 + static_cast<int>(rng() % (32 - first));
            for (int i = 0; i < 576; ++i)
                batched->spectrum.SpectralSamples[1][i] = single->spectrum.SpectralSamples[1][i] = u(rng);
            // Rows outside first .. end - 1 must keep what they hold.
            for (int sb = 0; sb < 32; ++sb)
                for (int t = 0; t < 18; ++t)
                    batched->transform.SubbandSamples[sb][t] = single->transform.SubbandSamples[sb][t] = u(rng);
            InverseTransformSubbands(*batched->kernels, batched->spectrum.SpectralSamples[1], block_type, first, end,
                                     batched->transform.OverlapBuffer[1], batched->transform.SubbandSamples);
            for (int sb = first; sb < end; ++sb) Transform(*single, block_type, sb, 1);
            for (int sb = 0; sb < 32; ++sb) {
                for (int t = 0; t < 18; ++t) {
                    ASSERT_EQ(batched->transform.SubbandSamples[sb][t], single->transform.SubbandSamples[sb][t])
                        << "level " << level << " granule " << granule << " subband " << sb << " sample " << t;
                    ASSERT_EQ(Overlap(*batched, 1, sb, t), Overlap(*single, 1, sb, t));
                    ASSERT_EQ(Overlap(*batched, 0, sb, t), 0.0f) << "the other channel is not touched";
                }
            }
        }
    }
}

TEST(AliasReduce, ButterfliesAcrossEveryBoundary) {
    auto s = NewState();
    s->spectrum.SpectralSamples[0][17] = 1.0f;  // boundary 1, i = 0: lo
    s->spectrum.SpectralSamples[0][18] = 2.0f;  // hi
    s->spectrum.SpectralSamples[0][18 * 31 + 7] = 3.0f;  // boundary 31, i = 7: hi only
    AliasReduce(s->spectrum.SpectralSamples[0], 31);
    EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][17], 1.0f * kAliasCs[0] - 2.0f * kAliasCa[0]);
    EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][18], 2.0f * kAliasCs[0] + 1.0f * kAliasCa[0]);
    EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][18 * 31 + 7], 3.0f * kAliasCs[7]);
    EXPECT_FLOAT_EQ(s->spectrum.SpectralSamples[0][18 * 31 - 8], -3.0f * kAliasCa[7]);
    // Limited to the first boundary (mixed blocks), nothing above line 25 moves.
    auto m = NewState();
    m->spectrum.SpectralSamples[0][36] = 1.0f;
    AliasReduce(m->spectrum.SpectralSamples[0], 1);
    EXPECT_EQ(m->spectrum.SpectralSamples[0][35], 0.0f);
    EXPECT_EQ(m->spectrum.SpectralSamples[0][36], 1.0f);
}

}  // namespace
}  // namespace quv3::test
