// The frame loop through the exported functions: frame lengths, the reservoir
// rule, PCM placement and the end of the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "decoder/api/quv3.h"
#include "decoder/layer3/frame_decoder.h"
#include "tests/support/state_builder.h"
#include "tests/support/bit_writer.h"
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
        auto s = OpenLocal(f.path);
        ASSERT_EQ(s->open_result, 0);
        int16_t pcm[2304];
        DecodeFrame(*s->kernels, s->in, s->d, PcmOut{pcm});
        EXPECT_EQ(s->d.main_data.fill, 381 + padding);
        EXPECT_EQ(TellInput(s->in), 417 + padding);
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
    auto s = OpenLocal(path);
    ASSERT_EQ(s->open_result, 0);
    Pcm staged;
    int frames = 0;
    for (int r = 0; r == 0; ++frames) {
        Buffer b;
        r = s->Next(b.pcm);
        staged.insert(staged.end(), b.pcm, b.pcm + b.Written());
    }
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

// One granule and channel of a crafted joint-stereo frame: its block layout,
// scale factors (every one written with the same value) and the lines 0, 2, 4,
// ... it codes as +1 (table 1, "01 0" per pair).
struct GranuleSpec {
    bool short_blocks = false;
    int scalefac_compress = 0;
    int scale_factor_bits = 0;  // bits of scale factors this granule transmits
    int scale_factor_width = 0;  // all of one width; value 1 in each
    int pairs = 1;
    int scfsi = 0;  // MPEG-1 granule 1, channel 0: all four groups reused
};

Bytes JointFrame(const HeaderSpec& h, const GranuleSpec (&g)[2][2]) {
    SideInfo si{};
    BitWriter main;
    for (int gr = 0; gr < (h.id ? 2 : 1); ++gr) {
        for (int ch = 0; ch < 2; ++ch) {
            const GranuleSpec& p = g[gr][ch];
            si.big_values[gr][ch] = p.pairs;
            si.global_gain[gr][ch] = 200;
            si.scalefac_compress[gr][ch] = p.scalefac_compress;
            si.table_select[gr][ch][0] = si.table_select[gr][ch][1] = si.table_select[gr][ch][2] = 1;
            si.region0_count[gr][ch] = 15;
            si.region1_count[gr][ch] = 7;
            if (p.short_blocks) {
                si.window_switching_flag[gr][ch] = 1;
                si.block_type[gr][ch] = 2;
                si.subblock_gain[gr][ch][0] = 3, si.subblock_gain[gr][ch][1] = 5, si.subblock_gain[gr][ch][2] = 7;
            }
            if (gr == 1 && ch == 0) si.scfsi[0][0] = si.scfsi[0][1] = si.scfsi[0][2] = si.scfsi[0][3] = p.scfsi;
            for (int b = 0; b < p.scale_factor_bits; b += p.scale_factor_width) main.Put(1, p.scale_factor_width);
            for (int k = 0; k < p.pairs; ++k) main.PutString("01 0");
            si.part2_3_length[gr][ch] = p.scale_factor_bits + 3 * p.pairs;
        }
    }
    main.PadToByte();
    return BuildFrame(h, si, main.bytes);
}

Pcm DecodeFrames(const HeaderSpec& h, const GranuleSpec (&g)[2][2]) {
    Bytes file;
    for (int i = 0; i < 4; ++i) Append(file, JointFrame(h, g));
    TempFile f(file);
    const Decoded d = DecodeWithQuv(f.path);
    EXPECT_EQ(d.frames_written, 4);
    return d.pcm;
}

// What a granule does not transmit reads as 0, never as what an earlier granule
// or file left: a stream decodes to the same samples whatever came before.
TEST(UntransmittedValues, SameStreamSameSamplesAfterAnotherStream) {
    HeaderSpec mpeg1;
    mpeg1.mode = 1;
    mpeg1.mode_extension = 2;  // mid/side
    // Channel 0 short, channel 1 long: both take channel 0's layout, so channel
    // 1's short scale factors and subblock gains are read. Granule 1 reuses
    // (scfsi) the long scale factors of a short granule 0.
    const GranuleSpec a[2][2] = {{{.short_blocks = true}, {}}, {{.scalefac_compress = 15, .scfsi = 1}, {}}};
    // Every value the other stream could read is transmitted here, non-zero.
    const GranuleSpec sl{.scalefac_compress = 15, .scale_factor_bits = 11 * 4 + 10 * 3, .scale_factor_width = 1};
    const GranuleSpec ss{.short_blocks = true, .scalefac_compress = 15, .scale_factor_bits = 18 * 4 + 18 * 3,
                         .scale_factor_width = 1};
    const GranuleSpec b[2][2] = {{sl, ss}, {sl, ss}};
    // LSF intensity stereo with channel 0 long and channel 1 short: the largest
    // positions of the long bands are not transmitted. The other stream's channel 1
    // is long with 3-bit intensity positions (scalefac_compress 258: widths 3, 3, 3).
    HeaderSpec lsf = mpeg1;
    lsf.id = 0;
    lsf.bitrate_index = 8;
    lsf.mode_extension = 1;
    const GranuleSpec la[2][2] = {{{.pairs = 5}, {.short_blocks = true}}, {}};
    const GranuleSpec lb[2][2] = {
        {{.pairs = 5}, {.scalefac_compress = 258, .scale_factor_bits = 21 * 3, .scale_factor_width = 3}}, {}};
    for (const auto& [h, first, other] : {std::tuple{mpeg1, &a, &b}, std::tuple{lsf, &la, &lb}}) {
        const Pcm before = DecodeFrames(h, *first);
        DecodeFrames(h, *other);
        EXPECT_EQ(DecodeFrames(h, *first), before) << "ID " << h.id;
        bool audible = false;
        for (int16_t v : before) audible |= v != 0;
        EXPECT_TRUE(audible);
    }
}

}  // namespace
}  // namespace quv3::test
