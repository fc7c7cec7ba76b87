#include <cmath>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/transform_tables.h"


namespace quv3 {
namespace {

// The transforms are written once for a value type V: float, or a vector of
// floats carrying several subbands, one per lane, through exactly the scalar
// sequence of operations.
#define QUV3_INLINE __attribute__((always_inline)) inline

// E[n] = sum_m x[m] cos(pi (2n + 1) m / 18), n = 0..8, for x[m] = in[2m + odd].
// E[8 - n] differs from E[n] only in the sign of the odd-m terms, and E[4]
// needs no multiplication.
template <class V>
QUV3_INLINE void Dct9(const V* in, int odd, V* e) {
    const V* x = in + odd;
    for (int n = 0; n < 4; ++n) {
        const float* c = &kImdct9Cos[n * 8];  // c[m - 1] = cos(m (2n + 1) pi / 18)
        const V even = x[0] + x[4] * c[1] + x[8] * c[3] + x[12] * c[5] + x[16] * c[7];
        const V odd_terms = x[2] * c[0] + x[6] * c[2] + x[10] * c[4] + x[14] * c[6];
        e[n] = even + odd_terms;
        e[8 - n] = even - odd_terms;
    }
    e[4] = x[0] - x[4] + x[8] - x[12] + x[16];
}

// 3-point version for the short blocks: cos(pi (2n + 1) m / 6), n = 0..2.
template <class V>
QUV3_INLINE void Dct3(const V& x0, const V& x1, const V& x2, V* e) {
    const V a = x0 + x2 * 0.5f;
    const V b = x1 * kCos30;
    e[0] = a + b;
    e[1] = x0 - x2;
    e[2] = a - b;
}

// The 36-point IMDCT x[i] = sum_k X[k] cos(pi/72 (2i + 1 + 18)(2k + 1)) through
// two 9-point transforms.
template <class V>
QUV3_INLINE void Imdct36T(const V* in, V* out) {
    V x[18];
    for (int k = 0; k < 18; ++k) x[k] = in[k];
    for (int k = 17; k >= 1; --k) x[k] += x[k - 1];
    for (int k = 17; k >= 3; k -= 2) x[k] += x[k - 2];
    V e[9], o[9];
    Dct9(x, 0, e);
    Dct9(x, 1, o);
    V t[18];
    for (int n = 0; n < 9; ++n) {
        const V on = o[n] * kImdct36OddScale[n];
        t[n] = (e[n] + on) * kImdct36OutScale[n];
        t[17 - n] = (e[n] - on) * kImdct36OutScale[17 - n];
    }
    for (int i = 0; i < 9; ++i) out[i] = t[i + 9];
    for (int i = 9; i < 27; ++i) out[i] = -t[26 - i];
    for (int i = 27; i < 36; ++i) out[i] = -t[i - 27];
}

// The 12-point IMDCT of one short window, multiplied by sin(pi/12 (i + 0.5)).
template <class V>
QUV3_INLINE void Imdct12T(const V* in, V* out) {
    V y[6];
    for (int k = 0; k < 6; ++k) y[k] = in[k];
    for (int k = 5; k >= 1; --k) y[k] += y[k - 1];
    y[5] += y[3];
    y[3] += y[1];
    V e[3], o[3];
    Dct3(y[0], y[2], y[4], e);
    Dct3(y[1], y[3], y[5], o);
    V t[6];
    for (int n = 0; n < 3; ++n) {
        const V on = o[n] * kImdct12OddScale[n];
        t[n] = (e[n] + on) * kImdct12OutScale[n];
        t[5 - n] = (e[n] - on) * kImdct12OutScale[5 - n];
    }
    for (int i = 0; i < 3; ++i) out[i] = t[i + 3] * kShortWindow[i];
    for (int i = 3; i < 9; ++i) out[i] = -t[8 - i] * kShortWindow[i];
    for (int i = 9; i < 12; ++i) out[i] = -t[i - 9] * kShortWindow[i];
}

// Windowed transform of one subband's 18 lines with its overlap: out[t] is the
// output before the odd-subband sign rule, ov the overlap in and out.
template <class V>
QUV3_INLINE void TransformAndOverlap(const V* in, const float* w, int block_type, V* ov, V* out) {
    if (block_type != 2) {
        V x[36];
        Imdct36T(in, x);
        for (int t = 0; t < 18; ++t) {
            out[t] = ov[t] + x[t] * w[t];
            ov[t] = x[18 + t] * w[18 + t];
        }
    } else {
        V z[36];
        for (V& v : z) v = V{} * 0.0f;
        for (int win = 0; win < 3; ++win) {
            V y[12];
            Imdct12T(in + 6 * win, y);
            for (int i = 0; i < 12; ++i) z[6 + 6 * win + i] += y[i];
        }
        for (int t = 0; t < 18; ++t) {
            out[t] = ov[t] + z[t];
            ov[t] = z[18 + t];
        }
    }
}

}  // namespace

void Imdct36(const float in[18], float out[36]) { Imdct36T<float>(in, out); }
void Imdct12(const float in[6], float out[12]) { Imdct12T<float>(in, out); }

#if QUV3_X86_VECTOR
void SelectTransformKernel();
#endif

// Once per process; also picks the batched transform for this processor.
void PrepareImdctWindows(DecoderState& s) {
#if QUV3_X86_VECTOR
    SelectTransformKernel();
#endif
    constexpr double kLongStep = 0.08726646;  // pi / 36
    constexpr double kShortStep = 0.2617994;  // pi / 12
    float(*w)[36] = s.ImdctWindows;
    for (int n = 0; n < 36; ++n) {
        w[0][n] = static_cast<float>(std::sin((n + 0.5) * kLongStep));
        w[2][n] = 0.0f;
    }
    for (int n = 0; n < 18; ++n) w[1][n] = static_cast<float>(std::sin((n + 0.5) * kLongStep));
    for (int n = 18; n < 24; ++n) w[1][n] = 1.0f;
    for (int n = 24; n < 30; ++n) w[1][n] = static_cast<float>(std::sin((n + 0.5 - 18) * kShortStep));
    for (int n = 30; n < 36; ++n) w[1][n] = 0.0f;
    for (int n = 0; n < 6; ++n) w[3][n] = 0.0f;
    for (int n = 6; n < 12; ++n) w[3][n] = static_cast<float>(std::sin((n + 0.5 - 6) * kShortStep));
    for (int n = 12; n < 18; ++n) w[3][n] = 1.0f;
    for (int n = 18; n < 36; ++n) w[3][n] = static_cast<float>(std::sin((n + 0.5) * kLongStep));
}

// Butterflies across every subband boundary, including those in the zero region.
void AliasReduce(DecoderState& s, int ch) { AliasReduceBoundaries(s, ch, 31); }

void AliasReduceBoundaries(DecoderState& s, int ch, int boundaries) {
    float* x = s.SpectralSamples[ch];
    for (int b = 1; b <= boundaries; ++b) {
        for (int i = 0; i < 8; ++i) {
            const int lo = 18 * b - 1 - i;
            const int hi = 18 * b + i;
            const float u = x[lo];
            const float d = x[hi];
            x[lo] = u * kAliasCs[i] - d * kAliasCa[i];
            x[hi] = d * kAliasCs[i] + u * kAliasCa[i];
        }
    }
}

// Odd time samples of odd subbands are negated on output (the frequency
// inversion of the polyphase bank); the stored overlap is not.
void InverseTransformSubband(DecoderState& s, int block_type, int sb, int ch) {
    float out[18];
    TransformAndOverlap<float>(&s.SpectralSamples[ch][18 * sb], s.ImdctWindows[block_type & 3], block_type,
                               s.OverlapBuffer[ch][sb], out);
    for (int t = 0; t < 18; ++t) s.SubbandSamples[sb][t] = (sb & 1) && (t & 1) ? -out[t] : out[t];
}

#if QUV3_X86_VECTOR
// 8 rows of 8 floats at src_stride into 8 columns at dst_stride (an exact copy).
__attribute__((target("avx2"))) void Transpose8x8Avx2(const float* src, int src_stride, float* dst,
                                                                int dst_stride) {
    __m256 r[8], t[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm256_loadu_ps(src + i * src_stride);
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm256_unpacklo_ps(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm256_unpackhi_ps(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            r[4 * i + 2 * j] = _mm256_shuffle_ps(t[4 * i + j], t[4 * i + j + 2], 0x44);
            r[4 * i + 2 * j + 1] = _mm256_shuffle_ps(t[4 * i + j], t[4 * i + j + 2], 0xEE);
        }
    }
    // r[k] holds rows 0-3 of column k (low half) and of column k + 4 (high half),
    // r[4 + k] the same for rows 4-7.
    for (int k = 0; k < 4; ++k) {
        const __m256 a = r[k], b = r[4 + k];
        _mm256_storeu_ps(dst + k * dst_stride, _mm256_permute2f128_ps(a, b, 0x20));
        _mm256_storeu_ps(dst + (k + 4) * dst_stride, _mm256_permute2f128_ps(a, b, 0x31));
    }
}

namespace {

typedef float Lanes8 __attribute__((vector_size(32)));

// Eight subbands at a time, lane l holding subband first + l.
template <bool kAvx>
QUV3_INLINE void TransformBatches(DecoderState& s, int block_type, int first, int end, int ch) {
    const float* w = s.ImdctWindows[block_type & 3];
    for (int sb0 = first; sb0 < end; sb0 += 8) {
        const int lanes = end - sb0 < 8 ? end - sb0 : 8;
        float gather[18][8] = {}, overlap[18][8] = {};
        if (kAvx && lanes == 8) {
            const float* in = &s.SpectralSamples[ch][18 * sb0];
            const float* ov = s.OverlapBuffer[ch][sb0];
            for (int k0 = 0; k0 < 16; k0 += 8) {
                Transpose8x8Avx2(in + k0, 18, gather[k0], 8);
                Transpose8x8Avx2(ov + k0, 18, overlap[k0], 8);
            }
            for (int l = 0; l < 8; ++l)
                for (int k = 16; k < 18; ++k) gather[k][l] = in[18 * l + k], overlap[k][l] = ov[18 * l + k];
        } else {
            for (int l = 0; l < lanes; ++l) {
                const float* in = &s.SpectralSamples[ch][18 * (sb0 + l)];
                const float* ov = s.OverlapBuffer[ch][sb0 + l];
                for (int k = 0; k < 18; ++k) gather[k][l] = in[k], overlap[k][l] = ov[k];
            }
        }
        Lanes8 in[18], ov[18], out[18];
        __builtin_memcpy(in, gather, sizeof in);
        __builtin_memcpy(ov, overlap, sizeof ov);
        TransformAndOverlap<Lanes8>(in, w, block_type, ov, out);
        // Odd time samples of odd subbands (odd lanes: batches start on even subbands).
        const Lanes8 flip = {1, -1, 1, -1, 1, -1, 1, -1};
        for (int t = 1; t < 18; t += 2) out[t] *= flip;
        float result[18][8];
        __builtin_memcpy(result, out, sizeof result);
        __builtin_memcpy(overlap, ov, sizeof overlap);
        if (kAvx && lanes == 8) {
            float* dst = s.SubbandSamples[sb0];
            float* ovd = s.OverlapBuffer[ch][sb0];
            for (int t0 = 0; t0 < 16; t0 += 8) {
                Transpose8x8Avx2(result[t0], 8, dst + t0, 18);
                Transpose8x8Avx2(overlap[t0], 8, ovd + t0, 18);
            }
            for (int l = 0; l < 8; ++l)
                for (int t = 16; t < 18; ++t) dst[18 * l + t] = result[t][l], ovd[18 * l + t] = overlap[t][l];
            continue;
        }
        for (int l = 0; l < lanes; ++l) {
            const int sb = sb0 + l;
            float* dst = s.SubbandSamples[sb];
            float* ovd = s.OverlapBuffer[ch][sb];
            for (int t = 0; t < 18; ++t) {
                dst[t] = result[t][l];
                ovd[t] = overlap[t][l];
            }
        }
    }
}

void TransformBatchesBase(DecoderState& s, int block_type, int first, int end, int ch) {
    TransformBatches<false>(s, block_type, first, end, ch);
}

__attribute__((target("avx2"))) void TransformBatchesAvx2(DecoderState& s, int block_type, int first, int end,
                                                          int ch) {
    TransformBatches<true>(s, block_type, first, end, ch);
}

using BatchKernel = void (*)(DecoderState&, int, int, int, int);
BatchKernel g_batch_kernel = TransformBatchesBase;

}  // namespace

void SelectTransformKernel() { g_batch_kernel = CpuHasAvx2Fma() ? TransformBatchesAvx2 : TransformBatchesBase; }

namespace {

}  // namespace
#endif

// Subbands first .. end - 1 with one block type; the same result as one
// InverseTransformSubband call per subband.
void InverseTransformSubbands(DecoderState& s, int block_type, int first, int end, int ch) {
#if QUV3_X86_VECTOR
    if (end > first) g_batch_kernel(s, block_type, first, end, ch);
#else
    for (int sb = first; sb < end; ++sb) InverseTransformSubband(s, block_type, sb, ch);
#endif
}

// A subband whose 18 lines are all zero outputs its overlap alone.
void PassOverlapThrough(DecoderState& s, int sb, int ch) {
    float* ov = s.OverlapBuffer[ch][sb];
    float* out = s.SubbandSamples[sb];
    for (int t = 0; t < 18; ++t) {
        out[t] = (sb & 1) && (t & 1) ? -ov[t] : ov[t];
        ov[t] = 0.0f;
    }
}

}  // namespace quv3
