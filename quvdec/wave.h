#pragma once

#include <cstdint>
#include <cstddef>
#include <vector>

// The sample formats quvdec writes, and their WAVE headers.
namespace quvdec {

enum class SampleFormat { kS16, kS24, kF32 };

int BytesPerSample(SampleFormat f);

// The header before the samples: 16- and 24-bit PCM in the canonical 44 bytes
// (WAVE_FORMAT_PCM); floats as WAVE_FORMAT_IEEE_FLOAT with the "fact" chunk
// that format asks for. data_bytes 0xFFFFFFFF stands for "unknown" (a pipe);
// a larger size is cut to what the fields hold.
std::vector<uint8_t> WaveHeader(SampleFormat f, int channels, int rate, uint64_t data_bytes);

// Floats (1.0 is full scale) to the output format, little-endian. 16 bits:
// the library's own rule (x 32767, rounded to even, clipped), so a decode
// through floats gives the 16-bit decode's samples; 24 bits: x 8388607 in the
// same way.
void PackSamples(const float* in, size_t n, SampleFormat f, uint8_t* out);
// 16-bit samples as they are.
void PackSamples(const int16_t* in, size_t n, uint8_t* out);

}  // namespace quvdec
