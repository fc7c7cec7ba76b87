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
// two 9-point transforms, up to the 18 values t that x unfolds from:
// x[i] = t[i + 9] for i < 9, -t[26 - i] for i < 27, -t[i - 27] above.
// The sums of neighbours are formed from the input directly: each step reads
// values the step before has not yet updated.
template <class V>
QUV3_INLINE void Imdct36Folded(const V* in, V* t) {
    V x[18];
    x[0] = in[0];
    x[1] = in[1] + in[0];
    for (int k = 2; k < 18; ++k) {
        x[k] = in[k] + in[k - 1];
        if (k & 1) x[k] += in[k - 2] + in[k - 3];
    }
    V e[9], o[9];
    Dct9(x, 0, e);
    Dct9(x, 1, o);
    for (int n = 0; n < 9; ++n) {
        const V on = o[n] * kImdct36OddScale[n];
        t[n] = (e[n] + on) * kImdct36OutScale[n];
        t[17 - n] = (e[n] - on) * kImdct36OutScale[17 - n];
    }
}

template <class V>
QUV3_INLINE void Imdct36T(const V* in, V* out) {
    V t[18];
    Imdct36Folded(in, t);
    for (int i = 0; i < 9; ++i) out[i] = t[i + 9];
    for (int i = 9; i < 27; ++i) out[i] = -t[26 - i];
    for (int i = 27; i < 36; ++i) out[i] = -t[i - 27];
}

// The 12-point IMDCT of one short window, multiplied by sin(pi/12 (i + 0.5)).
template <class V>
QUV3_INLINE void Imdct12T(const V* in, V* out) {
    V y[6];
    y[0] = in[0];
    for (int k = 1; k < 6; ++k) y[k] = in[k] + in[k - 1];
    y[5] += in[3] + in[2];
    y[3] += in[1] + in[0];
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

// Value i of the 36-value block of a short-block subband: zero plus the
// windows covering it, in window order.
template <class V, class OV>
QUV3_INLINE void ShortBlockValue(const V (*y)[12], int i, OV& z) {
    z = V{} * 0.0f;
    for (int win = 0; win < 3; ++win) {
        const int at = i - 6 - 6 * win;
        if (at >= 0 && at < 12) z += y[win][at];
    }
}

// Windowed transform of one subband's 18 lines with its overlap: out[t] is the
// output before the odd-subband sign rule; the overlap is read from ov and the
// new one written to new_ov, which may be the same place. Every value is formed
// where it is used, without intermediate copies.
template <class V, class OV = V>
QUV3_INLINE void TransformAndOverlap(const V* in, const float* w, int block_type, const OV* ov, OV* new_ov, V* out) {
    if (block_type != 2) {
        V t[18];
        Imdct36Folded(in, t);
        for (int i = 0; i < 9; ++i) out[i] = ov[i] + t[i + 9] * w[i];
        for (int i = 9; i < 18; ++i) out[i] = ov[i] + (-t[26 - i]) * w[i];
        for (int i = 18; i < 27; ++i) new_ov[i - 18] = (-t[26 - i]) * w[i];
        for (int i = 27; i < 36; ++i) new_ov[i - 18] = (-t[i - 27]) * w[i];
    } else {
        // The three windows' blocks start at 6, 12 and 18 of a 36-value block of
        // zeros and are added in that order.
        V y[3][12];
        for (int win = 0; win < 3; ++win) Imdct12T(in + 6 * win, y[win]);
        for (int i = 0; i < 18; ++i) {
            V z;
            ShortBlockValue<V, V>(y, i, z);
            out[i] = ov[i] + z;
        }
        for (int i = 18; i < 36; ++i) ShortBlockValue<V, OV>(y, i, new_ov[i - 18]);
    }
}

}  // namespace

void Imdct36(const float in[18], float out[36]) { Imdct36T<float>(in, out); }
void Imdct12(const float in[6], float out[12]) { Imdct12T<float>(in, out); }

// Once per process.
void PrepareImdctWindows(DecoderState& s) {
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
    float out[18], ov[18];
    for (int t = 0; t < 18; ++t) ov[t] = OverlapAt(s, ch, sb, t);
    TransformAndOverlap<float>(&s.SpectralSamples[ch][18 * sb], s.ImdctWindows[block_type & 3], block_type, ov, ov,
                               out);
    for (int t = 0; t < 18; ++t) {
        s.SubbandSamples[sb][t] = (sb & 1) && (t & 1) ? -out[t] : out[t];
        OverlapAt(s, ch, sb, t) = ov[t];
    }
}

#if QUV3_X86_VECTOR
namespace {

typedef float Lanes8 __attribute__((vector_size(32)));

// Odd time samples of odd subbands are negated (lanes hold subbands from an
// even one on, so the odd lanes).
QUV3_INLINE void FlipOddSubbands(Lanes8* out) {
    const Lanes8 flip = {1, -1, 1, -1, 1, -1, 1, -1};
    for (int t = 1; t < 18; t += 2) out[t] *= flip;
}

// 8 rows of 18 floats at a stride of 18 into 18 vectors of 8 lanes, in 4 x 4
// blocks; the last block starts at column 14 and writes 14 and 15 again.
void LoadColumnsSse2(const float* rows, Lanes8* cols) {
    float* to = reinterpret_cast<float*>(cols);
    for (int k0 : {0, 4, 8, 12, 14})
        for (int l0 = 0; l0 < 8; l0 += 4) Transpose4x4Sse(rows + 18 * l0 + k0, 18, to + 8 * k0 + l0, 8);
}

void StoreColumnsSse2(const Lanes8* cols, float* rows) {
    const float* from = reinterpret_cast<const float*>(cols);
    for (int t0 : {0, 4, 8, 12, 14})
        for (int l0 = 0; l0 < 8; l0 += 4) Transpose4x4Sse(from + 8 * t0 + l0, 8, rows + 18 * l0 + t0, 18);
}

// 8 rows of 18 floats at a stride of 18 into 18 vectors of 8 lanes. The third
// 8 x 8 block starts at column 10 and supplies columns 16 and 17.
template <int k0, int first_kept>
__attribute__((target("avx2"), always_inline)) inline void LoadBlock(const float* rows, Lanes8* cols) {
    __m256 r0 = _mm256_loadu_ps(rows + k0), r1 = _mm256_loadu_ps(rows + 18 + k0);
    __m256 r2 = _mm256_loadu_ps(rows + 36 + k0), r3 = _mm256_loadu_ps(rows + 54 + k0);
    __m256 r4 = _mm256_loadu_ps(rows + 72 + k0), r5 = _mm256_loadu_ps(rows + 90 + k0);
    __m256 r6 = _mm256_loadu_ps(rows + 108 + k0), r7 = _mm256_loadu_ps(rows + 126 + k0);
    Transpose8x8Avx2(r0, r1, r2, r3, r4, r5, r6, r7);
    const __m256 r[8] = {r0, r1, r2, r3, r4, r5, r6, r7};
    for (int i = first_kept; i < 8; ++i) _mm256_store_ps(reinterpret_cast<float*>(&cols[k0 + i]), r[i]);
}

__attribute__((target("avx2"))) void LoadColumnsAvx2(const float* rows, Lanes8* cols) {
    LoadBlock<0, 0>(rows, cols);
    LoadBlock<8, 0>(rows, cols);
    LoadBlock<10, 6>(rows, cols);
}

// The way back; the third block writes columns 10..15 again with the same values.
template <int t0>
__attribute__((target("avx2"), always_inline)) inline void StoreBlock(const Lanes8* cols, float* rows) {
    auto at = [cols](int i) { return reinterpret_cast<const float*>(&cols[t0 + i]); };
    __m256 r0 = _mm256_load_ps(at(0)), r1 = _mm256_load_ps(at(1)), r2 = _mm256_load_ps(at(2));
    __m256 r3 = _mm256_load_ps(at(3)), r4 = _mm256_load_ps(at(4)), r5 = _mm256_load_ps(at(5));
    __m256 r6 = _mm256_load_ps(at(6)), r7 = _mm256_load_ps(at(7));
    Transpose8x8Avx2(r0, r1, r2, r3, r4, r5, r6, r7);
    float* to = rows + t0;
    _mm256_storeu_ps(to, r0);
    _mm256_storeu_ps(to + 18, r1);
    _mm256_storeu_ps(to + 36, r2);
    _mm256_storeu_ps(to + 54, r3);
    _mm256_storeu_ps(to + 72, r4);
    _mm256_storeu_ps(to + 90, r5);
    _mm256_storeu_ps(to + 108, r6);
    _mm256_storeu_ps(to + 126, r7);
}

__attribute__((target("avx2"))) void StoreColumnsAvx2(const Lanes8* cols, float* rows) {
    StoreBlock<0>(cols, rows);
    StoreBlock<8>(cols, rows);
    StoreBlock<10>(cols, rows);
}

typedef int32_t LaneBits8 __attribute__((vector_size(32)));
// Eight floats of the overlap buffer read and written as one vector.
typedef float OverlapLanes8 __attribute__((vector_size(32), may_alias));

// The subbands of group g (8g .. 8g + 7) whose bit is set in lanes: their
// lines are read as rows and turned into vectors, the overlap is read and
// written as vectors in place, and the output rows of the selected subbands
// are written. The other lanes are transformed too, and their results dropped.
template <void (*LoadColumns)(const float*, Lanes8*), void (*StoreColumns)(const Lanes8*, float*)>
QUV3_INLINE void TransformGroupBody(DecoderState& s, int block_type, int group, uint32_t lanes, int ch) {
    // The group's overlap, 18 vectors on a 64-byte boundary.
    OverlapLanes8* overlap = reinterpret_cast<OverlapLanes8*>(&s.OverlapBuffer[ch][0][0] + 144 * group);
    const float* w = s.ImdctWindows[block_type & 3];
    Lanes8 in[18], out[18];
    LoadColumns(&s.SpectralSamples[ch][144 * group], in);
    float* rows = s.SubbandSamples[8 * group];
    if (lanes == 0xFF) {
        TransformAndOverlap<Lanes8, OverlapLanes8>(in, w, block_type, overlap, overlap, out);
        FlipOddSubbands(out);
        StoreColumns(out, rows);
        return;
    }
    OverlapLanes8 fresh[18];
    TransformAndOverlap<Lanes8, OverlapLanes8>(in, w, block_type, overlap, fresh, out);
    FlipOddSubbands(out);
    LaneBits8 keep;
    for (int l = 0; l < 8; ++l) keep[l] = (lanes >> l) & 1 ? -1 : 0;
    for (int t = 0; t < 18; ++t) overlap[t] = keep ? fresh[t] : overlap[t];
    float staged[144];
    StoreColumns(out, staged);
    for (int l = 0; l < 8; ++l) {
        if ((lanes >> l) & 1) __builtin_memcpy(rows + 18 * l, staged + 18 * l, sizeof(float) * 18);
    }
}

void TransformGroupBase(DecoderState& s, int block_type, int group, uint32_t lanes, int ch) {
    TransformGroupBody<LoadColumnsSse2, StoreColumnsSse2>(s, block_type, group, lanes, ch);
}

__attribute__((target("avx2"))) void TransformGroupAvx2(DecoderState& s, int block_type, int group, uint32_t lanes,
                                                        int ch) {
    TransformGroupBody<LoadColumnsAvx2, StoreColumnsAvx2>(s, block_type, group, lanes, ch);
}

using GroupKernel = void (*)(DecoderState&, int, int, uint32_t, int);
GroupKernel g_group_kernel = TransformGroupBase;

}  // namespace

#endif

void SelectTransformKernel([[maybe_unused]] int32_t level) {
#if QUV3_X86_VECTOR
    g_group_kernel = KernelForLevel<GroupKernel>(level, TransformGroupBase, TransformGroupAvx2, TransformGroupAvx2);
#endif
}

// Subbands first .. end - 1 with one block type; the same result as one
// InverseTransformSubband call per subband.
void InverseTransformSubbands(DecoderState& s, int block_type, int first, int end, int ch) {
#if QUV3_X86_VECTOR
    // Whole groups of eight subbands, the subbands outside first .. end - 1 left as they are.
    for (int group = first >> 3; 8 * group < end; ++group) {
        const int lo = first > 8 * group ? first - 8 * group : 0;
        const int hi = end < 8 * group + 8 ? end - 8 * group : 8;
        g_group_kernel(s, block_type, group, ((1u << hi) - 1) & ~((1u << lo) - 1), ch);
    }
#else
    for (int sb = first; sb < end; ++sb) InverseTransformSubband(s, block_type, sb, ch);
#endif
}

// A subband whose 18 lines are all zero outputs its overlap alone.
void PassOverlapThrough(DecoderState& s, int sb, int ch) {
    float* out = s.SubbandSamples[sb];
    for (int t = 0; t < 18; ++t) {
        float& ov = OverlapAt(s, ch, sb, t);
        out[t] = (sb & 1) && (t & 1) ? -ov : ov;
        ov = 0.0f;
    }
}

}  // namespace quv3
