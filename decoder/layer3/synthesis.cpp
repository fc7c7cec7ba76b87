#include <cmath>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

// One level of the decimation-in-frequency split for a block of n values:
// R[0] is the plain sum, R[k >= 1] twice the DCT value.
template <int N>
void DctSplit(const float* v, float* r) {
    if constexpr (N == 1) {
        r[0] = v[0];
    } else {
        float a[N / 2], b[N / 2], ra[N / 2], rb[N / 2];
        for (int k = 0; k < N / 2; ++k) {
            a[k] = v[k] + v[N - 1 - k];
            b[k] = (v[k] - v[N - 1 - k]) * kDctCosTable[(2 * k + 1) * 32 / N - 1];
        }
        DctSplit<N / 2>(a, ra);
        DctSplit<N / 2>(b, rb);
        for (int k = 0; k < N / 2; ++k) r[2 * k] = ra[k];
        r[1] = rb[0];
        for (int k = 1; k < N / 2; ++k) r[2 * k + 1] = rb[k] - r[2 * k - 1];
    }
}

}  // namespace

// Y[0] = X[0], Y[n] = 2 X[n], X[n] = sum_k x[k] cos((2k + 1) n pi / 64).
void Dct32(const float in[32], float out[32]) { DctSplit<32>(in, out); }

void ScaleSynthesisWindow(DecoderState& s) {
    for (float& w : s.SynthesisWindow) w = static_cast<float>(static_cast<double>(w) * 16383.5);
}

// Nearest integer, ties to even (the default rounding mode), then clipped to
// -32767..32767: the output never holds -32768.
int16_t RoundAndClip(double v) {
    const double r = std::nearbyint(v);
    if (r >= 32767.0) return 32767;
    if (r > -32767.0) return static_cast<int16_t>(r);
    return -32767;  // also NaN, which finite input never produces
}

void SynthesizeSlot(DecoderState& s, int ch, int slot) {
    const int p = s.SynthesisPhase[ch];
    const int h = s.SynthesisHalf[ch];
    float x[32], y[32];
    for (int k = 0; k < 32; ++k) x[k] = s.SubbandSamples[k][slot];
    Dct32(x, y);

    float(*hist)[32][16] = s.SynthesisHistory[ch];
    float(*now)[16] = hist[h];
    float(*other)[16] = hist[1 - h];
    for (int r = 0; r < 16; ++r) now[r][p] = y[16 + r];
    now[16][p] = 0.0f;
    for (int r = 17; r < 32; ++r) now[r][p] = -y[48 - r];
    for (int r = 0; r < 16; ++r) other[r][p] = -y[16 - r];
    other[16][p] = -2.0f * y[0];
    for (int r = 17; r < 32; ++r) other[r][p] = -y[r - 16];

    const float* window = s.SynthesisWindow.data();
    const bool stereo = s.channel_count == 2;
    int16_t* pcm = stereo ? &s.StereoPcmBuffer[2 * 32 * slot + ch] : &s.MonoPcmBuffer[32 * slot];
    const int stride = stereo ? 2 : 1;
    for (int j = 0; j < 32; ++j) {
        const float* row = now[j];
        const float* wrow = window + 16 * j;
        double sum = 0.0;
        for (int i = 0; i < 16; ++i) sum += static_cast<double>(row[(p + i) & 15]) * wrow[i];
        pcm[j * stride] = RoundAndClip(sum);
    }
    s.SynthesisPhase[ch] = (p - 1) & 15;
    s.SynthesisHalf[ch] = 1 - h;
}

}  // namespace quv3
