// The frame loop through the exported functions: frame lengths, the reservoir
// rule, PCM placement and the end of the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "decoder/api/quv3.h"
#include "decoder/layer3/layer3.h"
#include "decoder/stream/stream.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

struct Buffer {
    int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2 + 64];
    Buffer() { Fill(); }
    void Fill() { std::fill(std::begin(pcm), std::end(pcm), kSentinel); }
    size_t Written() const { return WrittenSamples(pcm, std::size(pcm)); }
};

TEST(FrameLength, FromBitrateAndRate) {
    FrameHeader h{};
    h.ID = 1;
    h.layer = 1;
    h.bitrate_index = 9;
    EXPECT_EQ(FrameBytes(h), 417);
    h.ID = 0;
    h.bitrate_index = 8;  // 64 kbit/s at 22050 Hz
    EXPECT_EQ(FrameBytes(h), 208);
    h.ID = 1;
    h.bitrate_index = 14;
    h.sampling_frequency = 2;  // 320 kbit/s at 32 kHz: the longest frame
    EXPECT_EQ(FrameBytes(h), 1440);
}

TEST(FrameLength, MainDataIsTheFrameLessHeaderAndSideInformation) {
    for (int padding : {0, 1}) {
        HeaderSpec h;
        h.padding_bit = padding;
        Bytes file = SilentFrame(h);
        Append(file, SilentFrame(h));
        TempFile f(file);
        auto s = std::make_unique<DecoderState>();
        PrepareTables(*s);
        ASSERT_EQ(OpenStream(*s, f.path.c_str()), 0);
        int16_t pcm[2304];
        DecodeFrame(*s, pcm);
        EXPECT_EQ(s->main_data.fill, 381 + padding);
        EXPECT_EQ(TellInput(*s), 417 + padding);
        CloseInput(*s);
    }
}

TEST(Reservoir, FirstFrameReachingBeforeTheStartOnlyFeedsTheReservoir) {
    HeaderSpec h;
    SideInfo si{};
    si.main_data_begin = 100;
    Bytes file = BuildFrame(h, si, {});
    Append(file, SilentFrame(h));
    TempFile f(file);
    ASSERT_EQ(InitQuv(f.path.c_str(), nullptr), 0);
    Buffer b;
    EXPECT_EQ(Quv(b.pcm), 0);
    EXPECT_EQ(b.Written(), 0u) << "the skipped frame writes nothing";
    EXPECT_EQ(Quv(b.pcm), -4);
    EXPECT_EQ(b.Written(), 2304u);
    ExitQuv();
}

TEST(EndOfStream, LastFrameComesWithMinusFourAndStaysThere) {
    HeaderSpec h;
    TempFile f([&] {
        Bytes b;
        for (int i = 0; i < 3; ++i) Append(b, SilentFrame(h));
        return b;
    }());
    ASSERT_EQ(InitQuv(f.path.c_str(), nullptr), 0);
    Buffer b;
    EXPECT_EQ(Quv(b.pcm), 0);
    EXPECT_EQ(Quv(b.pcm), 0);
    b.Fill();
    EXPECT_EQ(Quv(b.pcm), -4);
    EXPECT_EQ(b.Written(), 2304u) << "the last frame's PCM is valid";
    b.Fill();
    EXPECT_EQ(Quv(b.pcm), -4);
    EXPECT_EQ(b.Written(), 0u);
    EXPECT_EQ(SeekQuv(0.5f), -4) << "no frame header after the middle of a 3-frame file in a full block";
    EXPECT_EQ(Quv(b.pcm), -4);
    EXPECT_EQ(ResetQuv(), 0);
    EXPECT_EQ(Quv(b.pcm), 0);
    EXPECT_EQ(b.Written(), 2304u);
    ExitQuv();
}

TEST(PcmPlacement, SamplesPerCallByLayout) {
    struct Case {
        int id, mode, bitrate_index;
        size_t samples;
    } cases[] = {{1, 1, 9, 2304}, {1, 3, 9, 1152}, {0, 1, 8, 1152}, {0, 3, 8, 576}};
    for (const Case& c : cases) {
        HeaderSpec h;
        h.id = c.id;
        h.mode = c.mode;
        h.bitrate_index = c.bitrate_index;
        Bytes file;
        for (int i = 0; i < 3; ++i) Append(file, SilentFrame(h));
        TempFile f(file);
        StreamInfo* info = nullptr;
        ASSERT_EQ(InitQuv(f.path.c_str(), &info), 0);
        Buffer b;
        EXPECT_EQ(Quv(b.pcm), 0);
        EXPECT_EQ(b.Written(), c.samples) << c.id << " " << c.mode;
        EXPECT_EQ(c.samples, static_cast<size_t>(info->samples_per_frame * info->channels));
        ExitQuv();
    }
}

// A real stream decodes the same through the exports as through the stages on a
// local state, and its reservoir wraps the ring many times.
TEST(FrameLoop, ExportsAndStagesAgree) {
    const std::string path = std::string(QUV3_FIXTURES) + "/s48_160.mp3";
    const Decoded via_exports = DecodeWithQuv(path);
    ASSERT_EQ(via_exports.init_result, 0);
    auto s = std::make_unique<DecoderState>();
    PrepareTables(*s);
    ASSERT_EQ(OpenStream(*s, path.c_str()), 0);
    Pcm staged;
    int frames = 0;
    for (;;) {
        Buffer b;
        DecodeFrame(*s, b.pcm);
        ++s->call_count;
        staged.insert(staged.end(), b.pcm, b.pcm + b.Written());
        ++frames;
        if (ReadNextHeader(*s) != 0) break;
    }
    CloseInput(*s);
    EXPECT_GT(frames * 500, 4096) << "main data passes the ring's end";
    EXPECT_EQ(staged, via_exports.pcm);
}

// Headers that carry the sync word but cannot be sized are skipped like damaged ones.
TEST(FrameLoop, UndecodableHeaderMidStreamIsSkipped) {
    for (int bad_index : {0, 15}) {
        HeaderSpec h;
        Bytes file;
        for (int i = 0; i < 12; ++i) {
            Bytes frame = SilentFrame(h);
            if (i == 5) frame[2] = static_cast<uint8_t>((frame[2] & 0x0F) | (bad_index << 4));
            Append(file, frame);
        }
        TempFile f(file);
        const Decoded d = DecodeWithQuv(f.path);
        ASSERT_EQ(d.init_result, 0);
        EXPECT_EQ(d.frames_written, 11) << "bitrate index " << bad_index;
        for (int16_t v : d.pcm) ASSERT_EQ(v, 0);
    }
    // The reserved sampling frequency has no rate and no band table.
    HeaderSpec h;
    Bytes file;
    for (int i = 0; i < 12; ++i) {
        Bytes frame = SilentFrame(h);
        if (i == 5) frame[2] |= 0x0C;
        Append(file, frame);
    }
    TempFile f(file);
    EXPECT_EQ(DecodeWithQuv(f.path).frames_written, 11);
}

TEST(FrameLoop, TruncatedLastFrameEndsTheStreamSafely) {
    const Bytes full = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    for (size_t cut : {full.size() - 1, full.size() - 200, full.size() / 2 + 7}) {
        TempFile f(Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
        const Decoded d = DecodeWithQuv(f.path);
        ASSERT_EQ(d.init_result, 0);
        EXPECT_GT(d.frames_written, 1);
    }
}

}  // namespace
}  // namespace quv3::test
