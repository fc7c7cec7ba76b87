#include "decoder/layer3/layer3.h"
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
    const int32_t n = -a;
    return static_cast<float>(kGainStepInverseTable[n & 3] / static_cast<double>(1ull << (n >> 2)));
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


// Band by band: the gain changes after each band's last line.
void DequantizeLongLines(const int32_t* q, float* out, int32_t end, const int32_t* band_ends, int32_t global_gain,
                         int32_t scalefac_scale, const int32_t* scalefac_l, int32_t preflag) {
    int32_t i = 0;
    for (int band = 0; band < 22 && i < end; ++band) {
        const float g = LongGainFactor(band, global_gain, scalefac_scale, scalefac_l[band], preflag);
        const int32_t last = band_ends[band] < end - 1 ? band_ends[band] : end - 1;
        for (; i <= last; ++i) out[i] = DequantizeSample(q[i], g);
    }
}

void DequantizeChannel(DecoderState& s, int gr, int ch) {
    const SideInfo& si = s.side_info;
    const int32_t* q = s.QuantizedValues[ch];
    float* out = s.SpectralSamples[ch];
    const int32_t* le = s.LongBandEnds;
    const int32_t* se = s.ShortBandEnds;
    const int16_t* reorder = s.ShortReorder;
    const int32_t gg = si.global_gain[gr][ch];
    const int32_t sfs = si.scalefac_scale[gr][ch];
    const int32_t* sfl = s.ScaleFactors.scalefac_l[gr][ch];
    const int32_t(*sfsh)[3] = s.ScaleFactors.scalefac_s[gr][ch];
    const int32_t n = s.DecodedLineCount[ch];

    s.ActiveSubbandCount[0] = s.ActiveSubbandCount[1] = 32;
    const bool short_blocks = si.window_switching_flag[gr][ch] && si.block_type[gr][ch] == 2;
    const bool mixed = short_blocks && si.mixed_block_flag[gr][ch];

    if (!short_blocks) {
        DequantizeLongLines(q, out, n, le, gg, sfs, sfl, si.preflag[gr][ch]);
        for (int32_t i = n; i < 576; ++i) out[i] = 0.0f;
        return;
    }

    int band = 0;
    int32_t j = 0;
    int32_t width = se[0] + 1;
    if (mixed) {
        // Lines 0..35 are long bands; pretab is 0 in all of them.
        float g = LongGainFactor(0, gg, sfs, sfl[0], 0);
        int lband = 0;
        for (int32_t i = 0; i < 36; ++i) {
            out[i] = DequantizeSample(q[i], g);
            if (i == le[lband]) {
                ++lband;
                g = LongGainFactor(lband, gg, sfs, sfl[lband], 0);
            }
        }
        band = 3;
        j = 36;
        width = se[3] - se[2];
    }
    // Whole bands: the band holding line n - 1 is finished with its zero lines.
    while (j < n && band < 13) {
        for (int w = 0; w < 3; ++w) {
            const float g = ShortGainFactor(gg, si.subblock_gain[gr][ch][w], sfs, sfsh[band][w]);
            for (int32_t k = 0; k < width; ++k, ++j) out[reorder[j]] = DequantizeSample(q[j], g);
        }
        ++band;
        if (band < 13) width = se[band] - se[band - 1];
    }
    for (; j < 576; ++j) out[reorder[j]] = 0.0f;
}

}  // namespace quv3
