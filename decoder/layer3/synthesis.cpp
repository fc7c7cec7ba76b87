#include <cmath>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/transform_tables.h"


namespace quv3 {
namespace {

// One level of the decimation-in-frequency split for a block of n values:
// R[0] is the plain sum, R[k >= 1] twice the DCT value. V is float, or a vector
// of floats holding the same transform of several time slots, one per lane:
// every lane sees exactly the scalar sequence of operations.
template <class V, int N>
__attribute__((always_inline)) inline void DctSplit(const V* v, V* r) {
    if constexpr (N == 1) {
        r[0] = v[0];
    } else {
        V a[N / 2], b[N / 2], ra[N / 2], rb[N / 2];
        for (int k = 0; k < N / 2; ++k) {
            a[k] = v[k] + v[N - 1 - k];
            b[k] = (v[k] - v[N - 1 - k]) * kDctCosTable[(2 * k + 1) * 32 / N - 1];
        }
        DctSplit<V, N / 2>(a, ra);
        DctSplit<V, N / 2>(b, rb);
        for (int k = 0; k < N / 2; ++k) r[2 * k] = ra[k];
        r[1] = rb[0];
        for (int k = 1; k < N / 2; ++k) r[2 * k + 1] = rb[k] - r[2 * k - 1];
    }
}

#if QUV3_X86_VECTOR
// Eight time slots side by side.
typedef float Lanes8 __attribute__((vector_size(32)));

// The DCT of all 18 slots of a granule, slot t in lane t % 8 of y[t / 8][n].
// Slots 16 and 17 share the last batch with six zero lanes.
__attribute__((always_inline)) inline void Dct32SlotsBody(const float (*subbands)[18], Lanes8 (*y)[32]) {
    Lanes8 x[32];
    for (int batch = 0; batch < 2; ++batch) {
        for (int k = 0; k < 32; ++k) __builtin_memcpy(&x[k], &subbands[k][8 * batch], sizeof x[k]);
        DctSplit<Lanes8, 32>(x, y[batch]);
    }
    for (int k = 0; k < 32; ++k) x[k] = Lanes8{subbands[k][16], subbands[k][17], 0, 0, 0, 0, 0, 0};
    DctSplit<Lanes8, 32>(x, y[2]);
}

void Dct32Slots(const float (*subbands)[18], Lanes8 (*y)[32]) { Dct32SlotsBody(subbands, y); }

__attribute__((target("avx2"))) void Dct32SlotsAvx2(const float (*subbands)[18], Lanes8 (*y)[32]) {
    Dct32SlotsBody(subbands, y);
}

using DctKernel = void (*)(const float (*)[18], Lanes8 (*)[32]);
DctKernel g_dct_kernel = Dct32Slots;
#endif

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

// GCC 12's AVX-512 conversion intrinsics trip -Wuninitialized inside its own header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) void WindowAvx512(const float* half, int p, const double* window, int32_t* out) {
    __m512d acc[4];
    for (__m512d& a : acc) a = _mm512_setzero_pd();
    for (int i = 0; i < 16; ++i) {
        const float* col = half + ((p + i) & 15) * 32;
        const double* w = window + i * 32;
        for (int k = 0; k < 4; ++k) {
            const __m512d h = _mm512_cvtps_pd(_mm256_loadu_ps(col + 8 * k));
            acc[k] = _mm512_fmadd_pd(h, _mm512_loadu_pd(w + 8 * k), acc[k]);
        }
    }
    const __m512d hi = _mm512_set1_pd(32767.0), lo = _mm512_set1_pd(-32767.0);
    for (int k = 0; k < 4; ++k) {
        const __m256i r = _mm512_cvtpd_epi32(_mm512_min_pd(_mm512_max_pd(acc[k], lo), hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * k), r);
    }
}
#pragma GCC diagnostic pop

WindowKernel g_window_kernel = WindowSse2;

#endif

}  // namespace

// Y[0] = X[0], Y[n] = 2 X[n], X[n] = sum_k x[k] cos((2k + 1) n pi / 64).
void Dct32(const float in[32], float out[32]) { DctSplit<float, 32>(in, out); }

// Once per process; also picks the windowing loop for this processor.
void ScaleSynthesisWindow(DecoderState& s) {
    for (float& w : s.SynthesisWindow) w = static_cast<float>(static_cast<double>(w) * 16383.5);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 32; ++j) s.SynthesisWindowByTap[i][j] = s.SynthesisWindow[16 * j + i];
#if QUV3_X86_VECTOR
    g_window_kernel = CpuHasAvx512() ? WindowAvx512 : CpuHasAvx2Fma() ? WindowAvx2 : WindowSse2;
    g_dct_kernel = CpuHasAvx2Fma() ? Dct32SlotsAvx2 : Dct32Slots;
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

namespace {

// History update, windowing and PCM of one slot whose DCT is y.
// y[n] stands at y[n * ystride].
template <int ystride>
void FinishSlot(DecoderState& s, int ch, int slot, const float* y) {
    const int p = s.SynthesisPhase[ch];
    const int h = s.SynthesisHalf[ch];
    const bool stereo = s.channel_count == 2;
    int16_t* pcm = stereo ? &s.StereoPcmBuffer[2 * 32 * slot + ch] : &s.MonoPcmBuffer[32 * slot];
    const int stride = stereo ? 2 : 1;
#if QUV3_X86_VECTOR
    // Column-major ring: column p of a half is 32 consecutive rows.
    float* now = &s.SynthesisHistory[ch][h][0][0];
    float* other = &s.SynthesisHistory[ch][1 - h][0][0];
    float* nc = now + 32 * p;
    float* oc = other + 32 * p;
    if constexpr (ystride == 1) {
        // The same values as the loops below, four at a time: reversed and
        // negated copies of the DCT output (negation only flips the sign bit).
        const __m128 sign = _mm_set1_ps(-0.0f);
        auto neg = [&](__m128 v) { return _mm_xor_ps(v, sign); };
        auto neg_rev = [&](const float* from) {
            const __m128 v = _mm_loadu_ps(from);
            return neg(_mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)));
        };
        for (int k = 0; k < 16; k += 4) _mm_storeu_ps(nc + k, _mm_loadu_ps(y + 16 + k));
        _mm_storeu_ps(nc + 17, neg_rev(y + 28));
        _mm_storeu_ps(nc + 21, neg_rev(y + 24));
        _mm_storeu_ps(nc + 25, neg_rev(y + 20));
        _mm_storeu_ps(nc + 28, neg_rev(y + 17));
        _mm_storeu_ps(oc + 0, neg_rev(y + 13));
        _mm_storeu_ps(oc + 4, neg_rev(y + 9));
        _mm_storeu_ps(oc + 8, neg_rev(y + 5));
        _mm_storeu_ps(oc + 12, neg_rev(y + 1));
        _mm_storeu_ps(oc + 17, neg(_mm_loadu_ps(y + 1)));
        _mm_storeu_ps(oc + 21, neg(_mm_loadu_ps(y + 5)));
        _mm_storeu_ps(oc + 25, neg(_mm_loadu_ps(y + 9)));
        _mm_storeu_ps(oc + 28, neg(_mm_loadu_ps(y + 12)));
        nc[16] = 0.0f;
        oc[16] = -2.0f * y[0];
    } else {
        for (int r = 0; r < 16; ++r) nc[r] = y[(16 + r) * ystride];
        nc[16] = 0.0f;
        for (int r = 17; r < 32; ++r) nc[r] = -y[(48 - r) * ystride];
        for (int r = 0; r < 16; ++r) oc[r] = -y[(16 - r) * ystride];
        oc[16] = -2.0f * y[0];
        for (int r = 17; r < 32; ++r) oc[r] = -y[(r - 16) * ystride];
    }
    alignas(16) int32_t out[32];
    g_window_kernel(now, p, &s.SynthesisWindowByTap[0][0], out);
    if (!stereo) {
        // Every value is within -32767..32767: the saturating pack changes none.
        for (int j = 0; j < 32; j += 8) {
            const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(out + j));
            const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(out + j + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + j), _mm_packs_epi32(lo, hi));
        }
    } else {
        for (int j = 0; j < 32; ++j) pcm[j * stride] = static_cast<int16_t>(out[j]);
    }
#else
    float(*hist)[32][16] = s.SynthesisHistory[ch];
    float(*now)[16] = hist[h];
    float(*other)[16] = hist[1 - h];
    for (int r = 0; r < 16; ++r) now[r][p] = y[(16 + r) * ystride];
    now[16][p] = 0.0f;
    for (int r = 17; r < 32; ++r) now[r][p] = -y[(48 - r) * ystride];
    for (int r = 0; r < 16; ++r) other[r][p] = -y[(16 - r) * ystride];
    other[16][p] = -2.0f * y[0];
    for (int r = 17; r < 32; ++r) other[r][p] = -y[(r - 16) * ystride];
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

}  // namespace

void SynthesizeSlot(DecoderState& s, int ch, int slot) {
    float x[32], y[32];
    for (int k = 0; k < 32; ++k) x[k] = s.SubbandSamples[k][slot];
    Dct32(x, y);
    FinishSlot<1>(s, ch, slot, y);
}

// The 18 slots of a granule in order; the same result as 18 SynthesizeSlot calls.
void SynthesizeGranule(DecoderState& s, int ch) {
#if QUV3_X86_VECTOR
    Lanes8 y[3][32];
    g_dct_kernel(s.SubbandSamples, y);
    const float* lanes = reinterpret_cast<const float*>(y);
    if (g_dct_kernel == Dct32SlotsAvx2) {
        // Slot-major again for the slot loop: y[t / 8][n] lane t % 8 to slots[t][n].
        float slots[16][32];
        for (int b = 0; b < 2; ++b)
            for (int n0 = 0; n0 < 32; n0 += 8) Transpose8x8Avx2(lanes + b * 256 + n0 * 8, 8, &slots[8 * b][n0], 32);
        for (int slot = 0; slot < 16; ++slot) FinishSlot<1>(s, ch, slot, slots[slot]);
        for (int slot = 16; slot < 18; ++slot) FinishSlot<8>(s, ch, slot, lanes + 2 * 256 + slot % 8);
        return;
    }
    for (int slot = 0; slot < 18; ++slot) FinishSlot<8>(s, ch, slot, lanes + (slot / 8) * 256 + slot % 8);
#else
    for (int slot = 0; slot < 18; ++slot) SynthesizeSlot(s, ch, slot);
#endif
}

}  // namespace quv3
