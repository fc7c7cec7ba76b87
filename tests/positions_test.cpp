// Every sample where it belongs: gapless output of exactly the encoder's
// input length, seeks to a sample that deliver exactly the straight decode
// from there, and a total that equals what the decode writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/api/quv3_decoder.h"
#include "tests/support/api_decode.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

std::string Fixture(const char* name) { return std::string(QUV3_FIXTURES) + "/" + name; }

ApiDecoded Open(const std::string& path, uint32_t flags) {
    return DecodeWithApi([&](quv3_decoder* d) { return quv3_open_file(d, path.c_str(), flags); });
}

// Encoded from signals of these lengths by lame (CBR and VBR) and ffmpeg's
// libmp3lame (scripts/make-fixtures).
struct Gapless {
    const char* name;
    int64_t samples;
};
constexpr Gapless kGapless[] = {
    {"gapless44_cbr.mp3", 123457}, {"gapless44_vbr.mp3", 123457},   {"gapless44_ffmpeg.mp3", 123457},
    {"gapless32_mono.mp3", 54321}, {"gapless32_ffmpeg.mp3", 54321}, {"gapless22_vbr.mp3", 54321},
};

// The output has the original length, and it is libmpg123's gapless output
// sample for sample with no shift: a shift of one sample would cost these
// signals over 30 dB.
TEST(Gapless, OriginalLengthAndLibmpg123sSamplesWithoutShift) {
    for (const Gapless& g : kGapless) {
        const ApiDecoded got = Open(Fixture(g.name), QUV3_OPEN_GAPLESS);
        ASSERT_EQ(got.open_result, 0) << g.name;
        EXPECT_EQ(got.info.gapless, 1) << g.name;
        EXPECT_EQ(got.info.encoder_delay, 576) << g.name;
        EXPECT_EQ(got.info.total_samples, g.samples) << g.name;
        EXPECT_EQ(got.info.total_kind, QUV3_TOTAL_EXACT) << g.name;
        EXPECT_EQ(static_cast<int64_t>(got.pcm.size()), g.samples * got.info.channels) << g.name;
        const PeerDecoded peer = DecodeWithMpg123(Fixture(g.name), true);
        ASSERT_TRUE(peer.ok) << g.name;
        EXPECT_EQ(peer.pcm.size(), got.pcm.size()) << g.name;
        const Comparison c = Compare(got.pcm, peer.pcm);
        EXPECT_GE(c.psnr, 90.0) << g.name;
        const Comparison shifted = Compare(got.pcm, peer.pcm, static_cast<size_t>(got.info.channels), 0);
        EXPECT_LT(shifted.psnr, 60.0) << g.name << ": the comparison cannot tell a shift";
    }
}

// Without a LAME extension there is nothing to trim by: the flag changes
// nothing.
TEST(Gapless, AStreamWithoutTheEncodersNumbersDecodesAsBefore) {
    const std::string path = Fixture("m44_320_notag.mp3");
    const ApiDecoded plain = Open(path, 0);
    const ApiDecoded gapless = Open(path, QUV3_OPEN_GAPLESS);
    EXPECT_EQ(gapless.info.gapless, 0);
    EXPECT_EQ(gapless.info.encoder_delay, -1);
    EXPECT_EQ(gapless.pcm, plain.pcm);
    EXPECT_EQ(plain.pcm, DecodeWithQuv(path).pcm);
}

// The straight decode from sample n, for n at the start, inside the first
// frame kept, on a frame boundary, in the middle and at the last sample.
void ExpectSeeksExact(const std::string& path, uint32_t flags) {
    const ApiDecoded straight = Open(path, flags);
    ASSERT_EQ(straight.open_result, 0) << path;
    const int64_t ch = straight.info.channels;
    const int64_t total = static_cast<int64_t>(straight.pcm.size()) / ch;
    ASSERT_EQ(total, straight.info.total_samples) << path;
    const int64_t spf = straight.info.samples_per_frame;
    // A frame boundary of the decoded samples: with the trim, 1105 samples
    // into the first audio frame is where the output starts.
    const int64_t boundary = straight.info.gapless ? 3 * spf - (straight.info.encoder_delay + 529) % spf : 3 * spf;
    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_file(dec.d, path.c_str(), flags), 0);
    for (const int64_t n : {int64_t{0}, int64_t{5}, boundary, boundary - 1, total / 2, total - 1}) {
        ASSERT_EQ(quv3_seek_sample(dec.d, n), 0) << path << " n=" << n;
        EXPECT_EQ(quv3_tell(dec.d), n) << path;
        ApiDecoded rest;
        rest.info = straight.info;
        DecodeRestWithApi(dec.d, rest);
        ASSERT_EQ(static_cast<int64_t>(rest.pcm.size()), (total - n) * ch) << path << " n=" << n;
        EXPECT_TRUE(std::equal(rest.pcm.begin(), rest.pcm.end(), straight.pcm.begin() + n * ch)) << path << " n=" << n;
        EXPECT_EQ(quv3_tell(dec.d), total) << path;
    }
    EXPECT_EQ(quv3_seek_sample(dec.d, total), QUV3_END) << path;
}

TEST(SeekToSample, LandsOnTheExactSampleGaplessOrNot) {
    for (const char* name : {"gapless44_vbr.mp3", "gapless22_vbr.mp3", "gapless32_ffmpeg.mp3"}) {
        ExpectSeeksExact(Fixture(name), QUV3_OPEN_GAPLESS);
        ExpectSeeksExact(Fixture(name), 0);
    }
    ExpectSeeksExact(Fixture("crc44_96.mp3"), 0);
}

// A walk that stopped early (the step back's) must leave the first frames'
// reservoir bookkeeping right for the walks after it: a frame taken for one
// the decoder skips would move every later seek by a frame.
TEST(SeekToSample, ExactAfterAShorterWalk) {
    for (const char* name : {"vbr44_xing.mp3", "gapless44_vbr.mp3", "crc44_96.mp3"}) {
        const std::string path = Fixture(name);
        const ApiDecoded straight = Open(path, 0);
        const int64_t ch = straight.info.channels, n = 20 * straight.info.samples_per_frame;
        OwnedDecoder dec;
        ASSERT_EQ(quv3_open_file(dec.d, path.c_str(), 0), 0) << name;
        int16_t pcm[QUV3_MAX_FRAME_VALUES];
        for (int i = 0; i < 5; ++i) quv3_decode_frame(dec.d, pcm, QUV3_S16, nullptr);
        ASSERT_EQ(quv3_step_back(dec.d), 0) << name;
        ASSERT_EQ(quv3_seek_sample(dec.d, n), 0) << name;
        ApiDecoded rest;
        rest.info = straight.info;
        DecodeRestWithApi(dec.d, rest);
        ASSERT_EQ(rest.pcm.size(), straight.pcm.size() - n * ch) << name;
        EXPECT_TRUE(std::equal(rest.pcm.begin(), rest.pcm.end(), straight.pcm.begin() + n * ch)) << name;
    }
}

// A stream of more frames than the index has entries: its stride doubles, and
// every position it keeps must still be a frame's.
TEST(SeekToSample, ExactAcrossALongStreamsIndex) {
    const Bytes one = ReadFileBytes(Fixture("m44_320_notag.mp3"));
    Bytes many;
    for (int i = 0; i < 60; ++i) Append(many, one);  // about 3000 frames
    TempFile f(many);
    const ApiDecoded straight = Open(f.path, 0);
    const int64_t ch = straight.info.channels;
    const int64_t total = static_cast<int64_t>(straight.pcm.size()) / ch;
    ASSERT_GT(total, 2048 * 1152);
    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_file(dec.d, f.path.c_str(), 0), 0);
    for (const int64_t n : {total - 1000, int64_t{1025} * 1152 + 17, total / 3, int64_t{2047} * 1152}) {
        ASSERT_EQ(quv3_seek_sample(dec.d, n), 0) << n;
        int16_t pcm[QUV3_MAX_FRAME_VALUES];
        int32_t got = 0;
        quv3_decode_frame(dec.d, pcm, QUV3_S16, &got);
        ASSERT_GT(got, 0);
        EXPECT_TRUE(std::equal(pcm, pcm + got * ch, straight.pcm.begin() + n * ch)) << n;
    }
}

// What the description says is what the decode writes, for every stream, both
// ways.
TEST(Duration, TheTotalIsWhatTheDecodeWrites) {
    int compared = 0;
    for (const std::string& path : AllStreamPaths()) {
        for (uint32_t flags : {0u, static_cast<uint32_t>(QUV3_OPEN_GAPLESS)}) {
            const ApiDecoded got = Open(path, flags);
            if (got.open_result != 0) continue;
            EXPECT_NE(got.info.total_kind, QUV3_TOTAL_ESTIMATED) << path;
            EXPECT_EQ(got.info.total_samples, static_cast<int64_t>(got.pcm.size()) / got.info.channels) << path;
            ++compared;
        }
    }
    EXPECT_GE(compared, 40);
}

}  // namespace
}  // namespace quv3::test
