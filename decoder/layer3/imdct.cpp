#include <cmath>

#include "decoder/layer3/layer3.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

// E[n] = sum_m x[m] cos(pi (2n + 1) m / 18), n = 0..8. E[8 - n] differs from
// E[n] only in the sign of the odd-m terms, and E[4] needs no multiplication.
void Dct9(const float x[9], float e[9]) {
    for (int n = 0; n < 4; ++n) {
        const float* c = &kImdct9Cos[n * 8];  // c[m - 1] = cos(m (2n + 1) pi / 18)
        const float even = x[0] + x[2] * c[1] + x[4] * c[3] + x[6] * c[5] + x[8] * c[7];
        const float odd = x[1] * c[0] + x[3] * c[2] + x[5] * c[4] + x[7] * c[6];
        e[n] = even + odd;
        e[8 - n] = even - odd;
    }
    e[4] = x[0] - x[2] + x[4] - x[6] + x[8];
}

// 3-point version for the short blocks: cos(pi (2n + 1) m / 6), n = 0..2.
void Dct3(float x0, float x1, float x2, float e[3]) {
    const float a = x0 + x2 * 0.5f;
    const float b = x1 * kCos30;
    e[0] = a + b;
    e[1] = x0 - x2;
    e[2] = a - b;
}

}  // namespace

// The 36-point IMDCT x[i] = sum_k X[k] cos(pi/72 (2i + 1 + 18)(2k + 1)) through
// two 9-point transforms.
void Imdct36(const float in[18], float out[36]) {
    float x[18];
    for (int k = 0; k < 18; ++k) x[k] = in[k];
    for (int k = 17; k >= 1; --k) x[k] += x[k - 1];
    for (int k = 17; k >= 3; k -= 2) x[k] += x[k - 2];
    float ev_in[9], od_in[9], e[9], o[9];
    for (int m = 0; m < 9; ++m) {
        ev_in[m] = x[2 * m];
        od_in[m] = x[2 * m + 1];
    }
    Dct9(ev_in, e);
    Dct9(od_in, o);
    float t[18];
    for (int n = 0; n < 9; ++n) {
        const float on = o[n] * kImdct36OddScale[n];
        t[n] = (e[n] + on) * kImdct36OutScale[n];
        t[17 - n] = (e[n] - on) * kImdct36OutScale[17 - n];
    }
    for (int i = 0; i < 9; ++i) out[i] = t[i + 9];
    for (int i = 9; i < 27; ++i) out[i] = -t[26 - i];
    for (int i = 27; i < 36; ++i) out[i] = -t[i - 27];
}

// The 12-point IMDCT of one short window, multiplied by sin(pi/12 (i + 0.5)).
void Imdct12(const float in[6], float out[12]) {
    float y[6];
    for (int k = 0; k < 6; ++k) y[k] = in[k];
    for (int k = 5; k >= 1; --k) y[k] += y[k - 1];
    y[5] += y[3];
    y[3] += y[1];
    float e[3], o[3];
    Dct3(y[0], y[2], y[4], e);
    Dct3(y[1], y[3], y[5], o);
    float t[6];
    for (int n = 0; n < 3; ++n) {
        const float on = o[n] * kImdct12OddScale[n];
        t[n] = (e[n] + on) * kImdct12OutScale[n];
        t[5 - n] = (e[n] - on) * kImdct12OutScale[5 - n];
    }
    for (int i = 0; i < 3; ++i) out[i] = t[i + 3] * kShortWindow[i];
    for (int i = 3; i < 9; ++i) out[i] = -t[8 - i] * kShortWindow[i];
    for (int i = 9; i < 12; ++i) out[i] = -t[i - 9] * kShortWindow[i];
}

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
    const float* in = &s.SpectralSamples[ch][18 * sb];
    float* ov = s.OverlapBuffer[ch][sb];
    float* out = s.SubbandSamples[sb];
    if (block_type != 2) {
        const float* w = s.ImdctWindows[block_type & 3];
        float x[36];
        Imdct36(in, x);
        for (int t = 0; t < 18; ++t) {
            out[t] = ov[t] + w[t] * x[t];
            ov[t] = w[18 + t] * x[18 + t];
        }
    } else {
        float z[36] = {};
        for (int win = 0; win < 3; ++win) {
            float y[12];
            Imdct12(in + 6 * win, y);
            for (int i = 0; i < 12; ++i) z[6 + 6 * win + i] += y[i];
        }
        for (int t = 0; t < 18; ++t) {
            out[t] = ov[t] + z[t];
            ov[t] = z[18 + t];
        }
    }
    if (sb & 1) {
        for (int t = 1; t < 18; t += 2) out[t] = -out[t];
    }
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
