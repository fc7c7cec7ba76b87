// The float output: each sample is the synthesis sum over 32767, moved by at
// most one float step so that the library's rule from float to 16 bits
// (quv3_f32_to_s16) gives the 16-bit sample; and the re-entrant API delivers
// it, chosen at open or per call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/kernels/kernel_body.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/state_builder.h"
#include "tests/support/stream_builder.h"

namespace quv3 {
namespace {

// The plain level with every windowing sum it rounds recorded: the sums the
// float samples are formed from, at every level.
std::vector<double>* g_sums = nullptr;

struct RecordingSimd : PlainSimd {
    static Vec<int32_t, 1> ClipAndRound(D v) {
        if (g_sums != nullptr) g_sums->push_back(v[0]);
        return PlainSimd::ClipAndRound(v);
    }
};

const Kernels kRecordingKernels = KernelsOf<RecordingSimd>("recording");

}  // namespace
}  // namespace quv3

namespace quv3::test {
namespace {

uint32_t BitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The 16-bit sample of a windowing sum, written out: clipped to
// -32767..32767 (a NaN to -32767), rounded to nearest, ties to even.
int32_t SampleOf(double v) {
    if (std::isnan(v) || v <= -32767.0) return -32767;
    if (v >= 32767.0) return 32767;
    return static_cast<int32_t>(std::nearbyint(v));
}

// The float the kernels deliver for a windowing sum v (the plain level's code).
float FloatOf(double v) { return FloatSamples<PlainSimd>(Vec<double, 1>{v})[0]; }

// v / 32767 rounded to double, then to float: the float before any step.
float Unmoved(double v) { return static_cast<float>(v / 32767.0); }

// Sums at, next to and near every rounding boundary k + 1/2 inside the
// clipping limits. Where the float nearest v / 32767 rounds to the other
// integer, the step toward v gives v's, and the step away would not.
TEST(FloatSamples, RoundToTheSixteenBitSampleAtEveryBoundary) {
    const double offsets[] = {0x1p-40, 0x1p-30, 0x1p-20, 0x1p-16, 0x1p-13, 0x1p-11, 0x1p-10};
    int sums = 0, moved = 0, ties_moved = 0;
    for (int k = -32767; k <= 32766; ++k) {
        const double b = k + 0.5;
        std::vector<double> near{b, std::nextafter(b, -1e9), std::nextafter(b, 1e9)};
        for (double d : offsets) near.insert(near.end(), {b - d, b + d});
        // The smallest offsets vanish next to the largest boundaries.
        std::sort(near.begin(), near.end());
        near.erase(std::unique(near.begin(), near.end()), near.end());
        for (double v : near) {
            ++sums;
            const float f = FloatOf(v);
            const float f0 = Unmoved(v);
            ASSERT_EQ(quv3_f32_to_s16(f), SampleOf(v)) << "sum " << v;
            if (quv3_f32_to_s16(f0) == SampleOf(v)) {
                ASSERT_EQ(BitsOf(f), BitsOf(f0)) << "sum " << v;
                continue;
            }
            // 32767 f0 and v lie on both sides of the boundary (or f0 on a tie that goes the other way).
            const bool up = static_cast<double>(f0) * 32767.0 < v;
            const float toward = std::nextafter(f0, up ? 2.0f : -2.0f);
            const float away = std::nextafter(f0, up ? -2.0f : 2.0f);
            ASSERT_EQ(BitsOf(f), BitsOf(toward)) << "sum " << v;
            ASSERT_NE(quv3_f32_to_s16(away), SampleOf(v)) << "sum " << v;
            ++moved;
            if (v == b) ++ties_moved;
        }
    }
    std::printf("%d sums near the boundaries, %d moved one step (%d of them exact ties)\n", sums, moved, ties_moved);
    // About half the ties land on the odd side, and the sums within a float step too.
    EXPECT_GT(ties_moved, 30000);
    EXPECT_GT(moved, 300000);
}

// Zeros, full scale, the clipping limits, sums beyond them and beyond the
// float range, and NaN.
TEST(FloatSamples, ZerosLimitsAndNan) {
    EXPECT_EQ(BitsOf(FloatOf(0.0)), 0u);
    EXPECT_EQ(BitsOf(FloatOf(-0.0)), 0u);  // the sign of a zero sum is not kept
    EXPECT_EQ(BitsOf(FloatOf(-1e-50)), 0u);  // nor that of a sum too small for a float
    EXPECT_EQ(FloatOf(32767.0), 1.0f);
    EXPECT_EQ(FloatOf(-32767.0), -1.0f);
    // A tie whose quotient is a float: nothing to move, and it goes to the even integer.
    EXPECT_EQ(FloatOf(16383.5), 0.5f);
    EXPECT_EQ(quv3_f32_to_s16(0.5f), 16384);
    // Not clipped: beyond full scale the float keeps the sum, the rule clips.
    EXPECT_EQ(FloatOf(40000.0), Unmoved(40000.0));
    EXPECT_GT(FloatOf(40000.0), 1.0f);
    EXPECT_EQ(quv3_f32_to_s16(FloatOf(40000.0)), 32767);
    EXPECT_EQ(quv3_f32_to_s16(FloatOf(-40000.0)), -32767);
    for (double v : {32766.5, 32766.75, 32767.5, -32766.5, -32766.75, -32767.5, -32768.0})
        EXPECT_EQ(quv3_f32_to_s16(FloatOf(v)), SampleOf(v)) << v;
    EXPECT_EQ(FloatOf(1e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(FloatOf(-1e300), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(quv3_f32_to_s16(FloatOf(1e300)), 32767);
    EXPECT_EQ(quv3_f32_to_s16(FloatOf(-1e300)), -32767);
    EXPECT_TRUE(std::isnan(FloatOf(std::nan(""))));
    EXPECT_EQ(quv3_f32_to_s16(FloatOf(std::nan(""))), -32767);
}

// How often the step is taken in real streams: every windowing sum behind a
// sample of every stream, through the plain level. The fixtures alone hold
// such sums, so the golden test's check of every float sample against its
// 16-bit sample fails where the step is missing or goes the wrong way.
TEST(FloatSamples, RealStreamsNeedTheStep) {
    size_t samples = 0, fixture_moved = 0, moved = 0, ties = 0;
    const std::map<std::string, std::string> streams = TestStreams(QUV3_FIXTURES, QUV3_ISO_VECTORS);
    for (const auto& [name, path] : streams) {
        std::vector<double> recorded;
        g_sums = &recorded;
        auto s = OpenLocal(path);
        s->kernels = &kRecordingKernels;
        int16_t pcm[2304];
        size_t here = 0, n = 0;
        if (s->open_result == 0) {
            int32_t r;
            do {
                r = s->Next(PcmOut{pcm}, n);
                here += n;
            } while (r == 0);
        }
        g_sums = nullptr;
        // The plain level rounds 33 sums a slot: outputs 0, 32 (scratch, not a
        // sample), 1, 31, 2, ..., 15, 17, then 16.
        ASSERT_EQ(recorded.size(), here / 32 * 33) << name;
        samples += here;
        here = 0;
        for (size_t i = 0; i < recorded.size(); ++i) {
            if (i % 33 == 1) continue;
            const double v = recorded[i];
            if (quv3_f32_to_s16(Unmoved(v)) != SampleOf(v)) ++here;
            if (std::fabs(v) < 32767.0 && v - std::floor(v) == 0.5) ++ties;
        }
        moved += here;
        if (name.rfind("fixture/", 0) == 0) fixture_moved += here;
    }
    std::printf("%zu samples of %zu streams: %zu floats moved one step (%zu in our fixtures); %zu exact ties\n",
                samples, streams.size(), moved, fixture_moved, ties);
    EXPECT_GT(fixture_moved, 10u);
}

// Every call from the decoder's position to the end, in the format: each
// call's values (samples per channel times the stream's channels).
template <class T>
std::vector<std::vector<T>> DecodeCalls(quv3_decoder* d, int32_t format) {
    quv3_info info{};
    quv3_get_info(d, &info);
    std::vector<std::vector<T>> calls;
    T buf[QUV3_MAX_FRAME_VALUES];
    int32_t r = 0;
    while (r == 0) {
        int32_t n = -1;
        r = quv3_decode_frame(d, buf, format, &n);
        if (r != 0 && r != QUV3_END) break;
        calls.emplace_back(buf, buf + n * info.channels);
    }
    return calls;
}

template <class T>
std::vector<T> Joined(const std::vector<std::vector<T>>& calls) {
    std::vector<T> all;
    for (const auto& c : calls) all.insert(all.end(), c.begin(), c.end());
    return all;
}

// The frame loop's own floats with the kernels the API chooses: each frame in
// its own channel count, and that count.
struct LocalFrame {
    int32_t channels;
    std::vector<float> f32;
};
std::vector<LocalFrame> LocalFloats(const std::string& path) {
    std::vector<LocalFrame> frames;
    auto s = OpenLocal(path);
    if (s->open_result != 0) return frames;
    s->kernels = &KernelsAt(CpuKernelLevel());
    float buf[QUV3_MAX_FRAME_VALUES];
    size_t n = 0;
    int32_t r;
    do {
        r = s->Next(PcmOut{buf, PcmFormat::kF32}, n);
        frames.push_back(LocalFrame{s->d.channel_count, std::vector<float>(buf, buf + n)});
    } while (r == 0);
    return frames;
}

void ExpectSameBits(const std::vector<float>& a, const std::vector<float>& b, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    EXPECT_EQ(std::memcmp(a.data(), b.data(), sizeof(float) * a.size()), 0) << what;
}

// QUV3_F32 per call or QUV3_OPEN_F32 at open: the frame loop's floats, which
// the rule takes to the 16-bit samples; per call the format may change; any
// other format is refused and decodes nothing.
TEST(FloatOutput, ChosenAtOpenOrPerCall) {
    const std::string path = std::string(QUV3_FIXTURES) + "/j44_128.mp3";
    std::vector<float> local;
    for (const LocalFrame& f : LocalFloats(path)) local.insert(local.end(), f.f32.begin(), f.f32.end());

    OwnedDecoder as_s16, as_f32, per_call, opened_f32_asked_s16;
    ASSERT_EQ(quv3_open_file(as_s16.d, path.c_str(), 0), 0);
    ASSERT_EQ(quv3_open_file(as_f32.d, path.c_str(), QUV3_OPEN_F32), 0);
    ASSERT_EQ(quv3_open_file(per_call.d, path.c_str(), 0), 0);
    ASSERT_EQ(quv3_open_file(opened_f32_asked_s16.d, path.c_str(), QUV3_OPEN_F32), 0);
    const auto s16_calls = DecodeCalls<int16_t>(as_s16.d, QUV3_FORMAT_AS_OPENED);
    const auto f32_calls = DecodeCalls<float>(as_f32.d, QUV3_FORMAT_AS_OPENED);
    const std::vector<int16_t> s16 = Joined(s16_calls);
    const std::vector<float> f32 = Joined(f32_calls);
    ExpectSameBits(f32, local, "QUV3_OPEN_F32");
    ASSERT_EQ(s16.size(), f32.size());
    ASSERT_GT(s16.size(), 100000u);
    for (size_t i = 0; i < s16.size(); ++i) ASSERT_EQ(quv3_f32_to_s16(f32[i]), s16[i]) << i;
    EXPECT_EQ(Joined(DecodeCalls<int16_t>(opened_f32_asked_s16.d, QUV3_S16)), s16);

    // Refused formats write nothing and leave the pending frame pending.
    for (int32_t bad : {3, -1, 0x7FFFFFFF}) {
        float buf[4] = {7.0f, 7.0f, 7.0f, 7.0f};
        int32_t n = -1;
        EXPECT_EQ(quv3_decode_frame(per_call.d, buf, bad, &n), QUV3_BAD_CALL) << bad;
        EXPECT_EQ(n, 0);
        EXPECT_EQ(buf[0], 7.0f);
    }
    // Alternating formats: each call delivers its frame in the format it asks.
    quv3_info info{};
    ASSERT_EQ(quv3_get_info(per_call.d, &info), 0);
    for (size_t call = 0; call < s16_calls.size(); ++call) {
        float buf[QUV3_MAX_FRAME_VALUES];
        int32_t n = 0;
        const bool floats = call % 3 == 1;
        const int32_t r = quv3_decode_frame(per_call.d, buf, floats ? QUV3_F32 : QUV3_S16, &n);
        ASSERT_EQ(r, call + 1 < s16_calls.size() ? 0 : QUV3_END) << call;
        ASSERT_EQ(static_cast<size_t>(n * info.channels), s16_calls[call].size()) << call;
        if (floats) {
            ExpectSameBits(std::vector<float>(buf, buf + n * info.channels), f32_calls[call],
                           "call " + std::to_string(call));
        } else {
            const auto* s = reinterpret_cast<const int16_t*>(buf);
            ASSERT_EQ(std::vector<int16_t>(s, s + n * info.channels), s16_calls[call]) << call;
        }
    }
}

// A frame in another channel count than the stream's first comes in the
// first one's as floats too: a mono frame as both channels, a stereo frame as
// the mean of its two. The rule gives the 16-bit samples where a channel is
// repeated; a mean of floats and a mean of 16-bit samples can differ by one.
TEST(FloatOutput, OtherChannelCountsAreMatched) {
    const Bytes stereo = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    const Bytes mono = ReadFileBytes(std::string(QUV3_FIXTURES) + "/m44_320_notag.mp3");
    for (int stereo_first : {1, 0}) {
        Bytes joined = stereo_first ? stereo : mono;
        Append(joined, stereo_first ? mono : stereo);
        TempFile file(joined);
        const std::vector<LocalFrame> local = LocalFloats(file.path);
        OwnedDecoder a, b;
        ASSERT_EQ(quv3_open_file(a.d, file.path.c_str(), 0), 0);
        ASSERT_EQ(quv3_open_file(b.d, file.path.c_str(), 0), 0);
        quv3_info info{};
        ASSERT_EQ(quv3_get_info(a.d, &info), 0);
        ASSERT_EQ(info.channels, stereo_first ? 2 : 1);
        const auto f32 = DecodeCalls<float>(a.d, QUV3_F32);
        const auto s16 = DecodeCalls<int16_t>(b.d, QUV3_S16);
        ASSERT_EQ(f32.size(), local.size());
        ASSERT_EQ(s16.size(), local.size());
        int matched = 0, means_one_apart = 0;
        for (size_t call = 0; call < local.size(); ++call) {
            const std::vector<float>& own = local[call].f32;
            const std::vector<float>& got = f32[call];
            ASSERT_EQ(got.size(), s16[call].size());
            if (local[call].channels == info.channels) {
                ExpectSameBits(got, own, "call " + std::to_string(call));
            } else if (info.channels == 2) {
                ASSERT_EQ(got.size(), 2 * own.size());
                for (size_t k = 0; k < own.size(); ++k) {
                    ASSERT_EQ(BitsOf(got[2 * k]), BitsOf(own[k])) << call << " " << k;
                    ASSERT_EQ(BitsOf(got[2 * k + 1]), BitsOf(own[k])) << call << " " << k;
                }
            } else {
                ASSERT_EQ(2 * got.size(), own.size());
                for (size_t k = 0; k < got.size(); ++k) {
                    const double mean = (static_cast<double>(own[2 * k]) + own[2 * k + 1]) / 2;
                    ASSERT_EQ(got[k], static_cast<float>(mean)) << call << " " << k;
                }
            }
            if (local[call].channels != info.channels && !got.empty()) ++matched;
            for (size_t i = 0; i < got.size(); ++i) {
                const int diff = quv3_f32_to_s16(got[i]) - s16[call][i];
                if (local[call].channels == 1 || info.channels == 2) {
                    ASSERT_EQ(diff, 0) << call << " " << i;
                } else {
                    ASSERT_LE(std::abs(diff), 1) << call << " " << i;
                    means_one_apart += diff != 0;
                }
            }
        }
        std::printf("%s first: %d frames matched to %d channel(s); %d float means one step from the 16-bit mean\n",
                    stereo_first ? "stereo" : "mono", matched, info.channels, means_one_apart);
        EXPECT_GT(matched, 10);
    }
}

}  // namespace
}  // namespace quv3::test
