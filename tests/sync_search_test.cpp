// Resynchronisation, stepping back, seeking and rewinding. Streams are built
// from silent frames (S) and self-contained tone frames (T) so the PCM tells
// which frame was decoded: a call's output is non-zero exactly when its frame or
// the frame decoded before it is a tone frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "decoder/api/quv3.h"
#include "decoder/stream/stream.h"
#include "tests/support/bit_writer.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/state_builder.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

HeaderSpec Stereo() {
    HeaderSpec h;
    h.mode = 0;
    return h;
}

// Every granule and channel codes line 0 = +1 at a high gain (table 1: "01", sign 0).
Bytes ToneFrame(const HeaderSpec& h) {
    SideInfo si{};
    BitWriter main;
    const int channels = h.mode == 3 ? 1 : 2;
    for (int gr = 0; gr < (h.id ? 2 : 1); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            si.part2_3_length[gr][ch] = 3;
            si.big_values[gr][ch] = 1;
            si.global_gain[gr][ch] = 250;
            si.table_select[gr][ch][0] = 1;
            main.PutString("01 0");
        }
    }
    main.PadToByte();
    return BuildFrame(h, si, main.bytes);
}

// "SSTSS": one frame per letter.
Bytes Pattern(const std::string& letters, const HeaderSpec& h = Stereo()) {
    Bytes b;
    for (char c : letters) Append(b, c == 'T' ? ToneFrame(h) : SilentFrame(h));
    return b;
}

bool Silent(const int16_t* pcm, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (pcm[i] != 0) return false;
    return true;
}

// Per Quv call: 'T' for non-zero output, 'S' for silence, '-' for nothing written.
std::string Listen(int max_calls = 1000) {
    std::string out;
    int16_t pcm[2304];
    for (int call = 0, r = 0; r == 0 && call < max_calls; ++call) {
        std::fill(std::begin(pcm), std::end(pcm), kSentinel);
        r = Quv(pcm);
        const size_t n = WrittenSamples(pcm, 2304);
        out += n == 0 ? '-' : (Silent(pcm, n) ? 'S' : 'T');
    }
    return out;
}

std::string DecodePattern(const Bytes& file) {
    TempFile f(file);
    if (InitQuv(f.path.c_str(), nullptr) != 0) return "init failed";
    const std::string heard = Listen();
    ExitQuv();
    return heard;
}

void DamageHeader(Bytes& file, size_t frame_start) {
    file[frame_start] = 0x00;
    file[frame_start + 1] = 0x00;
}

constexpr size_t kFrame = 417;  // 128 kbit/s, 44.1 kHz, no padding

TEST(Resync, PatternDecodesAsBuilt) {
    EXPECT_EQ(DecodePattern(Pattern("SSTSSSSS")), "SSTTSSSS");
}

TEST(Resync, DamagedHeaderLosesExactlyThatFrame) {
    Bytes file = Pattern("SSSSTSSSSSSSSS");
    DamageHeader(file, 4 * kFrame);
    EXPECT_EQ(DecodePattern(file), "SSSSSSSSSSSSS");  // 13 calls: the tone frame is gone
}

TEST(Resync, DamageWithinTheLast2003BytesEndsTheStream) {
    Bytes file = Pattern("SSSSSSSSTT");
    DamageHeader(file, 7 * kFrame);  // 1251 bytes before the end: no full block follows
    EXPECT_EQ(DecodePattern(file), "SSSSSSS");
}

TEST(Resync, MatchesBitrateAndModeChangesButNotAnotherRate) {
    HeaderSpec other_rate = Stereo();
    other_rate.sampling_frequency = 1;  // 48 kHz
    HeaderSpec faster = Stereo();
    faster.bitrate_index = 10;  // 160 kbit/s
    faster.padding_bit = 1;
    faster.mode = 1;
    faster.mode_extension = 2;
    Bytes file = Pattern("SS");
    Bytes garbage(100, 0x55);
    Append(file, garbage);  // no header where frame 3 should start
    Append(file, ToneFrame(other_rate));
    Append(file, ToneFrame(faster));
    Append(file, Pattern("SSSSSSSS"));
    // The 48 kHz frame is never matched; the 160 kbit/s joint-stereo frame is.
    EXPECT_EQ(DecodePattern(file), "SSTTSSSSSSS");
}

// Stage-level: where the file position stands after each move.
struct Opened {
    TempFile file;
    std::unique_ptr<LocalDecoder> s;
    explicit Opened(const Bytes& content) : file(content), s(OpenLocal(file.path)) { EXPECT_EQ(s->open_result, 0); }
    int64_t Pos() const { return TellInput(s->in); }
    void Decode(int frames) {
        int16_t pcm[2304];
        for (int i = 0; i < frames; ++i) s->Next(pcm);
    }
};

TEST(Seek, HalfwayIntoAMillionBytesLandsOnTheNextFrame) {
    Bytes file;
    while (file.size() < 1000000) Append(file, SilentFrame(Stereo()));
    file.resize(1000000);
    Opened st(file);
    EXPECT_EQ(SeekFraction(st.s->in, 0.5f), 0);
    const int64_t first_at_or_after = ((500000 + kFrame - 1) / kFrame) * kFrame;  // 500,400
    EXPECT_EQ(st.Pos(), first_at_or_after + 4);
    EXPECT_EQ(SeekFraction(st.s->in, 1.0f), -4);
}

TEST(Seek, ZeroOnARiffFileFindsTheFirstFrame) {
    Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    file.resize(36, 0);
    Append(file, {'d', 'a', 't', 'a', 0, 0, 0, 0});
    Append(file, Pattern("SSSSSSSSSS"));
    Opened st(file);
    st.Decode(3);
    EXPECT_EQ(SeekFraction(st.s->in, 0.0f), 0);
    EXPECT_EQ(st.Pos(), 44 + 4);
}

TEST(Seek, OddFractionsAreSafe) {
    Bytes file = Pattern("SSSSSSSSSSSS");
    Opened st(file);
    st.Decode(2);  // pending frame 2
    const int64_t frame3 = 3 * kFrame;
    // Negative and NaN targets do not move: the search starts at the current position.
    EXPECT_EQ(SeekFraction(st.s->in, -0.25f), 0);
    EXPECT_EQ(st.Pos(), frame3 + 4);
    EXPECT_EQ(SeekFraction(st.s->in, std::nanf("")), 0);
    EXPECT_EQ(st.Pos(), 4 * kFrame + 4);
    EXPECT_EQ(SeekFraction(st.s->in, 7.5f), -4);
    EXPECT_EQ(SeekFraction(st.s->in, INFINITY), -4);
    EXPECT_EQ(SeekFraction(st.s->in, -INFINITY), -4) << "from the end nothing follows";
}

TEST(StepBack, TwoStepsAfterFrameKRedecodeFrameKMinus1) {
    // k = 8: more than 2008 bytes into the stream.
    TempFile f(Pattern("SSSSSSSTSSSSSSSS"));
    ASSERT_EQ(InitQuv(f.path.c_str(), nullptr), 0);
    EXPECT_EQ(Listen(9), "SSSSSSSTT");  // frames 0..8 decoded, frame 9 pending
    EXPECT_EQ(QuvOneBck(), 0);
    EXPECT_EQ(QuvOneBck(), 0);
    EXPECT_EQ(Listen(1), "T") << "frame 7, the tone, again";
    ExitQuv();
    Opened st(Pattern("SSSSSSSSSSSS"));
    st.Decode(9);
    EXPECT_EQ(st.Pos(), 9 * kFrame + 4);
    StepBack(st.s->in);
    EXPECT_EQ(st.Pos(), 8 * kFrame + 4);
    StepBack(st.s->in);
    EXPECT_EQ(st.Pos(), 7 * kFrame + 4);
}

TEST(StepBack, WithinTheFirstFramesStaysOnAFrameBoundary) {
    HeaderSpec crc = Stereo();
    crc.protection_bit = 0;
    for (const HeaderSpec& h : {Stereo(), crc}) {
        Bytes file;
        for (int i = 0; i < 8; ++i) Append(file, SilentFrame(h));
        Opened st(file);
        const int64_t header = h.protection_bit ? 4 : 6;
        EXPECT_EQ(StepBack(st.s->in), 0);
        EXPECT_EQ(st.Pos(), header) << "right after opening: the first frame";
        st.Decode(3);
        EXPECT_EQ(StepBack(st.s->in), 0);
        EXPECT_EQ(st.Pos(), header) << "no earlier frame found: back to the first frame";
        EXPECT_EQ(st.s->in.header.bitrate_index, 9);
    }
}

TEST(Reset, ReproducesTheFirstFrameBitForBit) {
    const std::string path = std::string(QUV3_FIXTURES) + "/j44_128.mp3";
    ASSERT_EQ(InitQuv(path.c_str(), nullptr), 0);
    int16_t first[3][2304], again[3][2304];
    for (auto& f : first) Quv(f);
    for (int i = 0; i < 10; ++i) Quv(again[0]);
    EXPECT_EQ(ResetQuv(), 0);
    for (auto& f : again) Quv(f);
    EXPECT_EQ(std::memcmp(first, again, sizeof first), 0);
    ExitQuv();
    const std::string crc = std::string(QUV3_FIXTURES) + "/crc44_96.mp3";
    ASSERT_EQ(InitQuv(crc.c_str(), nullptr), 0);
    Quv(first[0]);
    EXPECT_EQ(ResetQuv(), 0);
    ExitQuv();
}

void Overwrite(const std::string& path, long offset, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, offset, SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Repositioning reads what the file holds now, not what was buffered before.
TEST(Reset, AnswersFromTheFileAsItIsNow) {
    const Bytes original = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    TempFile f(original);
    const Decoded first = DecodeWithQuv(f.path);
    ASSERT_EQ(InitQuv(f.path.c_str(), nullptr), 0);
    Listen();
    Overwrite(f.path, 0, {0, 0, 0, 0});
    EXPECT_EQ(ResetQuv(), -1);
    Overwrite(f.path, 0, {0xFF, 0xE3, 0x90, 0x64});  // MPEG 2.5
    EXPECT_EQ(ResetQuv(), -2);
    Overwrite(f.path, 0, Bytes(original.begin(), original.begin() + 4));
    EXPECT_EQ(ResetQuv(), 0);
    Pcm again;
    int16_t pcm[2304];
    for (int r = 0; r == 0;) {
        std::fill(std::begin(pcm), std::end(pcm), kSentinel);
        r = Quv(pcm);
        again.insert(again.end(), pcm, pcm + WrittenSamples(pcm, 2304));
    }
    ExitQuv();
    EXPECT_EQ(again, first.pcm);
}

TEST(StepBack, SeesAHeaderDamagedSinceItWasRead) {
    Opened st(Pattern("SSSSSSSSSSSS"));
    st.Decode(9);
    Overwrite(st.file.path, 8 * kFrame, {0, 0});
    StepBack(st.s->in);
    EXPECT_EQ(st.Pos(), 7 * kFrame + 4) << "frame 8's header is gone from the file";
}

}  // namespace
}  // namespace quv3::test
