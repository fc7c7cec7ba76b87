#pragma once

#include <array>
#include <cstdint>

#include "decoder/api/quv3.h"
#include "decoder/stream/file_io.h"
#include "decoder/tables/synthesis_window_table.h"

namespace quv3 {

// Fields of the 4-byte frame header, in bitstream order.
struct FrameHeader {
    int32_t ID;  // 1 = MPEG-1, 0 = MPEG-2 low sampling frequency
    int32_t layer;  // 1 = Layer III, 2 = II, 3 = I
    int32_t protection_bit;  // 0 = a CRC word follows
    int32_t bitrate_index;
    int32_t sampling_frequency;
    int32_t padding_bit;
    int32_t private_bit;
    int32_t mode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t mode_extension;
    int32_t copyright;
    int32_t original_copy;
    int32_t emphasis;
};
static_assert(sizeof(FrameHeader) == 48);

inline constexpr int32_t kInputBufferBytes = 16384;

// The stream's bytes from file offset start: length of them held, pos the next
// one to deliver. file_pos is where the operating system's position stands.
struct InputBuffer {
    std::array<uint8_t, kInputBufferBytes> bytes;
    int64_t start;
    int64_t file_pos;
    int32_t length;
    int32_t pos;
};

// Header, CRC and side-information bytes; 3 spare bytes serve the 4-byte window.
struct HeaderBitReader {
    std::array<uint8_t, 32 + 3> bytes;
    int32_t bit_pos;
};

inline constexpr int32_t kRingBytes = 4096;
inline constexpr int32_t kRingBits = kRingBytes * 8;
inline constexpr int32_t kSpillBytes = 2048;
inline constexpr int32_t kRingMirror = 7;  // bytes 0..6 repeated past the end, for 8-byte windows

// Bit reservoir: a 4096-byte ring. Appends write on into the spill area, whose
// part past index 4095 is then copied to the start; bytes 0..6 stay mirrored at
// 4096..4102 so a window read near the end sees the bytes that follow.
struct MainDataBuffer {
    std::array<uint8_t, kRingBytes + kSpillBytes> bytes;
    int32_t fill;  // ring index of the next appended byte
    int32_t bit_pos;  // 0 .. 32767
};

// Side information of one frame: 81 signed 32-bit values, per-granule fields
// indexed [granule][channel].
struct SideInfo {
    int32_t main_data_begin;
    int32_t scfsi[2][4];
    int32_t part2_3_length[2][2];
    int32_t big_values[2][2];
    int32_t global_gain[2][2];
    int32_t scalefac_compress[2][2];
    int32_t window_switching_flag[2][2];
    int32_t block_type[2][2];
    int32_t mixed_block_flag[2][2];
    int32_t table_select[2][2][3];
    int32_t subblock_gain[2][2][3];
    int32_t region0_count[2][2];
    int32_t region1_count[2][2];
    int32_t preflag[2][2];
    int32_t scalefac_scale[2][2];
    int32_t count1table_select[2][2];
};
static_assert(sizeof(SideInfo) == 81 * 4);

struct ScaleFactorSet {
    int32_t scalefac_l[2][2][22];  // [granule][channel][long band]
    int32_t scalefac_s[2][2][13][3];  // [granule][channel][short band][window]
};

// The one process-wide decoder state. Every member is fixed-size; the arrays the
// vector kernels stream through start on a cache line.
struct DecoderState {
    int32_t tables_pending = 1;
    io::FileHandle file = io::kNoFile;
    InputBuffer input;
    int64_t data_start;
    int64_t stream_length;  // file length minus data_start, whatever the file's size
    // Free-format streams: the length of their frames without padding, measured
    // between the first two headers when the stream is opened; 0 otherwise.
    int32_t free_format_bytes;
    StreamInfo stream_info;
    std::array<uint8_t, 4> sync_pattern;
    int32_t status;
    int32_t call_count;
    int32_t channel_count;
    FrameHeader header;
    HeaderBitReader header_reader;
    MainDataBuffer main_data;
    const int32_t* LongBandEnds;  // selected row of 22 inclusive band ends
    const int32_t* ShortBandEnds;  // selected row of 13
    const int16_t* ShortReorder;  // selected row of 576 positions
    SideInfo side_info;
    ScaleFactorSet ScaleFactors;
    int32_t IntensityScale;
    std::array<int32_t, 22> LargestIntensityPosition;
    alignas(64) int32_t QuantizedValues[2][578];
    int32_t DecodedLineCount[2];
    alignas(64) float SpectralSamples[2][576];
    int32_t ActiveSubbandCount[2];
    alignas(64) float OverlapBuffer[2][32][18];
    alignas(64) float SubbandSamples[32][18];
    float ImdctWindows[4][36];
    std::array<float, 512> SynthesisWindow = kSynthesisWindowUnscaled;
    // The scaled window again, tap-major ([tap][output]) and widened to double,
    // for the vector windowing loop; prepared with SynthesisWindow.
    alignas(64) double SynthesisWindowByTap[16][32];
    // [channel][half][row][column]; the reference build's history.
    alignas(64) float SynthesisHistory[2][2][32][16];
    int32_t SynthesisPhase[2];
    int32_t SynthesisHalf[2];
    // The vector build's history: per channel a ring of 32 slots, each with the
    // column half h receives (kind 0) and the one half 1 - h receives (kind 1),
    // widened to double: [channel][kind][slot][row]. SynthesisRingPos is the
    // ring slot the next call writes.
    alignas(64) double SynthesisRing[2][2][32][32];
    int32_t SynthesisRingPos[2];
    alignas(64) int16_t StereoPcmBuffer[1152];
    alignas(64) int16_t MonoPcmBuffer[576];
    // Diagnostics: granule-channels decoded, and how many read Huffman data past
    // their part2_3_length budget (a valid stream never does).
    int32_t spectra_decoded;
    int32_t spectra_over_budget;
};
static_assert(sizeof(DecoderState::OverlapBuffer) == 4608);
static_assert(sizeof(DecoderState::SubbandSamples) == 2304);
static_assert(sizeof(DecoderState::SynthesisHistory) == 8192);

}  // namespace quv3
