#pragma once

// The vector kernels, written once over the level's Simd (simd_<level>.h) and
// instantiated by each kernels_<level>.cpp, which includes the level's header
// first. A vector of V holds the same computation for several subbands, slots
// or lines, one per lane, through exactly the scalar sequence of operations:
// every level gives the plain level's samples bit for bit.
#include <type_traits>
#include <utility>

#include "decoder/layer3/kernels/kernels.h"
#include "decoder/layer3/kernels/simd.h"
#include "decoder/layer3/kernels/simd_plain.h"
#include "decoder/layer3/synthesis.h"
#include "decoder/tables/quant_tables.h"
#include "decoder/tables/synthesis_window_table.h"
#include "decoder/tables/transform_tables.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stereo PCM is stored as little-endian sample pairs");

namespace quv3 {
namespace {

#define QUV3_INLINE __attribute__((always_inline)) inline

// Loops unrolled so that every index is known when compiling. Under the
// sanitizers they stay rolled: instrumenting the unrolled bodies takes
// minutes. The results are the same either way.
#define QUV3_PRAGMA(x) _Pragma(#x)
#define QUV3_UNROLL(n) QUV3_PRAGMA(GCC unroll n)
#define QUV3_UNROLL_TAPS QUV3_UNROLL(16)
#if defined(__SANITIZE_ADDRESS__) || defined(QUV3_ROLLED)
#undef QUV3_UNROLL
#define QUV3_UNROLL(n)
#endif
#if defined(__clang__) && defined(__has_feature)
#if __has_feature(address_sanitizer)
#undef QUV3_UNROLL
#define QUV3_UNROLL(n)
#undef QUV3_UNROLL_TAPS
#define QUV3_UNROLL_TAPS _Pragma("clang loop unroll(disable)")
#endif
#endif

// ------------------------------------------------------------ transposes

// L vectors of L lanes transposed in place (L = 1, 4 or 8): the shuffles of
// the classic unpack, shuffle and lane-swap sequence.
template <class V>
QUV3_INLINE void Transpose(V* r) {
    constexpr int L = kLanesOf<V>;
    if constexpr (L == 4) {
        const V t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
        const V t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
        const V t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
        const V t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
        r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
        r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
        r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
        r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
    } else if constexpr (L == 8) {
        V t[8], u[8];
        for (int k = 0; k < 8; k += 2) {
            t[k] = __builtin_shufflevector(r[k], r[k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
            t[k + 1] = __builtin_shufflevector(r[k], r[k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
        }
        for (int k = 0; k < 8; k += 4) {
            u[k] = __builtin_shufflevector(t[k], t[k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            u[k + 1] = __builtin_shufflevector(t[k], t[k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
            u[k + 2] = __builtin_shufflevector(t[k + 1], t[k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
            u[k + 3] = __builtin_shufflevector(t[k + 1], t[k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
        }
        for (int k = 0; k < 4; ++k) {
            r[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            r[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    } else {
        static_assert(L == 1);
    }
}

// L rows of 18 values at a stride of 18 to 18 vectors of L lanes and back, in
// L x L blocks; the last block starts at 18 - L and moves some values again.
template <bool kToColumns, class V>
QUV3_INLINE void TransposeRows(float* rows, V* cols) {
    constexpr int L = kLanesOf<V>;
    // Unrolled: rolled, GCC copies each row through a loop of 16-byte moves.
    QUV3_UNROLL(18) for (int k0 = 0; k0 < 18; k0 += L) {
        const int at = k0 < 18 - L ? k0 : 18 - L;
        V r[L];
        QUV3_UNROLL(8) for (int l = 0; l < L; ++l) {
            r[l] = kToColumns ? LoadVec<V>(rows + 18 * l + at) : cols[at + l];
        }
        Transpose(r);
        QUV3_UNROLL(8) for (int l = 0; l < L; ++l) {
            if (kToColumns) {
                cols[at + l] = r[l];
            } else {
                StoreVec(rows + 18 * l + at, r[l]);
            }
        }
    }
}

// ------------------------------------------------------------ dequantization

// q^(4/3) x gain with the sign of q: negation only flips the sign bit, and
// q = 0 clears every bit (+0.0 even for a negative or zero gain).
template <class S>
void DequantizeLines(const int32_t* q, const float* gains, float* out, int32_t n) {
    constexpr int N = S::kDequantLanes;
    using I = Vec<int32_t, N>;
    using F = Vec<float, N>;
    for (int32_t i = 0; i < n; i += N) {
        const I qv = LoadVec<I>(q + i);
        const F v = S::Pow43(qv < 0 ? -qv : qv) * LoadVec<F>(gains + i);
        const I bits = (reinterpret_cast<I>(v) ^ (qv & INT32_MIN)) & (qv != 0);
        StoreVec(out + i, bits);
    }
}

// ------------------------------------------------------------ mid/side

template <class S, int N>
QUV3_INLINE int32_t MidSideRun(float* left, float* right, int32_t i, int32_t end) {
    using F = Vec<float, N>;
    for (; i + N <= end; i += N) {
        const auto l = S::Widen(LoadVec<F>(left + i));
        const auto r = S::Widen(LoadVec<F>(right + i));
        StoreVec(left + i, S::Narrow((l + r) * kMidSideScale));
        StoreVec(right + i, S::Narrow((l - r) * kMidSideScale));
    }
    return i;
}

template <class S>
void MidSideLines(float* left, float* right, int32_t begin, int32_t end) {
    const int32_t i = MidSideRun<S, S::kDoubleLanes>(left, right, begin, end);
    MidSideRun<PlainSimd, 1>(left, right, i, end);
}

// ------------------------------------------------------------ IMDCT

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

// The 12-point IMDCT of one short window, multiplied by sin(pi/12 (i + 0.5)).
template <class V>
QUV3_INLINE void Imdct12(const V* in, V* out) {
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
template <class V>
QUV3_INLINE V ShortBlockValue(const V (*y)[12], int i) {
    V z = V{} * 0.0f;
    for (int win = 0; win < 3; ++win) {
        const int at = i - 6 - 6 * win;
        if (at >= 0 && at < 12) z += y[win][at];
    }
    return z;
}

// Windowed transform of 18 lines with their overlap: out[t] is the output
// before the odd-subband sign rule. The overlap is read from ov and the new one
// written to new_ov, 8 floats apart; they may be the same place, as every value
// is read before it is written.
template <class V>
QUV3_INLINE void TransformAndOverlap(const V* in, const float* w, int block_type, const float* ov, float* new_ov,
                                     V* out) {
    auto old = [ov](int t) { return LoadVec<V>(ov + 8 * t); };
    auto keep = [new_ov](int t, V v) { StoreVec(new_ov + 8 * t, v); };
    if (block_type == kOverlapOnly) {
        for (int i = 0; i < 18; ++i) out[i] = old(i);
        for (int i = 0; i < 18; ++i) keep(i, V{} * 0.0f);
    } else if (block_type != 2) {
        V t[18];
        Imdct36Folded(in, t);
        for (int i = 0; i < 9; ++i) out[i] = old(i) + t[i + 9] * w[i];
        for (int i = 9; i < 18; ++i) out[i] = old(i) + (-t[26 - i]) * w[i];
        for (int i = 18; i < 27; ++i) keep(i - 18, (-t[26 - i]) * w[i]);
        for (int i = 27; i < 36; ++i) keep(i - 18, (-t[i - 27]) * w[i]);
    } else {
        // The three windows' blocks start at 6, 12 and 18 of a 36-value block of
        // zeros and are added in that order.
        V y[3][12];
        for (int win = 0; win < 3; ++win) Imdct12(in + 6 * win, y[win]);
        // Unrolled, so that which windows cover each value is known when compiling.
        QUV3_UNROLL(18) for (int i = 0; i < 18; ++i) out[i] = old(i) + ShortBlockValue(y, i);
        QUV3_UNROLL(18) for (int i = 18; i < 36; ++i) keep(i - 18, ShortBlockValue(y, i));
    }
}

// Subbands first .. first + L - 1 (first a multiple of L), those with their bit
// set in lanes; the others are transformed too and their results dropped.
// lines: the first subband's 18 lines, subbands 18 apart; overlap: its 18
// values 8 apart (the overlap is kept sample-major per group of eight
// subbands); rows: its output row, subbands 18 apart. Odd time samples of odd
// subbands are negated on output (the frequency inversion of the polyphase
// bank); the stored overlap is not.
template <class S>
void TransformSubbands(const float* lines, const float* window, int block_type, float* overlap, float* rows,
                       int first, uint32_t mask) {
    using V = Vec<float, S::kFloatLanes>;
    constexpr int L = S::kFloatLanes;
    V in[18], out[18];
    if (block_type != kOverlapOnly) TransposeRows<true>(const_cast<float*>(lines), in);
    V flip;
    for (int l = 0; l < L; ++l) flip[l] = (first + l) & 1 ? -1.0f : 1.0f;
    if (mask == (1u << L) - 1) {
        TransformAndOverlap(in, window, block_type, overlap, overlap, out);
        for (int t = 1; t < 18; t += 2) out[t] *= flip;
        TransposeRows<false>(rows, out);
        return;
    }
    float fresh[18 * 8];
    TransformAndOverlap(in, window, block_type, overlap, fresh, out);
    for (int t = 1; t < 18; t += 2) out[t] *= flip;
    Vec<int32_t, L> keep;
    for (int l = 0; l < L; ++l) keep[l] = (mask >> l) & 1 ? -1 : 0;
    for (int t = 0; t < 18; ++t)
        StoreVec(overlap + 8 * t, keep ? LoadVec<V>(fresh + 8 * t) : LoadVec<V>(overlap + 8 * t));
    float staged[18 * L];
    TransposeRows<false>(staged, out);
    for (int l = 0; l < L; ++l) {
        if ((mask >> l) & 1) __builtin_memcpy(rows + 18 * l, staged + 18 * l, sizeof(float) * 18);
    }
}

// ------------------------------------------------------------ synthesis

// Value k of one half of a decimation-in-frequency split of N values
// v(0..N-1): the sum v(k) + v(N-1-k) for the even outputs, or the difference
// times the cosine for the odd ones. Values from Z on are zero and not read: a
// sum or difference with one is the other value (but for the sign of a zero,
// which no later sum, difference or product turns into anything but a zero's
// sign); a value beyond both is left unset, and no transform reads it.
template <class V, int N, int Z, bool kOdd, class Get>
QUV3_INLINE void SplitValue(Get v, int k, V& h) {
    const float c = kDctCosTable[(2 * k + 1) * 32 / N - 1];
    if (N - 1 - k < Z) {
        h = kOdd ? (v(k) - v(N - 1 - k)) * c : v(k) + v(N - 1 - k);
    } else if (k < Z) {
        h = kOdd ? v(k) * c : v(k);
    }
}

// The odd outputs of a split from its odd half's transform, the even ones
// already in place: R[0] is the plain sum, R[k >= 1] twice the DCT value.
template <class V, int H>
QUV3_INLINE void MergeOddHalf(const V* odd, V* r) {
    r[1] = odd[0];
    for (int k = 1; k < H; ++k) r[2 * k + 1] = odd[k] - r[2 * k - 1];
}

// The DCT of a block of N values by splitting it, those from Z on being zero.
template <class V, int N, int Z = N>
QUV3_INLINE void DctSplit(const V* v, V* r) {
    if constexpr (N == 1) {
        r[0] = Z > 0 ? v[0] : V{};
    } else {
        constexpr int H = N / 2, Zh = Z < H ? Z : H;
        V a[H], b[H], even[H], odd[H];
        auto at = [v](int k) { return v[k]; };
        // Both halves' values k together: each pair of inputs is read once.
        QUV3_UNROLL(16) for (int k = 0; k < H; ++k) {
            SplitValue<V, N, Z, false>(at, k, a[k]);
            SplitValue<V, N, Z, true>(at, k, b[k]);
        }
        DctSplit<V, H, Zh>(a, even);
        DctSplit<V, H, Zh>(b, odd);
        for (int k = 0; k < H; ++k) r[2 * k] = even[k];
        MergeOddHalf<V, H>(odd, r);
    }
}

// The 32-point DCT of all 18 slots, L slots a vector: batches start at 0, L,
// ... and the last at 18 - L, so some slots come out twice, the same values
// both times. Subbands from Z on are zero and not read. Out: one row of 32
// values per slot. The first split reads its inputs from memory once for each
// half, and transforms that half before forming the other, so only one half's
// values are live at a time.
template <class V, int Z>
QUV3_INLINE void DctOfSlots(const float (*subbands)[18], float (*slots)[32]) {
    constexpr int L = kLanesOf<V>, Zh = Z < 16 ? Z : 16;
    for (int s0 = 0; s0 < 18; s0 += L) {
        const int at = s0 < 18 - L ? s0 : 18 - L;
        auto x = [&](int k) { return LoadVec<V>(&subbands[k][at]); };
        V h[16], r[16], y[32];
        QUV3_UNROLL(16) for (int k = 0; k < 16; ++k) SplitValue<V, 32, Z, false>(x, k, h[k]);
        DctSplit<V, 16, Zh>(h, r);
        for (int k = 0; k < 16; ++k) y[2 * k] = r[k];
        QUV3_UNROLL(16) for (int k = 0; k < 16; ++k) SplitValue<V, 32, Z, true>(x, k, h[k]);
        DctSplit<V, 16, Zh>(h, r);
        MergeOddHalf<V, 16>(r, y);
        QUV3_UNROLL(8) for (int n0 = 0; n0 < 32; n0 += L) {
            Transpose(y + n0);
            QUV3_UNROLL(8) for (int l = 0; l < L; ++l) StoreVec(&slots[at + l][n0], y[n0 + l]);
        }
    }
}

// The lanes of v in reverse order.
template <class V, int... I>
QUV3_INLINE V ReversedLanes(V v, std::integer_sequence<int, I...>) {
    if constexpr (sizeof...(I) == 1) {
        return v;
    } else {
        return __builtin_shufflevector(v, v, (int(sizeof...(I)) - 1 - I)...);
    }
}

// The history of one slot from its DCT output y, widened to double, into ring
// slot col (and its mirror copy, for the slots kept twice):
// kind 0 (own half) j = 0..15: y[16 + j]; kind 1 (other half): -y[16 - j];
// middle: -2 y[0], formed in float.
template <class S>
QUV3_INLINE void WriteRingColumns(const float* y, SynthesisRing& ring, int col) {
    const bool mirrored = col < kMirroredSlots;
    double(*column)[16] = ring.columns[col];
    double(*mirror)[16] = ring.columns[mirrored ? col + 32 : col];  // written only when mirrored
    constexpr int M = S::kDoubleLanes;
    constexpr int W = M > 4 ? M : 4;
    using F = Vec<float, W>;
    // W floats at a time, each step exact, widened M at a time.
    auto put = [&](int kind, int j, F v) {
        for (int h = 0; h < W; h += M) {
            Vec<float, M> part;
            __builtin_memcpy(&part, reinterpret_cast<const float*>(&v) + h, sizeof part);
            const auto d = S::Widen(part);
            StoreVec(&column[kind][j + h], d);
            if (mirrored) StoreVec(&mirror[kind][j + h], d);
        }
    };
    for (int j = 0; j < 16; j += W) put(0, j, LoadVec<F>(y + 16 + j));
    for (int j = 0; j < 16; j += W)
        put(1, j, -ReversedLanes(LoadVec<F>(y + 17 - W - j), std::make_integer_sequence<int, W>{}));
    const double mid = -(y[0] * 2.0f);
    ring.middle[col] = mid;
    if (mirrored) ring.middle[col + 32] = mid;
}

// The window's values are floats, so that its products with the history are
// exact in double (WindowSlots).
constexpr bool WindowIsFloatValued() {
    auto is_float = [](double w) { return static_cast<double>(static_cast<float>(w)) == w; };
    for (const auto& tap : kSynthesisWindowFolded)
        for (const auto& kind : tap)
            for (double w : kind)
                if (!is_float(w)) return false;
    for (double w : kSynthesisWindowMiddle)
        if (!is_float(w)) return false;
    return true;
}
static_assert(WindowIsFloatValued(), "the window's products with the float history must be exact in double");

// The windowing's samples of PCM type T, before they are stored: 16-bit
// samples as 32-bit integers, floats as floats.
template <class T>
using WindowOut = std::conditional_t<std::is_same_v<T, float>, float, int32_t>;

// Float samples from windowing sums v, which are 32767 times the filter's
// output: f = v / 32767, rounded to double and then to float, then moved one
// float step toward v / 32767 where the library's rule from float to 16 bits
// takes f to another integer than the 16-bit sample. The rule R(x): x in
// double, clipped to -32767..32767 (a NaN to -32767), rounded to nearest,
// ties to even, applied to 32767 f, which is exact in double (24 by 15 bits
// fit in 53); R(v) is ClipAndRound(v), the 16-bit sample.
//
// Why f can be wrong: 32767 f lies up to 32767 half float steps from v (v /
// 32767 is rounded once to double and once to float), so where a rounding
// boundary k + 1/2 lies between them, or v lies exactly on one (a tie, which
// goes to the even integer), the rule rounds f to the other neighbour of v.
//
// Why one step always suffices: let a <= v / 32767 <= a' be the floats next
// to v / 32767 (a = a' when it is a float, and then 32767 f = v). Rounding is
// monotonic and leaves a and a' in place, so f is a or a'. R is monotonic and
// steps only at the boundaries -32766.5 .. 32766.5, where |v / 32767| < 1 and
// a float step is at most 2^-24: an interval [32767 a, 32767 a'] that holds a
// boundary is narrower than 32767 x 2^-24 < 0.002, so it holds that boundary
// alone, and R takes two values on it, R(32767 a) and R(32767 a'), one of
// which is R(v). When f gives the other one, the other end, one step toward
// v, gives R(v). That covers a tie v = k + 1/2 (R(v) is the even one of k and
// k + 1, which one end gives) and the clipping limits: beyond +-32766.5 R is
// the clipped value over the whole interval, and f is never moved. A NaN sum
// gives a NaN, which the rule takes to -32767 as ClipAndRound does.
// No boundary lies near zero, so f is never 0 when it moves: the step is +1 on
// the bit pattern away from zero and -1 toward it. A zero float is +0.0 (+0.0f
// is added): zero sums, whose sign the kernels do not keep (SplitValue,
// WindowSlots), and sums too small for a float.
template <class S, class D>
QUV3_INLINE auto FloatSamples(D v) {
    constexpr int M = kLanesOf<D>;
    using I = Vec<int32_t, M>;
    const Vec<float, M> f = S::Narrow(v / 32767.0) + 0.0f;
    const D g = S::Widen(f) * 32767.0;
    const I wrong = S::ClipAndRound(g) != S::ClipAndRound(v);
    const I bits = reinterpret_cast<I>(f);
    // The step toward v leads away from zero where v - g has the sign of f
    // (narrowed to float, a difference keeps its sign): +1 there, else -1.
    const I toward = bits ^ reinterpret_cast<I>(S::Narrow(v - g));
    return reinterpret_cast<Vec<float, M>>(bits + (wrong & ((toward >> 31) | 1)));
}

// The samples of PCM type T from M windowing sums: 16-bit ones clipped to
// -32767..32767 (a NaN sum to -32767) and rounded to the nearest integer, ties
// to even; floats as FloatSamples gives them.
template <class S, class T, class D>
QUV3_INLINE Vec<WindowOut<T>, kLanesOf<D>> WindowedSamples(D v) {
    if constexpr (std::is_same_v<T, float>) {
        return FloatSamples<S>(v);
    } else {
        return S::ClipAndRound(v);
    }
}

// Windowing of P slots whose history sits at ring slots c, c - 1, ...: output
// j of a slot sums taps i = 0..15 in order, in double, tap i reading the slot
// i back (kind 0 for even i, kind 1 for odd). A sum starts from its first
// product: starting from zero would change only the sign of a zero sum. Each
// history value loaded serves outputs j and 32 - j through the folded window;
// output 16 sums the odd taps of the middle values (its even taps add products
// of +0, which change no sum but a zero's sign, and the rounding to an integer
// drops that). The outputs go in runs of C vectors, each run's window vectors
// loaded once for all P slots.
// The history holds floats widened to double, and the window (both its tables)
// float values: a product of two floats is exact in double, so a fused
// multiply-add rounds exactly once, as the separate multiply and add do, and
// every level's sums are the plain level's, bit for bit. Each sum becomes a
// sample as T asks (WindowedSamples). out rows hold 40 values: 32 is scratch.
template <class S, int P, class T>
QUV3_INLINE void WindowSlots(const SynthesisRing& ring, int c, WindowOut<T> (*out)[40]) {
    constexpr int M = S::kDoubleLanes;
    constexpr int C = S::kWindowVectors;
    static_assert(16 % (C * M) == 0, "whole runs over the 16 history values of a kind");
    using D = Vec<double, M>;
    // The pass's oldest slot; slot n's history begins P - 1 - n slots after it.
    // Flat offsets, not array indices: clang's bounds checks on the indices
    // stall its optimiser for minutes in sanitizer builds.
    const int oldest = (c - (P - 1)) & 31;
    const double* base = &ring.columns[oldest][0][0];
    const double* window = &kSynthesisWindowFolded[0][0][0];
    for (int j0 = 0; j0 < 16; j0 += C * M) {
        D lo[P][C], hi[P][C];
        // Fully unrolled: every address is a fixed offset from base.
        QUV3_UNROLL_TAPS
        for (int i = 0; i < 16; ++i) {
            for (int k = 0; k < C; ++k) {
                const int j = j0 + M * k;
                const D wl = LoadVec<D>(window + 32 * i + j), wh = LoadVec<D>(window + 32 * i + 16 + j);
                for (int n = 0; n < P; ++n) {
                    const D x = LoadVec<D>(base + 32 * (P - 1 - n + i) + 16 * (i & 1) + j);
                    lo[n][k] = i == 0 ? x * wl : S::MulAdd(x, wl, lo[n][k]);
                    hi[n][k] = i == 0 ? x * wh : S::MulAdd(x, wh, hi[n][k]);
                }
            }
        }
        for (int n = 0; n < P; ++n) {
            for (int k = 0; k < C; ++k) {
                const int j = j0 + M * k;
                StoreVec(&out[n][j], WindowedSamples<S, T>(lo[n][k]));
                // Lane l is output 32 - j - l; lane 0 of the first run (output 32) lands in the scratch.
                StoreVec(&out[n][32 - j - (M - 1)],
                         ReversedLanes(WindowedSamples<S, T>(hi[n][k]), std::make_integer_sequence<int, M>{}));
            }
        }
    }
    // Output 16, M slots a vector where the pass has that many: lane l is slot
    // n0 + M - 1 - l, so the middle values each tap reads run upwards with l
    // (the last vector may take slots the one before took, with the same sums).
    const double* middle = &ring.middle[oldest];
    if constexpr (M <= P) {
        for (int n0 = 0;; n0 += M) {
            if (n0 > P - M) n0 = P - M;
            D acc = LoadVec<D>(middle + P - M - n0 + 1) * kSynthesisWindowMiddle[0];
            for (int k = 1; k < 8; ++k)
                acc = S::MulAdd(LoadVec<D>(middle + P - M - n0 + 2 * k + 1), D{} + kSynthesisWindowMiddle[k], acc);
            const auto r = WindowedSamples<S, T>(acc);
            for (int l = 0; l < M; ++l) out[n0 + M - 1 - l][16] = r[l];
            if (n0 == P - M) break;
        }
    } else {
        for (int n = 0; n < P; ++n) {
            double acc = middle[P - 1 - n + 1] * kSynthesisWindowMiddle[0];
            for (int k = 1; k < 8; ++k) acc = acc + middle[P - 1 - n + 2 * k + 1] * kSynthesisWindowMiddle[k];
            out[n][16] = WindowedSamples<S, T>(D{} + acc)[0];
        }
    }
}

// 32 PCM values of one slot into the granule's buffer: the mono run, or, with
// the left channel's run given, the interleaved pairs of both channels.
// Every 16-bit value lies within -32767..32767: the narrowing changes none.
template <class T>
QUV3_INLINE void StorePcm(T* pcm, const T* left, int slot, const WindowOut<T>* out) {
    if constexpr (std::is_same_v<T, float>) {
        using F = Vec<float, 4>;
        for (int j = 0; j < 32; j += 4) {
            const F v = LoadVec<F>(out + j);
            if (left) {
                const F l = LoadVec<F>(left + 32 * slot + j);
                StoreVec(pcm + 64 * slot + 2 * j, __builtin_shufflevector(l, v, 0, 4, 1, 5));
                StoreVec(pcm + 64 * slot + 2 * j + 4, __builtin_shufflevector(l, v, 2, 6, 3, 7));
            } else {
                StoreVec(pcm + 32 * slot + j, v);
            }
        }
    } else {
        using H = Vec<int16_t, 8>;
        using H4 = Vec<int16_t, 4>;
        for (int j = 0; j < 32; j += 8) {
            const H4 a = __builtin_convertvector(LoadVec<Vec<int32_t, 4>>(out + j), H4);
            const H4 b = __builtin_convertvector(LoadVec<Vec<int32_t, 4>>(out + j + 4), H4);
            const H v = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
            if (left) {
                const H l = LoadVec<H>(left + 32 * slot + j);
                StoreVec(pcm + 64 * slot + 2 * j, __builtin_shufflevector(l, v, 0, 8, 1, 9, 2, 10, 3, 11));
                StoreVec(pcm + 64 * slot + 2 * j + 8, __builtin_shufflevector(l, v, 4, 12, 5, 13, 6, 14, 7, 15));
            } else {
                StoreVec(pcm + 32 * slot + j, v);
            }
        }
    }
}

// The 18 slots of one channel's granule: DCT, history columns, windowing, PCM
// of type T (int16_t or float).
template <class S, class T>
void SynthesizeGranule(const float (*subbands)[18], int rows, SynthesisRing& ring, T* pcm, const T* left) {
    constexpr int P = S::kSlotsPerPass;
    using V = Vec<float, S::kFloatLanes>;
    alignas(64) float slots[18][32];
    if (rows <= 8) {
        DctOfSlots<V, 8>(subbands, slots);
    } else if (rows <= 16) {
        DctOfSlots<V, 16>(subbands, slots);
    } else {
        DctOfSlots<V, 32>(subbands, slots);
    }
    static_assert(18 % P == 0 && P <= kMaxSlotsPerPass, "whole passes of slots, within the ring's mirror");
    int c = ring.next;
    for (int done = 0; done < 18; done += P) {
        WindowOut<T> out[P][40];
        for (int m = 0; m < P; ++m) WriteRingColumns<S>(slots[done + m], ring, (c - m) & 31);
        WindowSlots<S, P, T>(ring, c, out);
        for (int m = 0; m < P; ++m) StorePcm(pcm, left, done + m, out[m]);
        c = (c - P) & 31;
    }
    ring.next = c;
}

template <class S>
constexpr Kernels KernelsOf(const char* name) {
    return Kernels{name,
                   S::kFloatLanes,
                   DequantizeLines<S>,
                   MidSideLines<S>,
                   TransformSubbands<S>,
                   SynthesizeGranule<S, int16_t>,
                   SynthesizeGranule<S, float>};
}

#undef QUV3_INLINE
#undef QUV3_UNROLL_TAPS
#undef QUV3_UNROLL
#undef QUV3_PRAGMA

}  // namespace
}  // namespace quv3
