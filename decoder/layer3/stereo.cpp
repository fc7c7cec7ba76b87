#include "decoder/layer3/stereo.h"

#include "decoder/tables/quant_tables.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }

// Line p of both channels: intensity shares the left sample by the position;
// without intensity, mid/side in double precision or left/right as it is.
void StereoLine(float* left, float* right, int32_t p, int32_t ms, int32_t position, const FrameHeader& h,
                int32_t intensity_scale) {
    const float l = left[p];
    if (position != kNoIntensity) {
        if (h.ID == 1) {
            const float k = kIntensityRatioTable[position & 7];
            left[p] = l * (1.0f - k);
            right[p] = l * k;
        } else {
            const float* t = kLsfIntensityTable[intensity_scale & 1];
            if (position & 1) {
                left[p] = l * t[((position + 1) >> 1) & 31];
                right[p] = l;
            } else {
                right[p] = l * t[(position >> 1) & 31];
            }
        }
    } else if (ms) {
        const double r = right[p];
        left[p] = static_cast<float>((static_cast<double>(l) + r) * kMidSideScale);
        right[p] = static_cast<float>((static_cast<double>(l) - r) * kMidSideScale);
    }
}

// Intensity position from the right channel's scale factor, or kNoIntensity when
// it is illegal: MPEG-1 positions 7 and above (only 0..6 have a ratio), LSF the
// largest value the band's width could carry.
int32_t IntensityPosition(const FrameHeader& h, int32_t scalefac, int32_t largest) {
    if (h.ID == 1) return scalefac >= 7 ? kNoIntensity : scalefac;
    return scalefac == largest ? kNoIntensity : scalefac;
}

int32_t LargestLong(const ScaleFactors& sf, int band) { return sf.LargestIntensityPosition[band]; }

// Short band 12 carries no scale factor (its position is 0); like long band 21
// it is processed without intensity, whatever an earlier granule left in entry 18.
int32_t LargestShort(const ScaleFactors& sf, int band) {
    return band == 12 ? 0 : sf.LargestIntensityPosition[6 + band];
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

int32_t FindIntensityBounds(const QuantizedSpectrum& q, const SideInfo& si, const BandLayout& bands,
                            const FrameHeader& h, int gr, int32_t bound[4], Spectrum& out) {
    const int32_t* le = bands.LongBandEnds;
    const int32_t* se = bands.ShortBandEnds;
    const int32_t nzl = q.DecodedLineCount[0];
    const int32_t nzr = q.DecodedLineCount[1];
    const int32_t* qr = q.QuantizedValues[1];
    const BlockKind kind = BlockKindOf(si, gr, 0);
    const bool short_blocks = kind != BlockKind::kLong;
    const bool mixed = kind == BlockKind::kMixed;
    const int32_t ext = h.mode_extension;
    int32_t* count = out.ActiveSubbandCount;

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
        const int32_t highest = HighestNonZero(qr, nzr - 1);
        // With no right-channel content at all, MPEG-1 keeps band 0 out of the
        // intensity region; LSF makes the whole granule intensity, as the ISO
        // reference decoder does.
        const int32_t first = h.ID == 1 ? le[0] + 1 : 0;
        const int32_t b = highest < 0 ? first : le[FirstLongBandReaching(le, highest)] + 1;
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
    bound[3] = bands.MixedLongLines;
    if (mixed) {
        // As the ISO reference decoder does: a window without right-channel content
        // in short bands 3..12 is intensity from band 3 on, and only when no window
        // has any does the long part (lines 0..35 at the ISO rates) get an
        // intensity region, above its highest non-zero line.
        if (bound[0] < 0 && bound[1] < 0 && bound[2] < 0) {
            const int32_t highest = HighestNonZero(qr, bands.MixedLongLines - 1);
            bound[3] = highest < 0 ? 0 : le[FirstLongBandReaching(le, highest)] + 1;
        }
        for (int w = 0; w < 3; ++w) {
            if (bound[w] < 0) bound[w] = se[2] + 1;
        }
    }
    if (h.ID == 1) {
        const int32_t m = Max(bound[0], Max(bound[1], bound[2]));
        bound[0] = bound[1] = bound[2] = m;
    }
    const int il = FirstShortBandReaching(se, nzl);
    count[0] = count[1] = (se[il] - 1) / 6 + 1;
    return ext == 3;
}

// Both channels are dequantized (in channel 0's layout) before: the pass
// decides per band, and per window in short bands, what each line gets.
void JointStereoGranule(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                        const BandLayout& bands, const FrameHeader& h, int gr, Spectrum& out) {
    const int32_t* le = bands.LongBandEnds;
    const int32_t* se = bands.ShortBandEnds;
    const int16_t* reorder = bands.ShortReorder;
    const int32_t(*sfl)[22] = sf.scalefac_l[gr];
    const int32_t(*sfs)[13][3] = sf.scalefac_s[gr];
    const BlockKind kind = BlockKindOf(si, gr, 0);
    // Both channels hold zeros from here on.
    const int32_t end = Max(q.DecodedLineCount[0], q.DecodedLineCount[1]);
    float* left = out.SpectralSamples[0];
    float* right = out.SpectralSamples[1];
    const int32_t is = sf.IntensityScale;

    int32_t bound[4];
    const int32_t ms = FindIntensityBounds(q, si, bands, h, gr, bound, out);
    if (h.mode_extension == 2) {
        // Mid/side alone: every line is mid/side whatever the block layout. Short
        // lines sit in transform order, so their zeros are not all above end:
        // those granules take every line (zeros stay zeros).
        k.mid_side_lines(left, right, 0, kind == BlockKind::kLong ? end : 576);
        return;
    }

    if (kind == BlockKind::kLong) {
        // Below the intensity bound every line is mid/side or left/right.
        int32_t line = bound[0] < 0 ? 0 : bound[0] < 576 ? bound[0] : 576;
        if (ms) k.mid_side_lines(left, right, 0, line < end ? line : end);
        int band = 0;
        while (band < 21 && le[band] < line) ++band;
        // Band 21 carries no scale factor: it repeats band 20's treatment when
        // band 20 lies in the intensity region (as the ISO reference decoder does).
        const bool band20_intensity = bound[0] <= le[19] + 1;
        const int32_t band21_position = band20_intensity ? IntensityPosition(h, sfl[1][20], LargestLong(sf, 20))
                                        : h.ID == 1      ? kNoIntensity
                                                         : 0;
        for (; line < end; ++line) {
            const int32_t position =
                band == 21 ? band21_position : IntensityPosition(h, sfl[1][band], LargestLong(sf, band));
            StereoLine(left, right, line, ms, position, h, is);
            if (line == le[band] && band < 21) ++band;
        }
        return;
    }

    int32_t line = 0;
    int band = 0;
    if (kind == BlockKind::kMixed) {
        int lband = 0;
        for (; line < bands.MixedLongLines; ++line) {
            const int32_t position =
                line < bound[3] ? kNoIntensity : IntensityPosition(h, sfl[1][lband], LargestLong(sf, lband));
            StereoLine(left, right, line, ms, position, h, is);
            if (line == le[lband]) ++lband;
        }
        band = 3;
    }
    for (; line < end && band < 13; ++band) {
        const int32_t width = se[band] - (band > 0 ? se[band - 1] : -1);
        for (int w = 0; w < 3; ++w) {
            int32_t position = kNoIntensity;
            if (se[band] < bound[w]) {
                position = kNoIntensity;
            } else if (band < 12) {
                position = IntensityPosition(h, sfs[1][band][w], LargestShort(sf, band));
            } else if (se[11] >= bound[w]) {
                // Band 12 carries no scale factor: it repeats band 11's treatment.
                position = IntensityPosition(h, sfs[1][11][w], LargestShort(sf, 11));
            } else {
                position = h.ID == 1 ? kNoIntensity : 0;
            }
            for (int32_t n = 0; n < width && line < 576; ++n, ++line)
                StereoLine(left, right, reorder[line], ms, position, h, is);
        }
    }
}

}  // namespace quv3
