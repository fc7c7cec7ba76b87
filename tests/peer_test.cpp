// Our own encoded fixtures against libmpg123, an independent decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "decoder/api/quv3.h"
#include "tests/support/pcm_compare.h"

namespace quv3::test {
namespace {

struct Fixture {
    const char* name;
    int channels;
    int rate;
};

constexpr Fixture kFixtures[] = {
    {"j44_128", 2, 44100},   {"s48_160", 2, 48000},    {"m32_64", 1, 32000},    {"j22_64_lsf", 2, 22050},
    {"m24_32_lsf", 1, 24000}, {"s16_48_lsf", 2, 16000}, {"m22_24_lsf", 1, 22050}, {"vbr44_xing", 2, 44100},
    {"crc44_96", 2, 44100},  {"dual44_128", 2, 44100}, {"m44_320_notag", 1, 44100}, {"shine44_128", 2, 44100},
    {"j48_32", 2, 48000},
};

// MPEG 2.5 streams, which only the re-entrant API decodes (8, 11.025, 12 kHz).
constexpr Fixture kMpeg25Fixtures[] = {
    {"j8_16_mpeg25", 2, 8000}, {"m11_24_mpeg25", 1, 11025}, {"j12_32_mpeg25", 2, 12000}};

// Our decode of the fixture against libmpg123's, as one table row.
void CompareWithLibmpg123(const Fixture& f, const std::string& path, const Decoded& ours) {
    EXPECT_EQ(ours.channels, f.channels) << f.name;
    EXPECT_EQ(ours.sample_rate, f.rate) << f.name;
    const PeerDecoded peer = DecodeWithMpg123(path);
    ASSERT_TRUE(peer.ok) << f.name;
    ASSERT_EQ(peer.channels, f.channels) << f.name;
    EXPECT_EQ(peer.rate, f.rate) << f.name;
    // libmpg123 does not output the tag frame that carries an Info/Xing header;
    // we decode it (as silence). Align on whole frames.
    const size_t frame = static_cast<size_t>(ours.samples_per_frame) * ours.channels;
    Comparison best;
    size_t best_offset = 0;
    for (size_t k = 0; k < 3; ++k) {
        const Comparison c = Compare(ours.pcm, peer.pcm, k * frame, 0);
        if (c.samples > 0 && (best.samples == 0 || c.psnr > best.psnr)) best = c, best_offset = k;
    }
    std::printf("%-16s %10.2f %8d %10zu %8zu\n", f.name, best.psnr, best.max_diff, best.samples, best_offset);
    EXPECT_GE(best.psnr, 96.0) << f.name;
    EXPECT_GE(best.samples + 3 * frame, peer.pcm.size()) << f.name;
}

TEST(PeerDecoder, FixturesMatchLibmpg123) {
    std::printf("%-16s %10s %8s %10s %8s\n", "fixture", "PSNR dB", "max diff", "samples", "offset");
    for (const Fixture& f : kFixtures) {
        const std::string path = std::string(QUV3_FIXTURES) + "/" + f.name + ".mp3";
        const Decoded ours = DecodeWithQuv(path);
        ASSERT_EQ(ours.init_result, 0) << f.name;
        CompareWithLibmpg123(f, path, ours);
    }
}

TEST(PeerDecoder, Mpeg25FixturesMatchLibmpg123ThroughTheDecoderApi) {
    std::printf("%-16s %10s %8s %10s %8s\n", "fixture", "PSNR dB", "max diff", "samples", "offset");
    for (const Fixture& f : kMpeg25Fixtures) {
        const std::string path = std::string(QUV3_FIXTURES) + "/" + f.name + ".mp3";
        const Decoded ours = DecodeWithDecoderApi(path);
        ASSERT_EQ(ours.init_result, 0) << f.name;
        EXPECT_EQ(ours.version, 3) << f.name;
        EXPECT_EQ(ours.samples_per_frame, 576) << f.name;
        CompareWithLibmpg123(f, path, ours);
        // The exports keep refusing MPEG 2.5.
        EXPECT_EQ(InitQuv(path.c_str(), nullptr), -2) << f.name;
    }
}

}  // namespace
}  // namespace quv3::test
