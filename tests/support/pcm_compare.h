#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "decoder/api/quv3_decoder.h"

namespace quv3 {
struct Kernels;
}

namespace quv3::test {

using Pcm = std::vector<int16_t>;

// Everything Quv delivers for a file through the exported functions, frame after
// frame as written (frames the library leaves unwritten are detected by a
// sentinel the library never outputs and contribute nothing).
struct Decoded {
    int32_t init_result = 0;
    int version = 0;
    int channels = 0;
    int sample_rate = 0;
    int samples_per_frame = 0;
    int frames_written = 0;
    int frames_skipped = 0;
    Pcm pcm;
};
Decoded DecodeWithQuv(const std::string& path, int max_calls = 1 << 20);
// The same through the re-entrant API (quv3_open_file, quv3_decode_frame as
// 16-bit samples), with the decoder's own kernels or the given ones:
// init_result is quv3_open_file's result, version quv3_get_info's (3 for
// MPEG 2.5), and a call that writes no samples counts as skipped.
Decoded DecodeWithDecoderApi(const std::string& path, const Kernels* kernels = nullptr);

// A decoder of the re-entrant API in memory of its own, made ready by
// quv3_decoder_init; its stream is closed when it goes.
struct OwnedDecoder {
    std::vector<unsigned char> memory;
    quv3_decoder* d = nullptr;
    OwnedDecoder();
    ~OwnedDecoder();
    OwnedDecoder(const OwnedDecoder&) = delete;
    OwnedDecoder& operator=(const OwnedDecoder&) = delete;
};

// The streams of the fixtures folder (NAME.mp3) and the ISO folder (NAME.bit),
// by "fixture/NAME.mp3" and "iso/NAME.bit", with their paths.
std::map<std::string, std::string> TestStreams(const std::string& fixtures, const std::string& iso);

// Samples written by one Quv call into a sentinel-filled buffer (0 = not written).
size_t WrittenSamples(const int16_t* buffer, size_t capacity);
inline constexpr int16_t kSentinel = -32768;

struct Comparison {
    double psnr = 0;  // dB; 999 for identical
    int max_diff = 0;
    size_t samples = 0;
};
// Over the overlap of a (from offset_a) and b.
Comparison Compare(const Pcm& a, const Pcm& b, size_t offset_a = 0, size_t offset_b = 0);

// libmpg123 as an independent oracle: 16-bit output, its default decoder,
// gapless off unless asked for.
struct PeerDecoded {
    bool ok = false;
    int channels = 0;
    long rate = 0;
    Pcm pcm;
};
PeerDecoded DecodeWithMpg123(const std::string& path, bool gapless = false);

}  // namespace quv3::test
