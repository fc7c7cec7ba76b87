// Opening a stream through the exported functions: where the frames start,
// the stream description and the result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decoder/api/quv3.h"
#include "decoder/stream/stream.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

StreamInfo* const kUntouched = reinterpret_cast<StreamInfo*>(0x1234);

void PutBe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A frame whose main data begins with a Xing tag and its two counts.
Bytes XingFrame(const HeaderSpec& h, uint32_t frames, uint32_t bytes) {
    Bytes tag = {'X', 'i', 'n', 'g', 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0};
    PutBe32(tag, 8, frames);
    PutBe32(tag, 12, bytes);
    SideInfo si{};
    return BuildFrame(h, si, tag);
}

Bytes Frames(const HeaderSpec& h, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) Append(b, SilentFrame(h));
    return b;
}

struct Opened {
    int32_t result;
    StreamInfo info{};
};

Opened Open(const Bytes& content) {
    TempFile f(content);
    StreamInfo* p = kUntouched;
    Opened o{InitQuv(f.path.c_str(), &p)};
    if (o.result == 0) {
        o.info = *p;
        ExitQuv();
    } else {
        EXPECT_EQ(p, kUntouched);
        EXPECT_EQ(ExitQuv(), -1) << "a failed InitQuv leaves no file open";
    }
    return o;
}

TEST(StreamOpen, RiffDataChunkAt36StartsTheFramesAt44WithoutXingSearch) {
    HeaderSpec h;
    Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    file.resize(36, 0);
    Append(file, {'d', 'a', 't', 'a', 0, 0, 0, 0});
    Append(file, XingFrame(h, 1001, 418000));
    Append(file, Frames(h, 3));
    TempFile f(file);
    auto s = std::make_unique<Stream>();
    StreamDescription d{};
    ASSERT_EQ(OpenStream(*s, f.path.c_str(), d), 0);
    EXPECT_EQ(s->data_start, 44);
    EXPECT_EQ(s->stream_length, static_cast<int64_t>(file.size()) - 44);
    EXPECT_EQ(d.vbr, 0);
    EXPECT_EQ(d.bitrate, 128);
    EXPECT_EQ(TellInput(*s), 44 + 4);
    CloseInput(*s);
}

TEST(StreamOpen, BareStreamWithDataTagInsideTheFirstFrameIsRefused) {
    HeaderSpec h;
    SideInfo si{};
    Bytes file = BuildFrame(h, si, {'d', 'a', 't', 'a'});
    Append(file, Frames(h, 2));
    EXPECT_EQ(Open(file).result, -1);
}

TEST(StreamOpen, XingHeaderGivesTotalSamplesAndAverageBitrate) {
    HeaderSpec h;
    Bytes file = XingFrame(h, 1001, 418000);
    Append(file, Frames(h, 2));
    const Opened o = Open(file);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.info.vbr, 1);
    EXPECT_EQ(o.info.total_samples, 1152000);
    EXPECT_EQ(o.info.bitrate, 128);  // 418000 x 44100 x 0.008 / 1152000 + 0.5 = 128.51
}

TEST(StreamOpen, LsfXingCountsFramesOf576) {
    HeaderSpec h;
    h.id = 0;
    h.bitrate_index = 8;  // 64 kbit/s at 22050 Hz
    Bytes file = XingFrame(h, 101, 20800);
    Append(file, Frames(h, 2));
    const Opened o = Open(file);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.info.version, 2);
    EXPECT_EQ(o.info.samples_per_frame, 576);
    EXPECT_EQ(o.info.total_samples, 57600);
    EXPECT_EQ(o.info.bitrate, 64);  // 20800 x 22050 x 0.008 / 57600 + 0.5 = 64.2
}

// 0 or 1 frames have no duration; a sample count past the 32-bit field is
// capped, as a constant-bitrate stream's is, and the bitrate comes from the
// true count (3 GB over 2,000,000 frames of 1152 samples at 44.1 kHz: 459
// kbit/s, where the capped count would give 493).
TEST(StreamOpen, XingCountsWithoutDurationOrBeyondTheField) {
    HeaderSpec h;
    for (uint32_t frames : {0u, 1u, 2000001u}) {
        Bytes file = XingFrame(h, frames, frames > 1 ? 3000000000u : 5000);
        Append(file, Frames(h, 2));
        const Opened o = Open(file);
        ASSERT_EQ(o.result, 0);
        EXPECT_EQ(o.info.vbr, 1);
        EXPECT_EQ(o.info.total_samples, frames < 2 ? 0 : 0x7FFFFFFF) << frames;
        EXPECT_EQ(o.info.bitrate, frames < 2 ? 0 : 459) << frames;
    }
}

TEST(StreamOpen, ConstantBitrateTotalSamples) {
    HeaderSpec h;
    Bytes file;
    while (file.size() < 1000000) Append(file, SilentFrame(h));
    file.resize(1000000);
    const Opened o = Open(file);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.info.version, 1);
    EXPECT_EQ(o.info.layer, 3);
    EXPECT_EQ(o.info.channels, 2);
    EXPECT_EQ(o.info.bitrate, 128);
    EXPECT_EQ(o.info.sample_rate, 44100);
    EXPECT_EQ(o.info.bits_per_sample, 16);
    EXPECT_EQ(o.info.samples_per_frame, 1152);
    EXPECT_EQ(o.info.total_samples, 2756250);
    EXPECT_EQ(o.info.vbr, 0);
}

TEST(StreamOpen, FirstHeaderWithoutTableBitrateOpensWithoutDuration) {
    for (int index : {0, 15}) {
        HeaderSpec h;
        h.bitrate_index = index;
        Bytes file = HeaderBytes(h);
        file.resize(2000, 0);
        const Opened o = Open(file);
        ASSERT_EQ(o.result, 0) << index;
        EXPECT_EQ(o.info.bitrate, 0);
        EXPECT_EQ(o.info.total_samples, 0);
    }
}

// Free format: the frame length is measured between the first headers.
TEST(StreamOpen, FreeFormatStreamsAreMeasuredAndDecoded) {
    HeaderSpec h;
    h.bitrate_index = 0;
    Bytes file;
    for (int i = 0; i < 20; ++i) {
        Bytes frame = HeaderBytes(h);
        frame.resize(300, 0);  // side information and main data all zero: silence
        Append(file, frame);
    }
    TempFile f(file);
    StreamInfo* info = nullptr;
    ASSERT_EQ(InitQuv(f.path.c_str(), &info), 0);
    EXPECT_EQ(info->bitrate, 300 * 44100 / 144000);
    EXPECT_EQ(info->total_samples, static_cast<int32_t>(6000.0 * 44100 / (info->bitrate * 125.0)));
    ExitQuv();
    const Decoded d = DecodeWithQuv(f.path);
    EXPECT_EQ(d.frames_written, 20);
}

TEST(StreamOpen, ResultCodes) {
    EXPECT_EQ(InitQuv("/nonexistent/dir/file.mp3", nullptr), -5);
    EXPECT_EQ(ExitQuv(), -1);
    HeaderSpec h;
    Bytes zeros(4000, 0);
    EXPECT_EQ(Open(zeros).result, -1);
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10};
    tagged.resize(10 + 10, 0);
    Append(tagged, Frames(h, 3));
    EXPECT_EQ(Open(tagged).result, -1) << "nothing but a RIFF chunk is skipped";
    EXPECT_EQ(Open(HeaderBytes(h, 0xFFE)).result, -2);
    HeaderSpec layer2 = h;
    layer2.layer = 2;
    EXPECT_EQ(Open(Frames(layer2, 2)).result, -6);
    HeaderSpec reserved_rate = h;
    reserved_rate.sampling_frequency = 3;
    Bytes rate3 = HeaderBytes(reserved_rate);
    rate3.resize(1000, 0);
    EXPECT_EQ(Open(rate3).result, -1) << "a reserved sampling frequency gives no stream";
    EXPECT_EQ(Open({}).result, -1);
}

TEST(StreamOpen, SecondInitQuvReusesTheRecord) {
    HeaderSpec h;
    TempFile a(Frames(h, 3));
    HeaderSpec mono = h;
    mono.mode = 3;
    mono.id = 0;
    mono.bitrate_index = 4;
    TempFile b(Frames(mono, 3));
    StreamInfo* first = nullptr;
    StreamInfo* second = nullptr;
    ASSERT_EQ(InitQuv(a.path.c_str(), &first), 0);
    EXPECT_EQ(first->channels, 2);
    ASSERT_EQ(InitQuv(b.path.c_str(), &second), 0);  // the first file is closed by it
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->channels, 1);
    EXPECT_EQ(second->version, 2);
    EXPECT_EQ(second->samples_per_frame, 576);
    EXPECT_EQ(ExitQuv(), 0);
    EXPECT_EQ(ExitQuv(), -1);
}

TEST(StreamOpen, LsfMonoFramesWrite576Samples) {
    HeaderSpec h;
    h.id = 0;
    h.mode = 3;
    h.bitrate_index = 8;
    TempFile f(Frames(h, 4));
    StreamInfo* info = nullptr;
    ASSERT_EQ(InitQuv(f.path.c_str(), &info), 0);
    int16_t pcm[2304];
    std::fill(std::begin(pcm), std::end(pcm), int16_t{-32768});
    EXPECT_EQ(Quv(pcm), 0);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(pcm[i], 0) << i;
    for (int i = 576; i < 2304; ++i) ASSERT_EQ(pcm[i], -32768) << i;
    ExitQuv();
}

// MPEG 2.5: refused by the exports (-2), opened by a stream with the mpeg25
// rule as an LSF stream at 8000 Hz whose sync pattern keeps LSF frames out.
TEST(StreamOpen, Mpeg25OpensOnlyWithTheRule) {
    HeaderSpec h;
    h.id = 0;
    h.mpeg25 = 1;
    h.sampling_frequency = 2;  // 8000 Hz
    h.bitrate_index = 2;  // 16 kbit/s: 72000 x 16 / 8000 = 144 bytes a frame
    h.mode = 3;
    ASSERT_EQ(FrameLength(h), 144);
    const Bytes file = Frames(h, 10);
    EXPECT_EQ(Open(file).result, -2);

    TempFile f(file);
    auto s = std::make_unique<Stream>();
    StreamDescription d{};
    ASSERT_EQ(AttachFile(s->source, f.path.c_str(), false), 0);
    ASSERT_EQ(OpenStream(*s, OpenRules{false, true, false}, d), 0);
    EXPECT_EQ(s->header.mpeg25, 1);
    EXPECT_EQ(d.version, 3);
    EXPECT_EQ(d.sample_rate, 8000);
    EXPECT_EQ(d.channels, 1);
    EXPECT_EQ(d.samples_per_frame, 576);
    EXPECT_EQ(d.bitrate, 16);
    EXPECT_EQ(d.total_samples, 1440 * 8000 / (16 * 125)) << "10 frames of 576";
    HeaderSpec other_bitrate = h;
    other_bitrate.bitrate_index = 5;
    HeaderSpec lsf = h;
    lsf.mpeg25 = 0;
    EXPECT_TRUE(MatchesSyncPattern(*s, HeaderBytes(other_bitrate).data()));
    EXPECT_FALSE(MatchesSyncPattern(*s, HeaderBytes(lsf).data())) << "16000 Hz LSF";
    CloseInput(*s);

    // The re-entrant API opens its streams with the rule: ten frames of 576.
    OwnedDecoder owned;
    quv3_decoder* dec = owned.d;
    ASSERT_NE(dec, nullptr);
    ASSERT_EQ(quv3_open_memory(dec, file.data(), file.size(), 0), QUV3_OK);
    quv3_info info{};
    ASSERT_EQ(quv3_get_info(dec, &info), 0);
    EXPECT_EQ(info.version, 3);
    EXPECT_EQ(info.sample_rate, 8000);
    EXPECT_EQ(info.total_samples, 5760);
    int16_t pcm[QUV3_MAX_FRAME_VALUES];
    int32_t samples = 0, total = 0, r = 0;
    for (int call = 0; r == 0 && call < 20; ++call) {
        r = quv3_decode_frame(dec, pcm, QUV3_S16, &samples);
        total += samples;
    }
    EXPECT_EQ(r, QUV3_END);
    EXPECT_EQ(total, 5760);
    // 0xFFE with ID 1 is reserved: no header, also for the re-entrant API.
    Bytes reserved = file;
    reserved[1] |= 0x08;
    EXPECT_EQ(quv3_open_memory(dec, reserved.data(), reserved.size(), 0), QUV3_NO_SYNC);
    EXPECT_EQ(Open(reserved).result, -2);
}

}  // namespace
}  // namespace quv3::test
