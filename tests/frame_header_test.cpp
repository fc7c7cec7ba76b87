#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decoder/layer3/side_info.h"
#include "decoder/stream/stream.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

struct OpenFile {
    TempFile file;
    std::unique_ptr<Stream> s = std::make_unique<Stream>();
    explicit OpenFile(const Bytes& content) : file(content) { OpenInput(*s, file.path.c_str()); }
    ~OpenFile() { CloseInput(*s); }
};

TEST(FrameHeader, UnpacksEveryField) {
    OpenFile f({0xFF, 0xFB, 0x90, 0x64});
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);
    const FrameHeader& h = f.s->header;
    EXPECT_EQ(h.ID, 1);
    EXPECT_EQ(h.layer, 1);
    EXPECT_EQ(h.protection_bit, 1);
    EXPECT_EQ(h.bitrate_index, 9);
    EXPECT_EQ(h.sampling_frequency, 0);
    EXPECT_EQ(h.padding_bit, 0);
    EXPECT_EQ(h.private_bit, 0);
    EXPECT_EQ(h.mode, 1);
    EXPECT_EQ(h.mode_extension, 2);
    EXPECT_EQ(h.copyright, 0);
    EXPECT_EQ(h.original_copy, 1);
    EXPECT_EQ(h.emphasis, 0);
    EXPECT_EQ(HeaderBitrate(h), 128);
    EXPECT_EQ(HeaderSampleRate(h), 44100);
}

TEST(FrameHeader, SyncWordDecidesTheResult) {
    OpenFile f({0xFF, 0xF3, 0x90, 0x64, 0xFF, 0xE3, 0x90, 0x64, 0xFF, 0xD3, 0x90, 0x64, 0x7F, 0xFB, 0x90, 0x64, 0xFF});
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);
    EXPECT_EQ(f.s->header.ID, 0);
    const FrameHeader before = f.s->header;
    EXPECT_EQ(ReadFrameHeader(*f.s), -2);  // MPEG 2.5
    EXPECT_EQ(ReadFrameHeader(*f.s), -1);
    EXPECT_EQ(ReadFrameHeader(*f.s), -1);
    EXPECT_EQ(ReadFrameHeader(*f.s), -1);  // only one byte left
    // Failed reads keep the last valid header and consume four bytes each.
    EXPECT_EQ(std::memcmp(&before, &f.s->header, sizeof before), 0);
    EXPECT_EQ(TellInput(*f.s), 17);
}

// FF E2 40 64: sync 0xFFE, ID 0, Layer III, CRC, 32 kbit/s, sampling_frequency
// 0, no padding, joint stereo with mode extension 2: MPEG 2.5 at 11025 Hz.
TEST(FrameHeader, Mpeg25HeaderReadsOnlyWithTheRule) {
    const uint8_t bytes[4] = {0xFF, 0xE2, 0x40, 0x64};
    FrameHeader h{};
    h.bitrate_index = 7;
    EXPECT_EQ(ParseFrameHeader(bytes, h, false), -2);
    EXPECT_EQ(h.bitrate_index, 7) << "a refused header leaves h unchanged";
    ASSERT_EQ(ParseFrameHeader(bytes, h, true), 0);
    EXPECT_EQ(h.mpeg25, 1);
    EXPECT_EQ(h.ID, 0);
    EXPECT_EQ(h.layer, 1);
    EXPECT_EQ(h.protection_bit, 0);
    EXPECT_EQ(h.bitrate_index, 4);
    EXPECT_EQ(h.sampling_frequency, 0);
    EXPECT_EQ(h.padding_bit, 0);
    EXPECT_EQ(h.mode, 1);
    EXPECT_EQ(h.mode_extension, 2);
    EXPECT_EQ(h.original_copy, 1);
    // An LSF frame: the LSF bitrate row, 17 bytes of stereo side information,
    // 72000 x 32 / 11025 = 208.98 bytes.
    EXPECT_EQ(HeaderSampleRate(h), 11025);
    EXPECT_EQ(HeaderBitrate(h), 32);
    EXPECT_EQ(SideInfoByteCount(h), 17);
    EXPECT_EQ(FrameBytes(h), 208);
    EXPECT_TRUE(HeaderIsDecodable(h));
    h.sampling_frequency = 1;
    EXPECT_EQ(HeaderSampleRate(h), 12000);
    EXPECT_EQ(FrameBytes(h), 192);
    h.sampling_frequency = 2;
    EXPECT_EQ(HeaderSampleRate(h), 8000);
    EXPECT_EQ(FrameBytes(h), 288);
    h.bitrate_index = 14;  // 160 kbit/s at 8000 Hz: as long as the longest MPEG-1 frame
    EXPECT_EQ(FrameBytes(h), 1440);
    h.sampling_frequency = 3;
    EXPECT_EQ(HeaderSampleRate(h), 0);
    EXPECT_FALSE(HeaderIsDecodable(h));
}

// FF EA: sync 0xFFE with ID 1, reserved; no header with the rule, and without
// it refused like any 0xFFE header.
TEST(FrameHeader, Mpeg25SyncWithId1IsNoHeader) {
    const uint8_t bytes[4] = {0xFF, 0xEA, 0x40, 0x64};
    FrameHeader h{};
    EXPECT_EQ(ParseFrameHeader(bytes, h, true), -1);
    EXPECT_EQ(ParseFrameHeader(bytes, h, false), -2);
    EXPECT_EQ(h.layer, 0) << "h unchanged";
}

TEST(FrameHeader, OtherHeadersAreNotMpeg25WithTheRule) {
    const uint8_t mpeg1[4] = {0xFF, 0xFB, 0x90, 0x64};
    const uint8_t lsf[4] = {0xFF, 0xF3, 0x90, 0x64};
    const uint8_t no_sync[4] = {0xFF, 0xD3, 0x90, 0x64};
    FrameHeader h{};
    h.mpeg25 = 1;
    ASSERT_EQ(ParseFrameHeader(mpeg1, h, true), 0);
    EXPECT_EQ(h.mpeg25, 0);
    EXPECT_EQ(HeaderSampleRate(h), 44100);
    ASSERT_EQ(ParseFrameHeader(lsf, h, true), 0);
    EXPECT_EQ(h.mpeg25, 0);
    EXPECT_EQ(HeaderSampleRate(h), 22050);
    EXPECT_EQ(ParseFrameHeader(no_sync, h, true), -1);
}

// ReadFrameHeader follows the rules the stream was opened with.
TEST(FrameHeader, StreamReadsFollowItsRules) {
    const Bytes bytes = {0xFF, 0xE3, 0x44, 0xC4, 0xFF, 0xEB, 0x44, 0xC4, 0xFF, 0xF3, 0x44, 0xC4};
    OpenFile with_rule(bytes);
    with_rule.s->rules.mpeg25 = true;
    ASSERT_EQ(ReadFrameHeader(*with_rule.s), 0);
    EXPECT_EQ(with_rule.s->header.mpeg25, 1);
    EXPECT_EQ(HeaderSampleRate(with_rule.s->header), 12000);
    EXPECT_EQ(with_rule.s->header.mode, 3);
    EXPECT_EQ(ReadFrameHeader(*with_rule.s), -1);
    ASSERT_EQ(ReadFrameHeader(*with_rule.s), 0);
    EXPECT_EQ(with_rule.s->header.mpeg25, 0);
    EXPECT_EQ(HeaderSampleRate(with_rule.s->header), 24000);

    OpenFile without(bytes);
    EXPECT_EQ(ReadFrameHeader(*without.s), -2);
    EXPECT_EQ(ReadFrameHeader(*without.s), -2);
    EXPECT_EQ(ReadFrameHeader(*without.s), 0);
}

TEST(FrameHeader, ModeExtensionIsClearedForPlainStereoOnly) {
    OpenFile f({0xFF, 0xFB, 0x90, 0x30, 0xFF, 0xFB, 0x90, 0xB0});
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);
    EXPECT_EQ(f.s->header.mode, 0);
    EXPECT_EQ(f.s->header.mode_extension, 0);
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);
    EXPECT_EQ(f.s->header.mode, 2);
    EXPECT_EQ(f.s->header.mode_extension, 3);
}

TEST(FrameHeader, ReservedValuesAreReadButNotDecodable) {
    OpenFile f({0xFF, 0xF9, 0xFC, 0x00, 0xFF, 0xFB, 0x0C, 0x00, 0xFF, 0xFD, 0x90, 0x00});
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);  // layer 0, bitrate 15, rate 3
    EXPECT_EQ(f.s->header.layer, 0);
    EXPECT_EQ(f.s->header.bitrate_index, 15);
    EXPECT_EQ(f.s->header.sampling_frequency, 3);
    EXPECT_FALSE(HeaderIsDecodable(f.s->header));
    EXPECT_EQ(HeaderSampleRate(f.s->header), 0);
    EXPECT_EQ(FrameBytes(f.s->header), 0);
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);  // free format
    EXPECT_FALSE(HeaderIsDecodable(f.s->header));
    ASSERT_EQ(ReadFrameHeader(*f.s), 0);  // Layer II
    EXPECT_FALSE(HeaderIsDecodable(f.s->header));
}

TEST(FrameHeader, CrcWordIsSkippedBeforeTheSideInformation) {
    HeaderSpec h;
    h.protection_bit = 0;
    SideInfo si{};
    si.main_data_begin = 37;
    Bytes frame = BuildFrame(h, si, {});
    frame[4] = 0xAB;  // the CRC word, never verified
    frame[5] = 0xCD;
    OpenFile f(frame);
    ASSERT_EQ(ReadHeaderAndCrc(*f.s), 0);
    EXPECT_EQ(TellInput(*f.s), 6);
    EXPECT_EQ(f.s->header_reader.bit_pos, 16);
    SideInfo si_read{};
    ReadSideInfo(*f.s, si_read);
    EXPECT_EQ(si_read.main_data_begin, 37);
    EXPECT_EQ(TellInput(*f.s), 6 + 32);
}

TEST(FrameHeader, BitReadsSpanBytes) {
    HeaderBitReader r{};
    r.bytes[3] = 0x03;  // ...0000 0011
    r.bytes[4] = 0x80;  // 1000 0000...
    r.bit_pos = 30;
    EXPECT_EQ(ReadHeaderBits(r, 5), 0x1Cu);  // 11 100
    EXPECT_EQ(r.bit_pos, 35);
}

}  // namespace
}  // namespace quv3::test
