#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/synthesis_window_table.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

const double kPi = std::acos(-1.0);

TEST(Dct32, MatchesTheDirectSum) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int trial = 0; trial < 100; ++trial) {
        float x[32], y[32];
        for (float& v : x) v = u(rng);
        Dct32(x, y);
        for (int n = 0; n < 32; ++n) {
            double sum = 0;
            for (int k = 0; k < 32; ++k) sum += x[k] * std::cos((2 * k + 1) * n * kPi / 64);
            ASSERT_NEAR(y[n], n == 0 ? sum : 2 * sum, 2e-5) << n;
        }
    }
}

TEST(PcmRounding, TiesToEvenAndSymmetricClip) {
    EXPECT_EQ(RoundAndClip(0.5), 0);
    EXPECT_EQ(RoundAndClip(1.5), 2);
    EXPECT_EQ(RoundAndClip(-0.5), 0);
    EXPECT_EQ(RoundAndClip(-2.5), -2);
    EXPECT_EQ(RoundAndClip(32766.5), 32766);
    EXPECT_EQ(RoundAndClip(32767.5), 32767);
    EXPECT_EQ(RoundAndClip(-32767.5), -32767);
    EXPECT_EQ(RoundAndClip(-32768.0), -32767);
    EXPECT_EQ(RoundAndClip(1e12), 32767);
    EXPECT_EQ(RoundAndClip(-1e12), -32767);
    EXPECT_EQ(RoundAndClip(12345.49), 12345);
}

// The ISO/IEC 11172-3 synthesis filter written out directly: matrixing into a
// shifting 1024-value V buffer, then the windowed 16-term sums.
struct ReferenceSynthesis {
    double v[1024] = {};
    void Slot(const float* x, double* out) {
        for (int i = 1023; i >= 64; --i) v[i] = v[i - 64];
        for (int i = 0; i < 64; ++i) {
            double sum = 0;
            for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * kPi / 64) * x[k];
            v[i] = sum;
        }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 8; ++i) {
                sum += v[128 * i + j] * kSynthesisWindowUnscaled[j * 16 + 2 * i];
                sum += v[128 * i + 96 + j] * kSynthesisWindowUnscaled[j * 16 + 2 * i + 1];
            }
            out[j] = sum;
        }
    }
};

TEST(SynthesizeSlot, EqualsTheIsoFilterTimes32767) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> u(-0.3f, 0.3f);
    auto s = NewState();
    s->channel_count = 1;
    ReferenceSynthesis ref;
    int worst = 0;
    for (int granule = 0; granule < 6; ++granule) {
        float x[18][32];
        for (auto& slot : x)
            for (float& v : slot) v = u(rng);
        for (int sb = 0; sb < 32; ++sb)
            for (int t = 0; t < 18; ++t) s->SubbandSamples[sb][t] = x[t][sb];
        for (int t = 0; t < 18; ++t) {
            SynthesizeSlot(*s, 0, t);
            double y[32];
            ref.Slot(x[t], y);
            for (int j = 0; j < 32; ++j) {
                const double expect = std::max(-32767.0, std::min(32767.0, std::nearbyint(32767 * y[j])));
                worst = std::max(worst, std::abs(s->MonoPcmBuffer[32 * t + j] - static_cast<int>(expect)));
            }
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(SynthesizeSlot, SilenceGivesZerosAndStateCycles) {
    auto s = NewState();
    s->channel_count = 2;
    for (int16_t& v : s->StereoPcmBuffer) v = 99;
    const int phase = s->SynthesisPhase[1];
    const int half = s->SynthesisHalf[1];
    for (int t = 0; t < 16; ++t) {
        SynthesizeSlot(*s, 1, t);
        if (t == 1) {
            EXPECT_EQ(s->SynthesisHalf[1], half);
        }
    }
    EXPECT_EQ(s->SynthesisPhase[1], phase);
    // Channel 1 fills the odd indices of the interleaved buffer, channel 0's stay.
    for (int i = 0; i < 16 * 64; ++i) EXPECT_EQ(s->StereoPcmBuffer[i], i % 2 ? 0 : 99) << i;
}

// SynthesizeGranule at every instruction-set level against 18 SynthesizeSlot
// calls, on both channels of a stereo stream and on a mono one, bit for bit.
TEST(SynthesizeGranule, EqualsEighteenSlotsAtEveryKernelLevel) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> u(-0.6f, 0.6f);
    for (int32_t level = kKernelsSse2; level <= CpuKernelLevel(); ++level) {
        for (int channels : {1, 2}) {
            auto whole = NewState();
            auto slots = NewState();
            ASSERT_EQ(SelectKernels(level), level);
            whole->channel_count = slots->channel_count = channels;
            for (int granule = 0; granule < 5; ++granule) {
                for (int ch = 0; ch < channels; ++ch) {
                    for (int sb = 0; sb < 32; ++sb)
                        for (int t = 0; t < 18; ++t) whole->SubbandSamples[sb][t] = slots->SubbandSamples[sb][t] = u(rng);
                    SynthesizeGranule(*whole, ch);
                    for (int t = 0; t < 18; ++t) SynthesizeSlot(*slots, ch, t);
                }
                const int16_t* a = channels == 2 ? whole->StereoPcmBuffer : whole->MonoPcmBuffer;
                const int16_t* b = channels == 2 ? slots->StereoPcmBuffer : slots->MonoPcmBuffer;
                for (int i = 0; i < 576 * channels; ++i)
                    ASSERT_EQ(a[i], b[i]) << "level " << level << " channels " << channels << " granule " << granule
                                          << " index " << i;
            }
            EXPECT_EQ(whole->SynthesisPhase[0], slots->SynthesisPhase[0]);
            EXPECT_EQ(whole->SynthesisHalf[0], slots->SynthesisHalf[0]);
        }
    }
    SelectKernels(CpuKernelLevel());
}

TEST(SynthesizeSlot, OverloadClipsSymmetrically) {
    auto s = NewState();
    s->channel_count = 1;
    for (int t = 0; t < 18; ++t)
        for (int sb = 0; sb < 32; ++sb) s->SubbandSamples[sb][t] = sb == 0 ? -1e6f : 0.0f;
    int16_t lowest = 0;
    for (int t = 0; t < 18; ++t) {
        SynthesizeSlot(*s, 0, t);
        for (int j = 0; j < 32; ++j) lowest = std::min(lowest, s->MonoPcmBuffer[32 * t + j]);
    }
    EXPECT_EQ(lowest, -32767);
}

}  // namespace
}  // namespace quv3::test
