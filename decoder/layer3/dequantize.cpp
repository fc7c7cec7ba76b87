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


namespace {

// q^(4/3) x gain line by line with one gain per line: the values of
// DequantizeSample; the vector kernels below take sixteen or eight lines at a time.
void DequantizeLinesPlain(const int32_t* q, const float* gains, float* out, int32_t n) {
    for (int32_t i = 0; i < n; ++i) out[i] = DequantizeSample(q[i], gains[i]);
}

#if QUV3_X86_VECTOR

// GCC 12's AVX-512 intrinsics trip -W(maybe-)uninitialized inside its own header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Magnitudes below 16 (nearly all lines) come from the table's first entries
// held in a register; the others are gathered. The sign of q is set into the
// product and q = 0 gives +0.0, as in DequantizeSample.
__attribute__((target("avx512f"))) void DequantizeLinesAvx512(const int32_t* q, const float* gains, float* out,
                                                              int32_t n) {
    const __m512 first16 = _mm512_loadu_ps(kPow43Table.data());
    const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    for (int32_t i = 0; i < n; i += 16) {
        const __mmask16 lanes = n - i >= 16 ? 0xFFFF : static_cast<__mmask16>((1u << (n - i)) - 1);
        const __m512i qv = _mm512_maskz_loadu_epi32(lanes, q + i);
        const __m512i mag = _mm512_abs_epi32(qv);
        __m512 v = _mm512_permutexvar_ps(mag, first16);
        const __mmask16 large = lanes & ~_mm512_cmplt_epi32_mask(mag, _mm512_set1_epi32(16));
        if (large) v = _mm512_mask_i32gather_ps(v, large, mag, kPow43Table.data(), 4);
        v = _mm512_mul_ps(v, _mm512_maskz_loadu_ps(lanes, gains + i));
        v = _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(v), _mm512_and_si512(qv, sign)));
        _mm512_mask_storeu_ps(out + i, lanes, _mm512_maskz_mov_ps(_mm512_test_epi32_mask(qv, qv), v));
    }
}

#pragma GCC diagnostic pop

__attribute__((target("avx2"))) void DequantizeLinesAvx2(const int32_t* q, const float* gains, float* out,
                                                         int32_t n) {
    const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i qv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i));
        __m256 v = _mm256_i32gather_ps(kPow43Table.data(), _mm256_abs_epi32(qv), 4);
        v = _mm256_mul_ps(v, _mm256_loadu_ps(gains + i));
        v = _mm256_castsi256_ps(_mm256_xor_si256(_mm256_castps_si256(v), _mm256_and_si256(qv, sign)));
        const __m256i zero = _mm256_cmpeq_epi32(qv, _mm256_setzero_si256());
        _mm256_storeu_ps(out + i, _mm256_andnot_ps(_mm256_castsi256_ps(zero), v));
    }
    DequantizeLinesPlain(q + i, gains + i, out + i, n - i);
}
#endif

using DequantizeKernel = void (*)(const int32_t*, const float*, float*, int32_t);
DequantizeKernel g_dequantize_kernel = DequantizeLinesPlain;

}  // namespace

void SelectDequantizeKernel([[maybe_unused]] int32_t level) {
#if QUV3_X86_VECTOR
    g_dequantize_kernel = KernelForLevel<DequantizeKernel>(level, DequantizeLinesPlain, DequantizeLinesAvx2,
                                                           DequantizeLinesAvx512);
#endif
}

// The gain of each line, band by band (it changes after each band's last
// line), then every line in one pass.
void DequantizeLongLines(const int32_t* q, float* out, int32_t end, const int32_t* band_ends, int32_t global_gain,
                         int32_t scalefac_scale, const int32_t* scalefac_l, int32_t preflag) {
    alignas(64) float gains[576];
    int32_t i = 0;
    for (int band = 0; band < 22 && i < end; ++band) {
        const float g = LongGainFactor(band, global_gain, scalefac_scale, scalefac_l[band], preflag);
        const int32_t last = band_ends[band] < end - 1 ? band_ends[band] : end - 1;
        for (; i <= last; ++i) gains[i] = g;
    }
    g_dequantize_kernel(q, gains, out, i);
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
