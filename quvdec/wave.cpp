#include "quvdec/wave.h"

#include <cmath>
#include <cstring>

namespace quvdec {
namespace {

// The header is put together in place: at most 58 bytes.
struct Bytes {
    uint8_t b[64];
    size_t n = 0;
};

void Put(Bytes& h, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h.b[h.n++] = static_cast<uint8_t>(v >> (8 * i));
}

void Tag(Bytes& h, const char* tag) {
    for (int i = 0; i < 4; ++i) h.b[h.n++] = static_cast<uint8_t>(tag[i]);
}

int32_t RoundAndClip(double x, double scale) {
    x *= scale;
    x = x > -scale ? x : -scale;  // a NaN gives the negative limit
    x = x < scale ? x : scale;
    return static_cast<int32_t>(std::lrint(x));
}

}  // namespace

int BytesPerSample(SampleFormat f) { return f == SampleFormat::kS16 ? 2 : f == SampleFormat::kS24 ? 3 : 4; }

std::vector<uint8_t> WaveHeader(SampleFormat f, int channels, int rate, uint64_t data_bytes) {
    const bool pcm = f != SampleFormat::kF32;
    const uint32_t bytes = BytesPerSample(f);
    const uint32_t fmt_size = pcm ? 16 : 18;
    const uint32_t header = 12 + 8 + fmt_size + (pcm ? 0 : 12) + 8;
    const bool unknown = data_bytes == 0xFFFFFFFFu;
    // The RIFF size counts what follows its field; both sizes are 32-bit, and
    // the data's a whole number of sample frames.
    const uint64_t block = static_cast<uint64_t>(channels) * bytes;
    const uint64_t most = (0xFFFFFFFFu - (header - 8)) / block * block;
    const uint32_t data = unknown ? 0xFFFFFFFFu : static_cast<uint32_t>(data_bytes < most ? data_bytes : most);
    Bytes h;
    Tag(h, "RIFF");
    Put(h, unknown ? 0xFFFFFFFFu : data + header - 8, 4);
    Tag(h, "WAVE");
    Tag(h, "fmt ");
    Put(h, fmt_size, 4);
    Put(h, pcm ? 1 : 3, 2);  // WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT
    Put(h, static_cast<uint32_t>(channels), 2);
    Put(h, static_cast<uint32_t>(rate), 4);
    Put(h, static_cast<uint32_t>(rate) * channels * bytes, 4);
    Put(h, channels * bytes, 2);
    Put(h, bytes * 8, 2);
    if (!pcm) {
        Put(h, 0, 2);  // no extension
        Tag(h, "fact");
        Put(h, 4, 4);
        Put(h, unknown ? 0xFFFFFFFFu : data / (channels * bytes), 4);  // samples per channel
    }
    Tag(h, "data");
    Put(h, data, 4);
    return std::vector<uint8_t>(h.b, h.b + h.n);
}

void PackSamples(const float* in, size_t n, SampleFormat f, uint8_t* out) {
    switch (f) {
        case SampleFormat::kS16:
            for (size_t i = 0; i < n; ++i) {
                const int32_t v = RoundAndClip(in[i], 32767.0);
                out[2 * i] = static_cast<uint8_t>(v);
                out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            break;
        case SampleFormat::kS24:
            for (size_t i = 0; i < n; ++i) {
                const int32_t v = RoundAndClip(in[i], 8388607.0);
                out[3 * i] = static_cast<uint8_t>(v);
                out[3 * i + 1] = static_cast<uint8_t>(v >> 8);
                out[3 * i + 2] = static_cast<uint8_t>(v >> 16);
            }
            break;
        case SampleFormat::kF32:
            for (size_t i = 0; i < n; ++i) {
                uint32_t bits;
                std::memcpy(&bits, &in[i], 4);
                for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(bits >> (8 * b));
            }
            break;
    }
}

void PackSamples(const int16_t* in, size_t n, uint8_t* out) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = static_cast<uint8_t>(in[i]);
        out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(in[i]) >> 8);
    }
}

}  // namespace quvdec
