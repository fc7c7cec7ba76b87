#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/kernels/simd_plain.h"
#include "decoder/layer3/synthesis.h"
#include "decoder/tables/synthesis_window_table.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

const double kPi = std::acos(-1.0);

TEST(PcmRounding, TiesToEvenAndSymmetricClip) {
    auto round = [](double v) { return PlainSimd::ClipAndRound(Vec<double, 1>{v})[0]; };
    EXPECT_EQ(round(0.5), 0);
    EXPECT_EQ(round(1.5), 2);
    EXPECT_EQ(round(-0.5), 0);
    EXPECT_EQ(round(-2.5), -2);
    EXPECT_EQ(round(32766.5), 32766);
    EXPECT_EQ(round(32767.5), 32767);
    EXPECT_EQ(round(-32767.5), -32767);
    EXPECT_EQ(round(-32768.0), -32767);
    EXPECT_EQ(round(1e12), 32767);
    EXPECT_EQ(round(-1e12), -32767);
    EXPECT_EQ(round(std::nan("")), -32767);
    EXPECT_EQ(round(12345.49), 12345);
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

// A granule of channel ch from x[slot][subband]; with fewer rows, the rows
// above hold NaNs, which must not be read.
void Synthesize(StageState& s, const float (*x)[32], int ch, int channels, int rows = 32,
                PcmFormat format = PcmFormat::kS16) {
    for (int sb = 0; sb < 32; ++sb)
        for (int t = 0; t < 18; ++t) s.transform.SubbandSamples[sb][t] = sb < rows ? x[t][sb] : std::nanf("");
    SynthesizeGranule(*s.kernels, s.transform.SubbandSamples, rows, s.synthesis, ch, channels, format);
}

TEST(SynthesizeGranule, EqualsTheIsoFilterTimes32767) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> u(-0.3f, 0.3f);
    auto s = NewState();
    ReferenceSynthesis ref;
    int worst = 0;
    for (int granule = 0; granule < 6; ++granule) {
        float x[18][32];
        for (auto& slot : x)
            for (float& v : slot) v = u(rng);
        Synthesize(*s, x, 0, 1);
        for (int t = 0; t < 18; ++t) {
            double y[32];
            ref.Slot(x[t], y);
            for (int j = 0; j < 32; ++j) {
                const double expect = std::max(-32767.0, std::min(32767.0, std::nearbyint(32767 * y[j])));
                worst = std::max(worst, std::abs(s->synthesis.MonoPcmBuffer[32 * t + j] - static_cast<int>(expect)));
            }
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(SynthesizeGranule, SilenceGivesZerosInItsChannelsPlaces) {
    auto s = NewState();
    // Channel 0's run, as its synthesis leaves it; channel 1 pairs its samples with it.
    for (int i = 0; i < 576; ++i) s->synthesis.MonoPcmBuffer[i] = static_cast<int16_t>(i - 300);
    const float silence[18][32] = {};
    Synthesize(*s, silence, 1, 2);
    for (int i = 0; i < 1152; ++i) EXPECT_EQ(s->synthesis.StereoPcmBuffer[i], i % 2 ? 0 : i / 2 - 300) << i;
}

// The widest vector shapes, in portable code, and every level the processor
// runs from first on.
std::vector<const Kernels*> LevelsFrom(int32_t first) {
    std::vector<const Kernels*> levels{&kWideKernels};
    for (int32_t level = first; level <= CpuKernelLevel(); ++level) levels.push_back(&KernelsAt(level));
    return levels;
}

// Every level against the plain level, bit for bit, on both channels of a
// stereo stream and on a mono one, with the history carried over granules.
TEST(SynthesizeGranule, EveryLevelEqualsThePlainLevel) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> u(-0.6f, 0.6f);
    for (const Kernels* level : LevelsFrom(1)) {
        for (int channels : {1, 2}) {
            auto vector = NewState();
            auto plain = NewState();
            vector->kernels = level;
            for (int granule = 0; granule < 5; ++granule) {
                for (int ch = 0; ch < channels; ++ch) {
                    float x[18][32];
                    for (auto& slot : x)
                        for (float& v : slot) v = u(rng);
                    Synthesize(*vector, x, ch, channels);
                    Synthesize(*plain, x, ch, channels);
                }
                const int16_t* a = channels == 2 ? vector->synthesis.StereoPcmBuffer : vector->synthesis.MonoPcmBuffer;
                const int16_t* b = channels == 2 ? plain->synthesis.StereoPcmBuffer : plain->synthesis.MonoPcmBuffer;
                for (int i = 0; i < 576 * channels; ++i)
                    ASSERT_EQ(a[i], b[i]) << level->name << " channels " << channels << " granule " << granule
                                          << " index " << i;
            }
        }
    }
}

// Granules whose upper subbands are zero, synthesized from the first 8 or 16
// rows alone, give the samples of all 32, at every level: the zeros change
// nothing but signs of zeros. The bound sits right above the last nonzero
// subband in half the granules.
TEST(SynthesizeGranule, FewerRowsGiveTheSamplesOfAll) {
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> u(-0.6f, 0.6f);
    for (const Kernels* level : LevelsFrom(0)) {
        auto fewer = NewState();
        auto all = NewState();
        fewer->kernels = all->kernels = level;
        for (int granule = 0; granule < 8; ++granule) {
            const int rows = granule % 4 < 2 ? 8 : 16;
            const int live = granule % 2 ? rows : rows / 2 + 1;
            float x[18][32] = {};
            for (auto& slot : x)
                for (int sb = 0; sb < live; ++sb) slot[sb] = u(rng);
            Synthesize(*fewer, x, 0, 1, rows);
            Synthesize(*all, x, 0, 1);
            for (int i = 0; i < 576; ++i)
                ASSERT_EQ(fewer->synthesis.MonoPcmBuffer[i], all->synthesis.MonoPcmBuffer[i])
                    << level->name << " granule " << granule << " index " << i;
        }
    }
}

uint32_t BitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The float granules of every level, for loud, overloaded and quiet input:
// the plain level's floats bit for bit, and each, rounded and clipped by the
// library's rule, the 16-bit sample the same history gives.
TEST(SynthesizeGranule, FloatsAreThePlainLevelsAndRoundToTheSixteenBitSamples) {
    std::mt19937 rng(47);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (const Kernels* level : LevelsFrom(0)) {
        for (int channels : {1, 2}) {
            auto s16 = NewState(), f32 = NewState(), plain = NewState();
            s16->kernels = f32->kernels = level;
            for (int granule = 0; granule < 6; ++granule) {
                const float scale = granule < 2 ? 0.6f : granule < 4 ? 4.0f : 1e-4f;
                for (int ch = 0; ch < channels; ++ch) {
                    float x[18][32];
                    for (auto& slot : x)
                        for (float& v : slot) v = scale * u(rng);
                    Synthesize(*s16, x, ch, channels);
                    Synthesize(*f32, x, ch, channels, 32, PcmFormat::kF32);
                    Synthesize(*plain, x, ch, channels, 32, PcmFormat::kF32);
                }
                const SynthesisMemory& a = s16->synthesis;
                const SynthesisMemory& b = f32->synthesis;
                const SynthesisMemory& p = plain->synthesis;
                for (int i = 0; i < 576 * channels; ++i) {
                    const int16_t want = channels == 2 ? a.StereoPcmBuffer[i] : a.MonoPcmBuffer[i];
                    const float got = channels == 2 ? b.StereoFloatBuffer[i] : b.MonoFloatBuffer[i];
                    const float ref = channels == 2 ? p.StereoFloatBuffer[i] : p.MonoFloatBuffer[i];
                    ASSERT_EQ(quv3_f32_to_s16(got), want) << level->name << " granule " << granule << " index " << i;
                    ASSERT_EQ(BitsOf(got), BitsOf(ref)) << level->name << " granule " << granule << " index " << i;
                }
            }
        }
    }
}

// Silence, in zeros of either sign, gives +0.0 floats at every level: the
// kernels do not keep the sign of a zero, so no float shows one.
TEST(SynthesizeGranule, SilenceGivesPositiveZeroFloats) {
    for (const Kernels* level : LevelsFrom(0)) {
        for (float zero : {0.0f, -0.0f}) {
            auto s = NewState();
            s->kernels = level;
            float x[18][32];
            for (auto& slot : x)
                for (float& v : slot) v = zero;
            for (int ch = 0; ch < 2; ++ch) Synthesize(*s, x, ch, 2, 32, PcmFormat::kF32);
            for (int i = 0; i < 1152; ++i) ASSERT_EQ(BitsOf(s->synthesis.StereoFloatBuffer[i]), 0u) << level->name << i;
        }
    }
}

TEST(SynthesizeGranule, OverloadClipsSymmetrically) {
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) {
        auto s = NewState();
        s->kernels = &KernelsAt(level);
        float x[18][32] = {};
        for (auto& slot : x) slot[0] = -1e6f;
        int16_t lowest = 0, highest = 0;
        for (int granule = 0; granule < 2; ++granule) {
            Synthesize(*s, x, 0, 1);
            for (int16_t v : s->synthesis.MonoPcmBuffer) lowest = std::min(lowest, v), highest = std::max(highest, v);
        }
        EXPECT_EQ(lowest, -32767) << level;
        EXPECT_EQ(highest, 32767) << level;
    }
}

}  // namespace
}  // namespace quv3::test
