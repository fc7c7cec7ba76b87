#include "decoder/layer3/dequantize.h"

#include <bit>
#include <cstring>

#include "decoder/layer3/kernels/simd.h"
#include "decoder/tables/quant_tables.h"

namespace quv3 {
namespace {

// 2^(A/4) in whole quarter powers; exponents below -127 give 0.
float GainFromExponent(int32_t a) {
    if (a < -127) return 0.0f;
    if (a >= 0) {
        // The largest exponent (255 - 210 = 45) keeps the power of two far inside float range.
        return static_cast<float>(static_cast<double>(1u << (a >> 2)) * kGainStepTable[a & 3]);
    }
    // Scaling by 2^-k is exact in double, as the division by 2^k is.
    const int32_t n = -a;
    const double scale = std::bit_cast<double>(static_cast<uint64_t>(1023 - (n >> 2)) << 52);
    return static_cast<float>(kGainStepInverseTable[n & 3] * scale);
}

// gains[from..to) = g, in whole runs of 8: the last run may spill past `to`
// into values written after it or into the 8 spare ones.
void FillGains(float* gains, int32_t from, int32_t to, float g) {
    const Vec<float, 4> v = {g, g, g, g};  // a register's width: wider, GCC builds it on the stack
    for (int32_t i = from; i < to; i += 8) {
        StoreVec(gains + i, v);
        StoreVec(gains + i + 4, v);
    }
}

// The gain of each line in bitstream order, band by band (and window by window
// in short bands); returns how many lines have one. Long granules cover the
// decoded lines; short bands are covered whole, so the band holding the last
// decoded line is finished with its zero lines; a mixed granule's long part is
// lines 0..mixed_long_lines - 1 (0..35 at the ISO rates) whatever was decoded,
// without pretab (0 in all its bands).
// gains holds 576 + 8 values.
int32_t LineGains(const SideInfo& si, const ScaleFactors& sf, const BandLayout& bands, int gr, int ch, BlockKind kind,
                  int32_t decoded, float* gains) {
    const int32_t gg = si.global_gain[gr][ch];
    const int32_t scale = si.scalefac_scale[gr][ch];
    const int32_t* sfl = sf.scalefac_l[gr][ch];
    const int32_t* le = bands.LongBandEnds;
    if (kind == BlockKind::kLong) {
        int32_t i = 0;
        for (int band = 0; band < 22 && i < decoded; ++band) {
            const float g = LongGainFactor(band, gg, scale, sfl[band], si.preflag[gr][ch]);
            const int32_t end = le[band] < decoded ? le[band] + 1 : decoded;
            FillGains(gains, i, end, g);
            i = end;
        }
        return i;
    }
    int32_t j = 0;
    int band = 0;
    if (kind == BlockKind::kMixed) {
        const int32_t long_lines = bands.mixed_long_lines;
        for (int lband = 0; j < long_lines; ++lband) {
            const float g = LongGainFactor(lband, gg, scale, sfl[lband], 0);
            const int32_t end = le[lband] < long_lines ? le[lband] + 1 : long_lines;
            FillGains(gains, j, end, g);
            j = end;
        }
        band = 3;
    }
    for (; j < decoded && band < 13; ++band) {
        const int32_t width = ShortBandWidth(bands, band);
        for (int w = 0; w < 3; ++w) {
            const float g = ShortGainFactor(gg, si.subblock_gain[gr][ch][w], scale, sf.scalefac_s[gr][ch][band][w]);
            FillGains(gains, j, j + width, g);
            j += width;
        }
    }
    return j;
}

}  // namespace

float LongGainFactor(int band, int32_t global_gain, int32_t scalefac_scale, int32_t scalefac, int32_t preflag) {
    const int32_t m = scalefac_scale ? 4 : 2;
    int32_t a = global_gain - 210 - m * scalefac;
    if (preflag) a -= m * kPretabTable[band];
    return GainFromExponent(a);
}

float ShortGainFactor(int32_t global_gain, int32_t subblock_gain, int32_t scalefac_scale, int32_t scalefac) {
    const int32_t m = scalefac_scale ? 4 : 2;
    return GainFromExponent(global_gain - 210 - 8 * subblock_gain - m * scalefac);
}

// One band walk gives every line its gain, one kernel pass dequantizes them;
// short lines then go to their places in the transform's order.
void DequantizeChannel(const Kernels& k, const QuantizedSpectrum& q, const SideInfo& si, const ScaleFactors& sf,
                       const BandLayout& bands, int gr, int ch, BlockKind kind, Spectrum& out) {
    alignas(64) float gains[576 + 8];
    alignas(64) float lines[576];
    const int32_t covered = LineGains(si, sf, bands, gr, ch, kind, q.decoded_line_count[ch], gains);
    float* samples = out.SpectralSamples[ch];
    if (covered == 0) {
        for (int32_t i = 0; i < 576; ++i) samples[i] = 0.0f;
        return;
    }
    // The kernel takes whole runs of 16 lines: the lines after the covered ones
    // hold 0 and get a gain, so they come out +0.0.
    const int32_t whole = (covered + 15) & ~15;
    for (int32_t i = covered; i < whole; ++i) gains[i] = 0.0f;
    if (kind == BlockKind::kLong) {
        k.dequantize_lines(q.QuantizedValues[ch], gains, samples, whole);
        for (int32_t i = whole; i < 576; ++i) samples[i] = 0.0f;
        return;
    }
    k.dequantize_lines(q.QuantizedValues[ch], gains, lines, whole);
    const int16_t* reorder = bands.ShortReorder;
    // The long lines of a mixed granule stay in place; the reorder rows map the
    // lines from mixed_long_lines on (short band 3 on) among themselves, so the
    // two parts never overlap.
    // The lines not covered land all over the granule: everything is cleared
    // first, in whole vectors, and the covered lines put over it.
    const int32_t first_short = kind == BlockKind::kMixed ? bands.mixed_long_lines : 0;
    std::memset(samples, 0, sizeof(float) * 576);
    for (int32_t j = 0; j < first_short; ++j) samples[j] = lines[j];
    for (int32_t j = first_short; j < covered; ++j) samples[reorder[j]] = lines[j];
}

}  // namespace quv3
