#include "decoder/layer3/layer3.h"
#include "decoder/tables/quant_tables.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }

// One line of a joint-stereo granule, written at output position p of both channels.
__attribute__((always_inline)) inline void StereoLine(DecoderState& s, int32_t j, int32_t p, float gl, float gr,
                                                     int32_t ms, int32_t position) {
    if (j >= 576) return;
    const float vl = DequantizeSample(s.QuantizedValues[0][j], gl);
    float* left = s.SpectralSamples[0];
    float* right = s.SpectralSamples[1];
    if (position != kNoIntensity) {
        if (s.header.ID == 1) {
            const float k = kIntensityRatioTable[position & 7];
            left[p] = vl * (1.0f - k);
            right[p] = vl * k;
        } else {
            const float* t = kLsfIntensityTable[s.IntensityScale & 1];
            if (position & 1) {
                left[p] = vl * t[((position + 1) >> 1) & 31];
                right[p] = vl;
            } else {
                left[p] = vl;
                right[p] = vl * t[(position >> 1) & 31];
            }
        }
        return;
    }
    const float vr = DequantizeSample(s.QuantizedValues[1][j], gr);
    if (ms) {
        left[p] = static_cast<float>((static_cast<double>(vl) + vr) * kMidSideScale);
        right[p] = static_cast<float>((static_cast<double>(vl) - vr) * kMidSideScale);
    } else {
        left[p] = vl;
        right[p] = vr;
    }
}

// Mid/side of lines 0 .. end - 1, in double precision as StereoLine forms it.
__attribute__((always_inline)) inline void MidSideBody(float* left, float* right, int32_t end) {
    for (int32_t i = 0; i < end; ++i) {
        const double l = left[i], r = right[i];
        left[i] = static_cast<float>((l + r) * kMidSideScale);
        right[i] = static_cast<float>((l - r) * kMidSideScale);
    }
}

void MidSideLinesPlain(float* left, float* right, int32_t end) { MidSideBody(left, right, end); }

#if QUV3_X86_VECTOR
// The same operations on wider vectors, each lane in double precision.
__attribute__((target("avx2"))) void MidSideLinesAvx2(float* left, float* right, int32_t end) {
    MidSideBody(left, right, end);
}

__attribute__((target("avx512f"))) void MidSideLinesAvx512(float* left, float* right, int32_t end) {
    MidSideBody(left, right, end);
}
#endif

void (*g_mid_side_kernel)(float*, float*, int32_t) = MidSideLinesPlain;

void MidSideLines(float* left, float* right, int32_t end) { g_mid_side_kernel(left, right, end); }

// Intensity position from the right channel's scale factor, or kNoIntensity when
// it is illegal: MPEG-1 positions 7 and above (only 0..6 have a ratio), LSF the
// largest value the band's width could carry.
int32_t IntensityPosition(const DecoderState& s, int32_t scalefac, int32_t largest) {
    if (s.header.ID == 1) return scalefac >= 7 ? kNoIntensity : scalefac;
    return scalefac == largest ? kNoIntensity : scalefac;
}

int32_t LargestLong(const DecoderState& s, int band) { return s.LargestIntensityPosition[band]; }

// Short band 12 carries no scale factor (its position is 0); like long band 21
// it is processed without intensity, whatever an earlier granule left in entry 18.
int32_t LargestShort(const DecoderState& s, int band) {
    return band == 12 ? 0 : s.LargestIntensityPosition[6 + band];
}

// First band i (0..12) whose bitstream end 3 x SE[i] + 2 reaches line n.
int FirstShortBandReaching(const int32_t* se, int32_t n) {
    int i = 0;
    while (i < 12 && 3 * se[i] + 2 < n) ++i;
    return i;
}

// First long band b (0..21) with LE[b] >= h.
int FirstLongBandReaching(const int32_t* le, int32_t h) {
    int b = 0;
    while (b < 21 && le[b] < h) ++b;
    return b;
}

// Highest non-zero line at or below from, or -1.
int32_t HighestNonZero(const int32_t* q, int32_t from) {
    for (int32_t i = from; i >= 0; --i) {
        if (q[i] != 0) return i;
    }
    return -1;
}

}  // namespace

void SelectStereoKernel([[maybe_unused]] int32_t level) {
#if QUV3_X86_VECTOR
    g_mid_side_kernel = KernelForLevel(level, MidSideLinesPlain, MidSideLinesAvx2, MidSideLinesAvx512);
#endif
}

int32_t FindIntensityBounds(DecoderState& s, int32_t bound[4], int gr) {
    const SideInfo& si = s.side_info;
    const int32_t* le = s.LongBandEnds;
    const int32_t* se = s.ShortBandEnds;
    const int32_t nzl = s.DecodedLineCount[0];
    const int32_t nzr = s.DecodedLineCount[1];
    const int32_t* qr = s.QuantizedValues[1];
    const bool short_blocks = si.window_switching_flag[gr][0] && si.block_type[gr][0] == 2;
    const bool mixed = short_blocks && si.mixed_block_flag[gr][0];
    const int32_t ext = s.header.mode_extension;
    int32_t* count = s.ActiveSubbandCount;

    bound[0] = bound[1] = bound[2] = -1;
    count[0] = count[1] = 32;
    bound[3] = -1;

    if (ext == 2) {
        const int32_t m = Max(nzl, nzr);
        if (short_blocks) {
            bound[0] = bound[1] = bound[2] = bound[3] = 576;
            int i = 0;
            while (i < 12 && se[i] < m / 3) ++i;
            count[0] = count[1] = (se[i] - 1) / 6 + 1;
        } else {
            bound[0] = bound[1] = bound[2] = bound[3] = m;
            count[0] = count[1] = (m - 1) / 18 + 1;
        }
        return 1;
    }

    if (!short_blocks) {
        const int32_t h = HighestNonZero(qr, nzr - 1);
        // With no right-channel content at all, MPEG-1 keeps band 0 out of the
        // intensity region; LSF makes the whole granule intensity, as the ISO
        // reference decoder does.
        const int32_t first = s.header.ID == 1 ? le[0] + 1 : 0;
        const int32_t b = h < 0 ? first : le[FirstLongBandReaching(le, h)] + 1;
        bound[0] = bound[1] = bound[2] = bound[3] = b;
        count[0] = count[1] = (nzl - 1) / 18 + 1;
        return ext == 3;
    }

    int i = FirstShortBandReaching(se, nzr);
    for (;;) {
        if (bound[0] >= 0 && bound[1] >= 0 && bound[2] >= 0) break;
        if (mixed && i < 3) break;
        if (i < 0) break;
        // Band 0 is examined too, as the ISO reference decoder does: right-channel
        // content there keeps band 0 out of the intensity region.
        const int32_t below = i > 0 ? se[i - 1] : -1;
        const int32_t width = se[i] - below;
        for (int w = 0; w < 3; ++w) {
            if (bound[w] >= 0) continue;
            const int32_t last = 3 * below + width * (w + 1) + 2;
            for (int32_t k = 0; k < width; ++k) {
                if (qr[last - k] != 0) {
                    bound[w] = se[i] + 1;
                    break;
                }
            }
        }
        --i;
    }
    bound[3] = 36;
    if (mixed) {
        // As the ISO reference decoder does: a window without right-channel content
        // in short bands 3..12 is intensity from band 3 on, and only when no window
        // has any does the long part (lines 0..35) get an intensity region, above
        // its highest non-zero line.
        if (bound[0] < 0 && bound[1] < 0 && bound[2] < 0) {
            const int32_t h = HighestNonZero(qr, 35);
            bound[3] = h < 0 ? 0 : le[FirstLongBandReaching(le, h)] + 1;
        }
        for (int w = 0; w < 3; ++w) {
            if (bound[w] < 0) bound[w] = se[2] + 1;
        }
    }
    if (s.header.ID == 1) {
        const int32_t m = Max(bound[0], Max(bound[1], bound[2]));
        bound[0] = bound[1] = bound[2] = m;
    }
    const int il = FirstShortBandReaching(se, nzl);
    count[0] = count[1] = (se[il] - 1) / 6 + 1;
    return ext == 3;
}

void JointStereoGranule(DecoderState& s, int gr) {
    const SideInfo& si = s.side_info;
    const int32_t* le = s.LongBandEnds;
    const int32_t* se = s.ShortBandEnds;
    const int16_t* reorder = s.ShortReorder;
    const int32_t(*sfl)[22] = s.ScaleFactors.scalefac_l[gr];
    const int32_t(*sfs)[13][3] = s.ScaleFactors.scalefac_s[gr];
    const int32_t gg[2] = {si.global_gain[gr][0], si.global_gain[gr][1]};
    const int32_t scale[2] = {si.scalefac_scale[gr][0], si.scalefac_scale[gr][1]};
    const int32_t pre[2] = {si.preflag[gr][0], si.preflag[gr][1]};
    const bool short_blocks = si.window_switching_flag[gr][0] && si.block_type[gr][0] == 2;
    const bool mixed = short_blocks && si.mixed_block_flag[gr][0];
    const int32_t end = Max(s.DecodedLineCount[0], s.DecodedLineCount[1]);
    float* left = s.SpectralSamples[0];
    float* right = s.SpectralSamples[1];

    int32_t bound[4];
    const int32_t ms = FindIntensityBounds(s, bound, gr);
    int32_t line = 0;

    if (!short_blocks) {
        // Below the intensity bound: both channels dequantized band by band, then
        // mid/side line by line.
        line = bound[0] < 0 ? 0 : bound[0] < 576 ? bound[0] : 576;
        DequantizeLongLines(s.QuantizedValues[0], left, line, le, gg[0], scale[0], sfl[0], pre[0]);
        DequantizeLongLines(s.QuantizedValues[1], right, line, le, gg[1], scale[1], sfl[1], pre[1]);
        if (ms) MidSideLines(left, right, line);
        // The band holding the first intensity line, and its gains.
        int band = 0;
        while (band < 21 && le[band] < line) ++band;
        float gl = LongGainFactor(band, gg[0], scale[0], sfl[0][band], pre[0]);
        const float grt = LongGainFactor(band, gg[1], scale[1], sfl[1][band], pre[1]);
        // Band 21 carries no scale factor: it repeats band 20's treatment when
        // band 20 lies in the intensity region (as the ISO reference decoder does).
        const bool band20_intensity = bound[0] <= le[19] + 1;
        const int32_t band21_position = band20_intensity ? IntensityPosition(s, sfl[1][20], LargestLong(s, 20))
                                        : s.header.ID == 1 ? kNoIntensity
                                                           : 0;
        for (; line < end; ++line) {
            const int32_t position =
                band == 21 ? band21_position : IntensityPosition(s, sfl[1][band], LargestLong(s, band));
            StereoLine(s, line, line, gl, grt, ms, position);
            if (line == le[band] && band < 21) {
                ++band;
                gl = LongGainFactor(band, gg[0], scale[0], sfl[0][band], pre[0]);
            }
        }
        for (; line < 576; ++line) left[line] = right[line] = 0.0f;
        return;
    }

    int band = 0;
    int32_t width = se[0] + 1;
    float gl = 0.0f;
    // Used only for an illegal position in a band above the bound before any
    // window below it: the right channel's own gain of band 0, window 0.
    float grt = ShortGainFactor(gg[1], si.subblock_gain[gr][1][0], scale[1], sfs[1][0][0]);
    if (mixed) {
        int lband = 0;
        gl = LongGainFactor(0, gg[0], scale[0], sfl[0][0], 0);
        grt = LongGainFactor(0, gg[1], scale[1], sfl[1][0], 0);
        for (; line < 36; ++line) {
            const int32_t position = line < bound[3] ? kNoIntensity : IntensityPosition(s, sfl[1][lband], LargestLong(s, lband));
            StereoLine(s, line, line, gl, grt, ms, position);
            if (line == le[lband]) {
                ++lband;
                gl = LongGainFactor(lband, gg[0], scale[0], sfl[0][lband], 0);
                grt = LongGainFactor(lband, gg[1], scale[1], sfl[1][lband], 0);
            }
        }
        band = 3;
        width = se[3] - se[2];
    }
    while (line < end && band < 13) {
        for (int w = 0; w < 3; ++w) {
            int32_t position = kNoIntensity;
            gl = ShortGainFactor(gg[0], si.subblock_gain[gr][0][w], scale[0], sfs[0][band][w]);
            if (se[band] < bound[w]) {
                grt = ShortGainFactor(gg[1], si.subblock_gain[gr][1][w], scale[1], sfs[1][band][w]);
            } else if (band < 12) {
                position = IntensityPosition(s, sfs[1][band][w], LargestShort(s, band));
            } else if (se[11] >= bound[w]) {
                // Band 12 carries no scale factor: it repeats band 11's treatment.
                position = IntensityPosition(s, sfs[1][11][w], LargestShort(s, 11));
            } else {
                position = s.header.ID == 1 ? kNoIntensity : 0;
            }
            for (int32_t k = 0; k < width; ++k, ++line) StereoLine(s, line, reorder[line], gl, grt, ms, position);
        }
        ++band;
        if (band < 13) width = se[band] - se[band - 1];
    }
    for (; line < 576; ++line) left[reorder[line]] = right[reorder[line]] = 0.0f;
}

}  // namespace quv3
