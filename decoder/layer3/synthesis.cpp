#include <cmath>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/transform_tables.h"

#if !defined(QUV3_SCALAR_REFERENCE) && (defined(__x86_64__) || defined(_M_X64) || defined(__i386__))
#define QUV3_X86_VECTOR 1
#include <immintrin.h>
#endif

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

#if QUV3_X86_VECTOR
// The windowing loop across outputs: each output keeps its own double sum over
// taps 0..15 in order, so the result equals the scalar loop bit for bit. A
// product of two floats is exact in double, so a fused multiply-add rounds
// exactly once, as the separate multiply and add do.
using WindowKernel = void (*)(const float* half, int p, const double* window, int32_t* out);

void WindowSse2(const float* half, int p, const double* window, int32_t* out) {
    __m128d acc[16];
    for (__m128d& a : acc) a = _mm_setzero_pd();
    for (int i = 0; i < 16; ++i) {
        const float* col = half + ((p + i) & 15) * 32;
        const double* w = window + i * 32;
        for (int k = 0; k < 16; ++k) {
            const __m128d h = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(col + 2 * k))));
            acc[k] = _mm_add_pd(acc[k], _mm_mul_pd(h, _mm_loadu_pd(w + 2 * k)));
        }
    }
    const __m128d hi = _mm_set1_pd(32767.0), lo = _mm_set1_pd(-32767.0);
    for (int k = 0; k < 16; ++k) {
        // Clipping first does not change the rounded value inside the range;
        // the conversion rounds to nearest, ties to even.
        const __m128i r = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(acc[k], lo), hi));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k), r);
    }
}

__attribute__((target("avx2,fma"))) void WindowAvx2(const float* half, int p, const double* window, int32_t* out) {
    __m256d acc[8];
    for (__m256d& a : acc) a = _mm256_setzero_pd();
    for (int i = 0; i < 16; ++i) {
        const float* col = half + ((p + i) & 15) * 32;
        const double* w = window + i * 32;
        for (int k = 0; k < 8; ++k) {
            const __m256d h = _mm256_cvtps_pd(_mm_loadu_ps(col + 4 * k));
            acc[k] = _mm256_fmadd_pd(h, _mm256_loadu_pd(w + 4 * k), acc[k]);
        }
    }
    const __m256d hi = _mm256_set1_pd(32767.0), lo = _mm256_set1_pd(-32767.0);
    for (int k = 0; k < 8; ++k) {
        const __m128i r = _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(acc[k], lo), hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k), r);
    }
}

WindowKernel g_window_kernel = WindowSse2;

bool CpuHasAvx2Fma() {
#if defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
#endif

}  // namespace

// Y[0] = X[0], Y[n] = 2 X[n], X[n] = sum_k x[k] cos((2k + 1) n pi / 64).
void Dct32(const float in[32], float out[32]) { DctSplit<32>(in, out); }

// Once per process; also picks the windowing loop for this processor.
void ScaleSynthesisWindow(DecoderState& s) {
    for (float& w : s.SynthesisWindow) w = static_cast<float>(static_cast<double>(w) * 16383.5);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 32; ++j) s.SynthesisWindowByTap[i][j] = s.SynthesisWindow[16 * j + i];
#if QUV3_X86_VECTOR
    g_window_kernel = CpuHasAvx2Fma() ? WindowAvx2 : WindowSse2;
#endif
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

    const bool stereo = s.channel_count == 2;
    int16_t* pcm = stereo ? &s.StereoPcmBuffer[2 * 32 * slot + ch] : &s.MonoPcmBuffer[32 * slot];
    const int stride = stereo ? 2 : 1;
#if QUV3_X86_VECTOR
    // Column-major ring: column p of a half is 32 consecutive rows.
    float* now = &s.SynthesisHistory[ch][h][0][0];
    float* other = &s.SynthesisHistory[ch][1 - h][0][0];
    float* nc = now + 32 * p;
    float* oc = other + 32 * p;
    for (int r = 0; r < 16; ++r) nc[r] = y[16 + r];
    nc[16] = 0.0f;
    for (int r = 17; r < 32; ++r) nc[r] = -y[48 - r];
    for (int r = 0; r < 16; ++r) oc[r] = -y[16 - r];
    oc[16] = -2.0f * y[0];
    for (int r = 17; r < 32; ++r) oc[r] = -y[r - 16];
    int32_t out[32];
    g_window_kernel(now, p, &s.SynthesisWindowByTap[0][0], out);
    for (int j = 0; j < 32; ++j) pcm[j * stride] = static_cast<int16_t>(out[j]);
#else
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
    for (int j = 0; j < 32; ++j) {
        const float* row = now[j];
        const float* wrow = window + 16 * j;
        double sum = 0.0;
        for (int i = 0; i < 16; ++i) sum += static_cast<double>(row[(p + i) & 15]) * wrow[i];
        pcm[j * stride] = RoundAndClip(sum);
    }
#endif
    s.SynthesisPhase[ch] = (p - 1) & 15;
    s.SynthesisHalf[ch] = 1 - h;
}

}  // namespace quv3
