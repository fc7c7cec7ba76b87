#pragma once

#include <cstdint>

namespace updater {

inline constexpr int kPathBytes = 260;

// Results of ConvertSampleFile.
enum : int {
    kNotSampleFile = 0,
    kConvertedCmp = 1,
    kConvertedCp8 = 2,
    kUnreadableSource = -1,  // missing, unreadable or shorter than its own structure
    kBadBlockLength = -2,
    kUnwritableOutput = -3,
};

// The 44-byte header of a 16-bit PCM WAVE file holding data_bytes of samples.
void WriteWaveHeader(uint32_t data_bytes, uint32_t sample_rate, uint32_t channels, uint8_t out[44]);

// For a source path ending in "cmp" or "cp8" writes the WAVE file with "wav" in
// place of those letters and rewrites both 260-byte path buffers to name it.
// Returns one of the results above. A failed conversion leaves no output file
// behind (a WAVE file of that name from before stays as it was).
int ConvertSampleFile(char* source, char* destination);

}  // namespace updater
