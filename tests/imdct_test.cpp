#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decoder/layer3/layer3.h"
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

TEST(Imdct, LongTransformMatchesTheDefiningSum) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    for (int trial = 0; trial < 200; ++trial) {
        float in[18];
        for (float& v : in) v = u(rng);
        float fast[36];
        double ref[36];
        Imdct36(in, fast);
        DirectImdct36(in, ref);
        for (int i = 0; i < 36; ++i) ASSERT_NEAR(fast[i], ref[i], 2e-6 * 18 * 1000) << trial << " " << i;
    }
}

TEST(Imdct, ShortTransformMatchesTheDefiningSumWithItsWindow) {
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    for (int trial = 0; trial < 200; ++trial) {
        float in[6];
        for (float& v : in) v = u(rng);
        float fast[12];
        double ref[12];
        Imdct12(in, fast);
        DirectImdct12Windowed(in, ref);
        for (int i = 0; i < 12; ++i) ASSERT_NEAR(fast[i], ref[i], 2e-6 * 6 * 1000) << trial << " " << i;
    }
}

TEST(ImdctWindows, RowsOfTheFourBlockTypes) {
    auto s = NewState();
    const float(*w)[36] = s->ImdctWindows;
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

TEST(InverseTransform, ImpulseThroughTheNormalWindow) {
    for (int k : {0, 5, 17}) {
        auto s = NewState();
        s->SpectralSamples[0][18 * 4 + k] = 1.0f;
        InverseTransformSubband(*s, 0, 4, 0);
        double x[36];
        float in[18] = {};
        in[k] = 1.0f;
        DirectImdct36(in, x);
        for (int t = 0; t < 18; ++t) {
            EXPECT_NEAR(s->SubbandSamples[4][t], s->ImdctWindows[0][t] * x[t], 1e-5) << k << " " << t;
            EXPECT_NEAR(OverlapAt(*s, 0, 4, t), s->ImdctWindows[0][18 + t] * x[18 + t], 1e-5);
        }
    }
}

TEST(InverseTransform, OddSubbandsNegateOddSamplesButNotTheOverlap) {
    auto s = NewState();
    for (int t = 0; t < 18; ++t) OverlapAt(*s, 1, 3, t) = static_cast<float>(t + 1);
    s->SpectralSamples[1][18 * 3 + 2] = 1.0f;
    InverseTransformSubband(*s, 0, 3, 1);
    float even[18], overlap_odd[18];
    for (int t = 0; t < 18; ++t) overlap_odd[t] = OverlapAt(*s, 1, 3, t);
    auto e = NewState();
    for (int t = 0; t < 18; ++t) OverlapAt(*e, 1, 2, t) = static_cast<float>(t + 1);
    e->SpectralSamples[1][18 * 2 + 2] = 1.0f;
    InverseTransformSubband(*e, 0, 2, 1);
    for (int t = 0; t < 18; ++t) even[t] = e->SubbandSamples[2][t];
    for (int t = 0; t < 18; ++t) {
        EXPECT_EQ(s->SubbandSamples[3][t], t % 2 ? -even[t] : even[t]) << t;
        EXPECT_EQ(overlap_odd[t], OverlapAt(*e, 1, 2, t)) << t;
    }
}

TEST(InverseTransform, ShortBlocksStartWithTheOverlapAndLeaveSixZeros) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    auto s = NewState();
    for (int t = 0; t < 18; ++t) OverlapAt(*s, 0, 7, t) = u(rng);
    for (int k = 0; k < 18; ++k) s->SpectralSamples[0][18 * 7 + k] = u(rng);
    float ov[18];
    for (int t = 0; t < 18; ++t) ov[t] = OverlapAt(*s, 0, 7, t);
    InverseTransformSubband(*s, 2, 7, 0);
    for (int t = 0; t < 6; ++t) EXPECT_EQ(s->SubbandSamples[7][t], t % 2 ? -ov[t] : ov[t]);
    for (int t = 12; t < 18; ++t) EXPECT_EQ(OverlapAt(*s, 0, 7, t), 0.0f);
    // The three windows overlap-add: window 0's block starts at 6, window 1's at 12, window 2's at 18.
    double y[3][12];
    for (int w = 0; w < 3; ++w) DirectImdct12Windowed(&s->SpectralSamples[0][18 * 7 + 6 * w], y[w]);
    for (int t = 6; t < 12; ++t) {
        const double expect = ov[t] + y[0][t - 6];
        EXPECT_NEAR(s->SubbandSamples[7][t], t % 2 ? -expect : expect, 1e-5);
    }
    EXPECT_NEAR(OverlapAt(*s, 0, 7, 0), y[1][6] + y[2][0], 1e-5);
}

TEST(InverseTransform, ZeroLinesPassTheOverlapThrough) {
    auto s = NewState();
    auto t = NewState();
    for (int k = 0; k < 18; ++k) OverlapAt(*s, 0, 9, k) = OverlapAt(*t, 0, 9, k) = 0.25f * k;
    InverseTransformSubband(*s, 0, 9, 0);
    PassOverlapThrough(*t, 9, 0);
    for (int k = 0; k < 18; ++k) {
        EXPECT_EQ(s->SubbandSamples[9][k], t->SubbandSamples[9][k]);
        EXPECT_EQ(t->SubbandSamples[9][k], k % 2 ? -0.25f * k : 0.25f * k);
        EXPECT_EQ(OverlapAt(*t, 0, 9, k), 0.0f);
        EXPECT_EQ(OverlapAt(*s, 0, 9, k), 0.0f);
    }
}

// The batched transform (eight subbands per vector at every instruction-set
// level) against one InverseTransformSubband call per subband, bit for bit:
// every block type, batches starting at 0 and 2 (mixed blocks), partial last
// batches, and an overlap carried over several granules.
TEST(InverseTransform, BatchesEqualTheSubbandBySubbandTransform) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-3000.0f, 3000.0f);
    for (int32_t level = kKernelsSse2; level <= CpuKernelLevel(); ++level) {
        auto batched = NewState();
        auto single = NewState();
        ASSERT_EQ(SelectKernels(level), level);
        for (int granule = 0; granule < 40; ++granule) {
            const int block_type = static_cast<int>(rng() % 4);
            const int first = rng() % 3 == 0 ? 2 : 0;
            const int end = first + 1 + static_cast<int>(rng() % (32 - first));
            for (int i = 0; i < 576; ++i) batched->SpectralSamples[1][i] = single->SpectralSamples[1][i] = u(rng);
            // Rows outside first .. end - 1 must keep what they hold.
            for (int sb = 0; sb < 32; ++sb)
                for (int t = 0; t < 18; ++t) batched->SubbandSamples[sb][t] = single->SubbandSamples[sb][t] = u(rng);
            InverseTransformSubbands(*batched, block_type, first, end, 1);
            for (int sb = first; sb < end; ++sb) InverseTransformSubband(*single, block_type, sb, 1);
            for (int sb = 0; sb < 32; ++sb) {
                for (int t = 0; t < 18; ++t) {
                    ASSERT_EQ(batched->SubbandSamples[sb][t], single->SubbandSamples[sb][t])
                        << "level " << level << " granule " << granule << " subband " << sb << " sample " << t;
                }
            }
            for (int sb = 0; sb < 32; ++sb)
                for (int t = 0; t < 18; ++t) ASSERT_EQ(OverlapAt(*batched, 1, sb, t), OverlapAt(*single, 1, sb, t));
            // Nothing of the other channel is touched.
            for (int sb = 0; sb < 32; ++sb)
                for (int t = 0; t < 18; ++t) ASSERT_EQ(OverlapAt(*batched, 0, sb, t), 0.0f);
        }
    }
    SelectKernels(CpuKernelLevel());
}

TEST(AliasReduce, ButterfliesAcrossEveryBoundary) {
    auto s = NewState();
    s->SpectralSamples[0][17] = 1.0f;  // boundary 1, i = 0: lo
    s->SpectralSamples[0][18] = 2.0f;  // hi
    s->SpectralSamples[0][18 * 31 + 7] = 3.0f;  // boundary 31, i = 7: hi only
    AliasReduce(*s, 0);
    EXPECT_FLOAT_EQ(s->SpectralSamples[0][17], 1.0f * kAliasCs[0] - 2.0f * kAliasCa[0]);
    EXPECT_FLOAT_EQ(s->SpectralSamples[0][18], 2.0f * kAliasCs[0] + 1.0f * kAliasCa[0]);
    EXPECT_FLOAT_EQ(s->SpectralSamples[0][18 * 31 + 7], 3.0f * kAliasCs[7]);
    EXPECT_FLOAT_EQ(s->SpectralSamples[0][18 * 31 - 8], -3.0f * kAliasCa[7]);
    // Limited to the first boundary (mixed blocks), nothing above line 25 moves.
    auto m = NewState();
    m->SpectralSamples[0][36] = 1.0f;
    AliasReduceBoundaries(*m, 0, 1);
    EXPECT_EQ(m->SpectralSamples[0][35], 0.0f);
    EXPECT_EQ(m->SpectralSamples[0][36], 1.0f);
}

}  // namespace
}  // namespace quv3::test
