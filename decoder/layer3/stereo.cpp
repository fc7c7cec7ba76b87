#include "decoder/layer3/stereo.h"

#include <algorithm>

#include "decoder/tables/quant_tables.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

// Line p of both channels: intensity shares the left sample by the position;
// without intensity, mid/side (the kernel's, for one line) or left/right as it is.
void StereoLine(const Kernels& k, float* left, float* right, int32_t p, int32_t ms, int32_t position,
                const FrameHeader& h, int32_t intensity_scale) {
    const float l = left[p];
    if (position != kNoIntensity) {
        if (IsMpeg1(h)) {
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
        k.mid_side_lines(left, right, p, p + 1);
    }
}

// Intensity position from the right channel's scale factor, or kNoIntensity when
// it is illegal: MPEG-1 positions 7 and above (only 0..6 have a ratio), LSF the
// largest value the band's width could carry.
int32_t IntensityPosition(const FrameHeader& h, int32_t scalefac, int32_t largest) {
    if (IsMpeg1(h)) return scalefac >= 7 ? kNoIntensity : scalefac;
    return scalefac == largest ? kNoIntensity : scalefac;
}

int32_t LargestLong(const ScaleFactors& sf, int band) { return sf.largest_intensity_position[band]; }

// Short band 12 carries no scale factor (its position is 0); like long band 21
// it is processed without intensity, whatever an earlier granule left in entry 18.
int32_t LargestShort(const ScaleFactors& sf, int band) {
    return band == 12 ? 0 : sf.largest_intensity_position[6 + band];
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

// The position of a band without a scale factor of its own (long band 21,
// short band 12) when the band before lies outside the intensity region:
// MPEG-1 has no intensity there, LSF position 0.
int32_t UnsignalledPosition(const FrameHeader& h) { return IsMpeg1(h) ? kNoIntensity : 0; }

}  // namespace

IntensityBounds FindIntensityBounds(const QuantizedSpectrum& q, const SideInfo& si, const BandLayout& bands,
                                    const FrameHeader& h, int gr) {
    const int32_t* le = bands.LongBandEnds;
    const int32_t* se = bands.ShortBandEnds;
    const int32_t nzl = q.decoded_line_count[0];
    const int32_t nzr = q.decoded_line_count[1];
    const int32_t* qr = q.QuantizedValues[1];
    const BlockKind kind = BlockKindOf(si, gr, 0);
    const bool short_blocks = kind != BlockKind::kLong;
    const bool mixed = kind == BlockKind::kMixed;
    const int32_t ext = h.mode_extension;
    IntensityBounds r{{-1, -1, -1, -1}, ext == 2 || ext == 3, 32};
    int32_t* bound = r.bound;

    if (ext == 2) {
        const int32_t m = std::max(nzl, nzr);
        if (short_blocks) {
            bound[0] = bound[1] = bound[2] = bound[3] = 576;
            r.subbands = (se[FirstShortBandReaching(se, m)] - 1) / 6 + 1;
        } else {
            bound[0] = bound[1] = bound[2] = bound[3] = m;
            r.subbands = (m - 1) / 18 + 1;
        }
        return r;
    }

    if (!short_blocks) {
        const int32_t highest = HighestNonZero(qr, nzr - 1);
        // With no right-channel content at all, MPEG-1 keeps band 0 out of the
        // intensity region; LSF makes the whole granule intensity, as the ISO
        // reference decoder does.
        const int32_t first = IsMpeg1(h) ? le[0] + 1 : 0;
        const int32_t b = highest < 0 ? first : le[FirstLongBandReaching(le, highest)] + 1;
        bound[0] = bound[1] = bound[2] = bound[3] = b;
        r.subbands = (nzl - 1) / 18 + 1;
        return r;
    }

    int i = FirstShortBandReaching(se, nzr);
    for (;;) {
        if (bound[0] >= 0 && bound[1] >= 0 && bound[2] >= 0) break;
        if (mixed && i < 3) break;
        if (i < 0) break;
        // Band 0 is examined too, as the ISO reference decoder does: right-channel
        // content there keeps band 0 out of the intensity region.
        const int32_t start = ShortBandStart(bands, i);
        const int32_t width = ShortBandWidth(bands, i);
        for (int w = 0; w < 3; ++w) {
            if (bound[w] >= 0) continue;
            const int32_t last = 3 * start + width * (w + 1) - 1;
            for (int32_t k = 0; k < width; ++k) {
                if (qr[last - k] != 0) {
                    bound[w] = se[i] + 1;
                    break;
                }
            }
        }
        --i;
    }
    bound[3] = bands.mixed_long_lines;
    if (mixed) {
        // As the ISO reference decoder does: a window without right-channel content
        // in short bands 3..12 is intensity from band 3 on, and only when no window
        // has any does the long part (lines 0..35 at the ISO rates) get an
        // intensity region, above its highest non-zero line.
        if (bound[0] < 0 && bound[1] < 0 && bound[2] < 0) {
            const int32_t highest = HighestNonZero(qr, bands.mixed_long_lines - 1);
            bound[3] = highest < 0 ? 0 : le[FirstLongBandReaching(le, highest)] + 1;
        }
        for (int w = 0; w < 3; ++w) {
            if (bound[w] < 0) bound[w] = se[2] + 1;
        }
    }
    if (IsMpeg1(h)) bound[0] = bound[1] = bound[2] = std::max({bound[0], bound[1], bound[2]});
    r.subbands = (se[FirstShortBandReaching(se, nzl)] - 1) / 6 + 1;
    return r;
}

// Both channels are dequantized (in channel 0's layout) before: the pass
// decides per band, and per window in short bands, what each line gets.
int32_t JointStereoGranule(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                           const BandLayout& bands, const FrameHeader& h, int gr, Spectrum& out) {
    const int32_t* le = bands.LongBandEnds;
    const int32_t* se = bands.ShortBandEnds;
    const int16_t* reorder = bands.ShortReorder;
    const int32_t(*sfl)[22] = sf.scalefac_l[gr];
    const int32_t(*sfs)[13][3] = sf.scalefac_s[gr];
    const BlockKind kind = BlockKindOf(si, gr, 0);
    // Both channels hold zeros from here on.
    const int32_t end = std::max(q.decoded_line_count[0], q.decoded_line_count[1]);
    float* left = out.SpectralSamples[0];
    float* right = out.SpectralSamples[1];
    const int32_t is = sf.intensity_scale;

    const IntensityBounds found = FindIntensityBounds(q, si, bands, h, gr);
    const int32_t* bound = found.bound;
    const int32_t ms = found.mid_side;
    if (h.mode_extension == 2) {
        // Mid/side alone: every line is mid/side whatever the block layout. Short
        // lines sit in transform order, so their zeros are not all above end:
        // those granules take every line (zeros stay zeros).
        k.mid_side_lines(left, right, 0, kind == BlockKind::kLong ? end : 576);
        return found.subbands;
    }

    if (kind == BlockKind::kLong) {
        // Below the intensity bound every line is mid/side or left/right.
        int32_t line = std::clamp(bound[0], 0, 576);
        if (ms) k.mid_side_lines(left, right, 0, std::min(line, end));
        int band = FirstLongBandReaching(le, line);
        // Band 21 carries no scale factor: it repeats band 20's treatment when
        // band 20 lies in the intensity region (as the ISO reference decoder does).
        const bool band20_intensity = bound[0] <= le[19] + 1;
        const int32_t band21_position =
            band20_intensity ? IntensityPosition(h, sfl[1][20], LargestLong(sf, 20)) : UnsignalledPosition(h);
        for (; line < end; ++line) {
            const int32_t position =
                band == 21 ? band21_position : IntensityPosition(h, sfl[1][band], LargestLong(sf, band));
            StereoLine(k, left, right, line, ms, position, h, is);
            if (line == le[band] && band < 21) ++band;
        }
        return found.subbands;
    }

    int32_t line = 0;
    int band = 0;
    if (kind == BlockKind::kMixed) {
        int lband = 0;
        for (; line < bands.mixed_long_lines; ++line) {
            const int32_t position =
                line < bound[3] ? kNoIntensity : IntensityPosition(h, sfl[1][lband], LargestLong(sf, lband));
            StereoLine(k, left, right, line, ms, position, h, is);
            if (line == le[lband]) ++lband;
        }
        band = 3;
    }
    for (; line < end && band < 13; ++band) {
        const int32_t width = ShortBandWidth(bands, band);
        for (int w = 0; w < 3; ++w) {
            // Band 12 carries no scale factor: it repeats band 11's treatment.
            const int32_t position = se[band] < bound[w] ? kNoIntensity
                                     : band < 12         ? IntensityPosition(h, sfs[1][band][w], LargestShort(sf, band))
                                     : se[11] >= bound[w] ? IntensityPosition(h, sfs[1][11][w], LargestShort(sf, 11))
                                                          : UnsignalledPosition(h);
            for (int32_t n = 0; n < width && line < 576; ++n, ++line)
                StereoLine(k, left, right, reorder[line], ms, position, h, is);
        }
    }
    return found.subbands;
}

}  // namespace quv3
