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

// The DCT of all 18 slots of a granule in three batches of eight slots, lane l
// of batch b holding slot kBatchFirstSlot[b] + l. The last batch covers slots
// 10..17, so slots 10..15 come out twice, the same values both times.
constexpr int kBatchFirstSlot[3] = {0, 8, 10};

__attribute__((always_inline)) inline void Dct32SlotsBody(const float (*subbands)[18], Lanes8 (*y)[32]) {
    for (int batch = 0; batch < 3; ++batch) {
        Lanes8 x[32];
        for (int k = 0; k < 32; ++k) __builtin_memcpy(&x[k], &subbands[k][kBatchFirstSlot[batch]], sizeof x[k]);
        DctSplit<Lanes8, 32>(x, y[batch]);
    }
}

void Dct32Slots(const float (*subbands)[18], Lanes8 (*y)[32]) { Dct32SlotsBody(subbands, y); }

__attribute__((target("avx2"))) void Dct32SlotsAvx2(const float (*subbands)[18], Lanes8 (*y)[32]) {
    Dct32SlotsBody(subbands, y);
}

// The DCT output back to one row per slot.
__attribute__((target("avx2"))) void SlotRowsAvx2(const float* lanes, float (*slots)[32]) {
    for (int b = 0; b < 3; ++b)
        for (int n0 = 0; n0 < 32; n0 += 8)
            Transpose8x8Avx2(lanes + b * 256 + n0 * 8, 8, &slots[kBatchFirstSlot[b]][n0], 32);
}

void SlotRowsSse2(const float* lanes, float (*slots)[32]) {
    for (int b = 0; b < 3; ++b)
        for (int n0 = 0; n0 < 32; n0 += 4)
            for (int l0 = 0; l0 < 8; l0 += 4)
                Transpose4x4Sse(lanes + b * 256 + n0 * 8 + l0, 8, &slots[kBatchFirstSlot[b] + l0][n0], 32);
}

using DctKernel = void (*)(const float (*)[18], Lanes8 (*)[32]);
DctKernel g_dct_kernel = Dct32Slots;

// The vector build keeps the history as doubles in a ring of 32 slots per
// channel: for each slot the column its own half receives (kind 0, twice the
// ISO V[0..31]) and the column the other half receives (kind 1, twice
// V[32..63]). The halves alternate every slot, so tap i of a slot reads kind 0
// of the slot i back when i is even and kind 1 when i is odd: exactly the
// values the reference reads from its two 16-column rings.
constexpr int kRingSlots = 32;

// GCC 12's AVX-512 intrinsics trip -W(maybe-)uninitialized inside its own header
// wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

__attribute__((target("avx512f"), always_inline)) inline __m512 Negate(__m512 v) {
    const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    return _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(v), sign));
}

// 16 floats to 16 doubles.
__attribute__((target("avx512f"), always_inline)) inline void StoreWidened(double* to, __m512 v) {
    _mm512_storeu_pd(to, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
    _mm512_storeu_pd(to + 8, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
}

// The columns of one slot four values at a time: reversed, negated or doubled
// in lanes, then widened. As the reference's history update:
// own[0..15] = y[16..31]; own[16] = +0, own[16 + m] = -y[32 - m];
// other[r] = -y[16 - r]; other[16] = -2 y[0] (formed in float), other[16 + m] = -y[m].
// part[k] receives the four values of own (k < 8) or other (k >= 8) at 4 (k % 8).
__attribute__((always_inline)) inline __m128 Reverse4(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
__attribute__((always_inline)) inline __m128 Negate4(__m128 v) { return _mm_xor_ps(v, _mm_set1_ps(-0.0f)); }

__attribute__((always_inline)) inline void RingColumnParts(const float* y, __m128* part) {
    for (int k = 0; k < 4; ++k) part[k] = _mm_loadu_ps(y + 16 + 4 * k);
    // [0, -y31, -y30, -y29]: the zero is set after the negation so that it stays +0.
    const __m128 top = _mm_loadu_ps(y + 28);
    const __m128 shifted = Negate4(_mm_shuffle_ps(top, top, _MM_SHUFFLE(1, 2, 3, 0)));
    part[4] = _mm_and_ps(shifted, _mm_castsi128_ps(_mm_set_epi32(-1, -1, -1, 0)));
    part[5] = Negate4(Reverse4(_mm_loadu_ps(y + 25)));
    part[6] = Negate4(Reverse4(_mm_loadu_ps(y + 21)));
    part[7] = Negate4(Reverse4(_mm_loadu_ps(y + 17)));
    for (int k = 0; k < 4; ++k) part[8 + k] = Negate4(Reverse4(_mm_loadu_ps(y + 13 - 4 * k)));
    part[12] = Negate4(_mm_mul_ps(_mm_loadu_ps(y), _mm_set_ps(1.0f, 1.0f, 1.0f, 2.0f)));
    for (int k = 1; k < 4; ++k) part[12 + k] = Negate4(_mm_loadu_ps(y + 4 * k));
}

void WriteRingColumnsSse2(double* own, double* other, const float* y) {
    __m128 part[16];
    RingColumnParts(y, part);
    for (int k = 0; k < 16; ++k) {
        double* to = (k < 8 ? own : other) + 4 * (k % 8);
        _mm_store_pd(to, _mm_cvtps_pd(part[k]));
        _mm_store_pd(to + 2, _mm_cvtps_pd(_mm_movehl_ps(part[k], part[k])));
    }
}

__attribute__((target("avx2"))) void WriteRingColumnsAvx2(double* own, double* other, const float* y) {
    __m128 part[16];
    RingColumnParts(y, part);
    for (int k = 0; k < 16; ++k) _mm256_store_pd((k < 8 ? own : other) + 4 * (k % 8), _mm256_cvtps_pd(part[k]));
}

// Stereo PCM into the channel's places of the interleaved buffer, four sample
// pairs at a time.
void StoreStereoPcmSse2(int16_t* pairs, int ch, const int32_t* out) {
    const __m128i low = _mm_set1_epi32(0xFFFF);
    for (int j = 0; j < 32; j += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + j));
        __m128i* at = reinterpret_cast<__m128i*>(pairs + 2 * j);
        const __m128i old = _mm_loadu_si128(at);
        if (ch == 0) {
            v = _mm_or_si128(_mm_andnot_si128(low, old), _mm_and_si128(v, low));
        } else {
            v = _mm_or_si128(_mm_and_si128(old, low), _mm_slli_epi32(v, 16));
        }
        _mm_storeu_si128(at, v);
    }
}

// The same columns with AVX-512: each half of y is reversed, negated or
// doubled in lanes and widened eight values at a time.
__attribute__((target("avx512f"), always_inline)) inline void WriteRingColumnsAvx512(double* own, double* other,
                                                                                      const float* y) {
    const __m512 lo = _mm512_loadu_ps(y), hi = _mm512_loadu_ps(y + 16);
    // own[0..15] = y[16..31]; own[16] = 0, own[16 + m] = -y[32 - m].
    StoreWidened(own, hi);
    const __m512i reverse = _mm512_set_epi32(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0);
    StoreWidened(own + 16, _mm512_maskz_mov_ps(0xFFFE, Negate(_mm512_permutexvar_ps(reverse, hi))));
    // other[0] = -y[16], other[r] = -y[16 - r]; other[16] = -2 y[0], other[16 + m] = -y[m].
    const __m512i from_both = _mm512_set_epi32(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    StoreWidened(other, Negate(_mm512_permutex2var_ps(lo, from_both, hi)));
    const __m512 double_first = _mm512_set_ps(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2);
    StoreWidened(other + 16, Negate(_mm512_mul_ps(lo, double_first)));
}

// The PCM of one slot of a two-channel stream into its channel's places of the
// interleaved buffer, eight sample pairs at a time.
__attribute__((target("avx2"), always_inline)) inline void StoreStereoPcmAvx2(int16_t* pairs, int ch,
                                                                              const int32_t* out) {
    for (int j = 0; j < 32; j += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + j));
        __m256i* at = reinterpret_cast<__m256i*>(pairs + 2 * j);
        const __m256i old = _mm256_loadu_si256(at);
        if (ch == 0) {
            _mm256_storeu_si256(at, _mm256_blend_epi16(old, v, 0x55));
        } else {
            v = _mm256_slli_epi32(v, 16);
            _mm256_storeu_si256(at, _mm256_blend_epi16(old, v, 0xAA));
        }
    }
}

// The PCM of one slot of a one-channel stream: 32 values already rounded and clipped.
__attribute__((always_inline)) inline void StoreMonoPcm(DecoderState& s, int slot, const int32_t* out) {
    int16_t* pcm = &s.MonoPcmBuffer[32 * slot];
    // Every value is within -32767..32767: the saturating pack changes none.
    for (int j = 0; j < 32; j += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + j));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + j + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + j), _mm_packs_epi32(lo, hi));
    }
}

// The windowing loop across outputs, for n slots whose columns sit at ring
// slots c, c - 1, ...: each output keeps its own double sum over taps 0..15 in
// order, so the result equals the scalar loop bit for bit. A product of two
// floats is exact in double, so a fused multiply-add rounds exactly once, as
// the separate multiply and add do. Clipping before the conversion does not
// change a value inside the range; the conversion rounds to nearest, ties to
// even (a NaN sum ends at -32767, as in RoundAndClip).
template <int N>
void WindowSse2(const double (*ring)[kRingSlots][32], int c, const double* window, int32_t (*out)[32]) {
    // Sixteen outputs at a time keep the sums in registers.
    for (int n = 0; n < N; ++n) {
        for (int j0 = 0; j0 < 32; j0 += 16) {
            __m128d acc[8];
            for (__m128d& a : acc) a = _mm_setzero_pd();
            for (int i = 0; i < 16; ++i) {
                const double* col = ring[i & 1][(c - n + i) & (kRingSlots - 1)] + j0;
                const double* w = window + i * 32 + j0;
                for (int k = 0; k < 8; ++k)
                    acc[k] = _mm_add_pd(acc[k], _mm_mul_pd(_mm_load_pd(col + 2 * k), _mm_load_pd(w + 2 * k)));
            }
            const __m128d hi = _mm_set1_pd(32767.0), lo = _mm_set1_pd(-32767.0);
            for (int k = 0; k < 8; ++k) {
                const __m128i r = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(acc[k], lo), hi));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out[n] + j0 + 2 * k), r);
            }
        }
    }
}

template <int N>
__attribute__((target("avx2,fma"))) void WindowAvx2(const double (*ring)[kRingSlots][32], int c,
                                                    const double* window, int32_t (*out)[32]) {
    for (int n = 0; n < N; ++n) {
        __m256d acc[8];
        for (__m256d& a : acc) a = _mm256_setzero_pd();
        for (int i = 0; i < 16; ++i) {
            const double* col = ring[i & 1][(c - n + i) & (kRingSlots - 1)];
            const double* w = window + i * 32;
            for (int k = 0; k < 8; ++k)
                acc[k] = _mm256_fmadd_pd(_mm256_loadu_pd(col + 4 * k), _mm256_loadu_pd(w + 4 * k), acc[k]);
        }
        const __m256d hi = _mm256_set1_pd(32767.0), lo = _mm256_set1_pd(-32767.0);
        for (int k = 0; k < 8; ++k) {
            const __m128i r = _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(acc[k], lo), hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[n] + 4 * k), r);
        }
    }
}

// Up to three slots at once share each tap's window values.
template <int N>
__attribute__((target("avx512f"))) void WindowAvx512(const double (*ring)[kRingSlots][32], int c,
                                                     const double* window, int32_t (*out)[32]) {
    __m512d acc[N][4];
    for (auto& slot : acc)
        for (__m512d& a : slot) a = _mm512_setzero_pd();
    for (int i = 0; i < 16; ++i) {
        __m512d w[4];
        for (int k = 0; k < 4; ++k) {
            w[k] = _mm512_loadu_pd(window + i * 32 + 8 * k);
            // Held in a register for all N slots rather than loaded again for each.
            __asm__("" : "+v"(w[k]));
        }
        for (int n = 0; n < N; ++n) {
            const double* col = ring[i & 1][(c - n + i) & (kRingSlots - 1)];
            for (int k = 0; k < 4; ++k) acc[n][k] = _mm512_fmadd_pd(_mm512_loadu_pd(col + 8 * k), w[k], acc[n][k]);
        }
    }
    const __m512d hi = _mm512_set1_pd(32767.0), lo = _mm512_set1_pd(-32767.0);
    for (int n = 0; n < N; ++n) {
        for (int k = 0; k < 4; ++k) {
            const __m256i r = _mm512_cvtpd_epi32(_mm512_min_pd(_mm512_max_pd(acc[n][k], lo), hi));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[n] + 8 * k), r);
        }
    }
}

// count slots of channel ch, their DCT outputs in y[0..count-1], the first
// being granule slot first: ring columns, windowing and PCM, then the
// reference's phase and half advanced as many times.
template <int kSlotsPerPass, void (*Window1)(const double (*)[kRingSlots][32], int, const double*, int32_t (*)[32]),
          void (*Window2)(const double (*)[kRingSlots][32], int, const double*, int32_t (*)[32]),
          void (*Window3)(const double (*)[kRingSlots][32], int, const double*, int32_t (*)[32]),
          void (*WriteColumns)(double*, double*, const float*),
          void (*Store)(DecoderState&, int, int, const int32_t*)>
__attribute__((always_inline)) inline void SynthesizeSlotsBody(DecoderState& s, int ch, const float (*y)[32],
                                                               int first, int count) {
    double(*ring)[kRingSlots][32] = s.SynthesisRing[ch];
    const double* window = &s.SynthesisWindowByTap[0][0];
    int c = s.SynthesisRingPos[ch];
    for (int done = 0; done < count;) {
        const int left = count - done;
        const int n = left < kSlotsPerPass ? left : kSlotsPerPass;
        for (int m = 0; m < n; ++m) {
            const int col = (c - m) & (kRingSlots - 1);
            WriteColumns(ring[0][col], ring[1][col], y[done + m]);
        }
        int32_t out[3][32];
        if (n == 3) {
            Window3(ring, c, window, out);
        } else if (n == 2) {
            Window2(ring, c, window, out);
        } else {
            Window1(ring, c, window, out);
        }
        for (int m = 0; m < n; ++m) Store(s, ch, first + done + m, out[m]);
        c = (c - n) & (kRingSlots - 1);
        done += n;
    }
    s.SynthesisRingPos[ch] = c;
    s.SynthesisPhase[ch] = (s.SynthesisPhase[ch] - count) & 15;
    s.SynthesisHalf[ch] ^= count & 1;
}

void StorePcmSse2(DecoderState& s, int ch, int slot, const int32_t* out) {
    if (s.channel_count == 2) {
        StoreStereoPcmSse2(&s.StereoPcmBuffer[2 * 32 * slot], ch, out);
    } else {
        StoreMonoPcm(s, slot, out);
    }
}

__attribute__((target("avx2"))) void StorePcmWide(DecoderState& s, int ch, int slot, const int32_t* out) {
    if (s.channel_count == 2) {
        StoreStereoPcmAvx2(&s.StereoPcmBuffer[2 * 32 * slot], ch, out);
    } else {
        StoreMonoPcm(s, slot, out);
    }
}

void SynthesizeSlotsSse2(DecoderState& s, int ch, const float (*y)[32], int first, int count) {
    SynthesizeSlotsBody<1, WindowSse2<1>, WindowSse2<1>, WindowSse2<1>, WriteRingColumnsSse2, StorePcmSse2>(
        s, ch, y, first, count);
}

__attribute__((target("avx2,fma"))) void SynthesizeSlotsAvx2(DecoderState& s, int ch, const float (*y)[32],
                                                             int first, int count) {
    SynthesizeSlotsBody<1, WindowAvx2<1>, WindowAvx2<1>, WindowAvx2<1>, WriteRingColumnsAvx2, StorePcmWide>(
        s, ch, y, first, count);
}

__attribute__((target("avx512f"))) void WriteRingColumnsWide(double* own, double* other, const float* y) {
    WriteRingColumnsAvx512(own, other, y);
}

__attribute__((target("avx512f"))) void SynthesizeSlotsAvx512(DecoderState& s, int ch, const float (*y)[32],
                                                              int first, int count) {
    SynthesizeSlotsBody<3, WindowAvx512<1>, WindowAvx512<2>, WindowAvx512<3>, WriteRingColumnsWide, StorePcmWide>(
        s, ch, y, first, count);
}

#pragma GCC diagnostic pop

using SlotsKernel = void (*)(DecoderState&, int, const float (*)[32], int, int);
SlotsKernel g_slots_kernel = SynthesizeSlotsSse2;

#endif

}  // namespace

// Y[0] = X[0], Y[n] = 2 X[n], X[n] = sum_k x[k] cos((2k + 1) n pi / 64).
void Dct32(const float in[32], float out[32]) { DctSplit<float, 32>(in, out); }

// Once per process.
void ScaleSynthesisWindow(DecoderState& s) {
    for (float& w : s.SynthesisWindow) w = static_cast<float>(static_cast<double>(w) * 16383.5);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 32; ++j) s.SynthesisWindowByTap[i][j] = s.SynthesisWindow[16 * j + i];
}

void SelectSynthesisKernels([[maybe_unused]] int32_t level) {
#if QUV3_X86_VECTOR
    g_slots_kernel = KernelForLevel<SlotsKernel>(level, SynthesizeSlotsSse2, SynthesizeSlotsAvx2, SynthesizeSlotsAvx512);
    g_dct_kernel = KernelForLevel<DctKernel>(level, Dct32Slots, Dct32SlotsAvx2, Dct32SlotsAvx2);
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

#if !QUV3_X86_VECTOR
namespace {

// History update, windowing and PCM of one slot whose DCT output is y.
void FinishSlot(DecoderState& s, int ch, int slot, const float* y) {
    const int p = s.SynthesisPhase[ch];
    const int h = s.SynthesisHalf[ch];
    const bool stereo = s.channel_count == 2;
    int16_t* pcm = stereo ? &s.StereoPcmBuffer[2 * 32 * slot + ch] : &s.MonoPcmBuffer[32 * slot];
    const int stride = stereo ? 2 : 1;
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
    s.SynthesisPhase[ch] = (p - 1) & 15;
    s.SynthesisHalf[ch] = 1 - h;
}

}  // namespace
#endif

void SynthesizeSlot(DecoderState& s, int ch, int slot) {
    float x[32], y[32];
    for (int k = 0; k < 32; ++k) x[k] = s.SubbandSamples[k][slot];
    Dct32(x, y);
#if QUV3_X86_VECTOR
    const float(*rows)[32] = &y;
    g_slots_kernel(s, ch, rows, slot, 1);
#else
    FinishSlot(s, ch, slot, y);
#endif
}

// The 18 slots of a granule in order; the same result as 18 SynthesizeSlot calls.
void SynthesizeGranule(DecoderState& s, int ch) {
#if QUV3_X86_VECTOR
    Lanes8 y[3][32];
    g_dct_kernel(s.SubbandSamples, y);
    const float* lanes = reinterpret_cast<const float*>(y);
    // Slot-major again for the slot loop.
    float slots[18][32];
    if (g_dct_kernel == Dct32SlotsAvx2) {
        SlotRowsAvx2(lanes, slots);
    } else {
        SlotRowsSse2(lanes, slots);
    }
    g_slots_kernel(s, ch, slots, 0, 18);
#else
    for (int slot = 0; slot < 18; ++slot) SynthesizeSlot(s, ch, slot);
#endif
}

}  // namespace quv3
