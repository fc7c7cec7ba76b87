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
