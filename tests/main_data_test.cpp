// The bit reservoir ring: reads across its end and appends of any size.
#include <gtest/gtest.h>

#include <memory>

#include "decoder/layer3/main_data.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

// The file the main data comes from and the ring it goes to.
struct Reservoir {
    Stream in;
    MainDataBuffer main_data{};
};

TEST(MainDataBuffer, ZeroWidthReadChangesNothing) {
    auto s = std::make_unique<Reservoir>();
    s->main_data.bytes[0] = 0xFF;
    s->main_data.bit_pos = 5;
    EXPECT_EQ(ReadMainDataBits(s->main_data, 0), 0u);
    EXPECT_EQ(s->main_data.bit_pos, 5);
}

TEST(MainDataBuffer, ReadAcrossTheRingEndWraps) {
    auto s = std::make_unique<Reservoir>();
    // Appending fills the mirror of the first bytes past the end.
    Bytes data(kRingBytes, 0);
    data[4095] = 0xA5;
    data[0] = 0x3C;
    TempFile f(data);
    OpenInput(s->in, f.path.c_str());
    AppendMainData(s->in, s->main_data, 2048);
    AppendMainData(s->in, s->main_data, 2048);
    CloseInput(s->in);
    EXPECT_EQ(s->main_data.fill, 0);
    s->main_data.bit_pos = 32760;
    EXPECT_EQ(ReadMainDataBits(s->main_data, 12), 0xA53u);
    EXPECT_EQ(s->main_data.bit_pos, 4);
}

TEST(MainDataBuffer, ShortAppendKeepsOldBytesAndAdvances) {
    auto s = std::make_unique<Reservoir>();
    s->main_data.fill = 4090;
    for (int i = 0; i < 10; ++i) s->main_data.bytes[(4090 + i) % 4096] = 0x11;
    s->main_data.bytes[4096] = s->main_data.bytes[0];
    TempFile f({0xAA, 0xBB, 0xCC});
    OpenInput(s->in, f.path.c_str());
    AppendMainData(s->in, s->main_data, 10);  // the file delivers 3 of 10 bytes
    CloseInput(s->in);
    EXPECT_EQ(s->main_data.fill, 4);
    EXPECT_EQ(s->main_data.bytes[4090], 0xAA);
    EXPECT_EQ(s->main_data.bytes[4092], 0xCC);
    EXPECT_EQ(s->main_data.bytes[4093], 0x11);
    EXPECT_EQ(s->main_data.bytes[0], 0x11);
    EXPECT_EQ(s->main_data.bytes[3], 0x11);
}

// Reads the same bit sequence whatever the sizes of the appends that put it
// across the ring's end.
TEST(MainDataBuffer, StraddlingDataReadsAlikeForAnyAppendSizes) {
    Bytes data(6000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
    TempFile f(data);
    std::vector<uint32_t> reference;
    for (int split : {1, 7, 100, 1441, 2048}) {
        auto s = std::make_unique<Reservoir>();
        OpenInput(s->in, f.path.c_str());
        int32_t total = 0;
        while (total < 6000) {
            const int32_t n = std::min<int32_t>(split, 6000 - total);
            AppendMainData(s->in, s->main_data, n);
            total += n;
        }
        CloseInput(s->in);
        // Read 2000 bytes' worth of 13-bit fields starting at file byte 3000 = ring index 3000.
        s->main_data.bit_pos = 3000 * 8;
        std::vector<uint32_t> got;
        for (int k = 0; k < 1200; ++k) got.push_back(ReadMainDataBits(s->main_data, 13));
        if (reference.empty()) {
            reference = got;
            // Check against the file bytes directly: ring index i holds file byte 4096 + i for i < 1904.
            uint64_t bitpos = 3000 * 8;
            for (int k = 0; k < 1200; ++k) {
                uint32_t v = 0;
                for (int b = 0; b < 13; ++b, ++bitpos) {
                    const uint64_t ring = (bitpos / 8) % 4096;
                    const uint8_t src = data[ring < 6000 - 4096 ? ring + 4096 : ring];
                    v = (v << 1) | ((src >> (7 - bitpos % 8)) & 1);
                }
                ASSERT_EQ(got[k], v) << k;
            }
        } else {
            EXPECT_EQ(got, reference) << "append size " << split;
        }
    }
}

}  // namespace
}  // namespace quv3::test
