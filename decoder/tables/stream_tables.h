#pragma once

#include <array>
#include <cstdint>

namespace quv3 {

// Hz, indexed by ID * 3 + sampling_frequency, and 6 + sampling_frequency for
// MPEG 2.5 (sampling_frequency 3 is reserved).
inline constexpr std::array<int32_t, 9> kSamplingRateTable = {22050, 24000, 16000,
                                                              44100, 48000, 32000,
                                                              11025, 12000, 8000};

// kbit/s, [ID][3 - layer][bitrate_index]; indices 0 (free format) and 15 give 0.
// MPEG 2.5 frames (ID 0) use the LSF rows.
inline constexpr int16_t kBitrateTable[2][3][16] = {
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
};

// Side-information bytes by [ID][single channel].
inline constexpr int32_t kSideInfoBytes[2][2] = {{17, 9}, {32, 17}};

}  // namespace quv3
