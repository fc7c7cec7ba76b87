#pragma once

#include <bit>
#include <cstdint>

#include "decoder/api/decoder_state.h"
#include "decoder/tables/quant_tables.h"

// The vector kernels exist on x86 unless the scalar reference is built.
#if !defined(QUV3_SCALAR_REFERENCE) && (defined(__x86_64__) || defined(_M_X64) || defined(__i386__))
#define QUV3_X86_VECTOR 1
#include <immintrin.h>
#endif

// The Layer III decoding stages, in the order the frame driver runs them.
namespace quv3 {

// Instruction-set levels of the vector kernels, every level giving the same
// samples: 0 SSE2, 1 AVX2 with FMA, 2 AVX-512. The scalar reference build has
// only level 0 and nothing to select.
inline constexpr int32_t kKernelsSse2 = 0;
inline constexpr int32_t kKernelsAvx2 = 1;
inline constexpr int32_t kKernelsAvx512 = 2;
int32_t CpuKernelLevel();  // the highest level this processor runs
// Every kernel at level, lowered to what the processor runs; PrepareTables
// selects CpuKernelLevel(). Returns the level selected.
int32_t SelectKernels(int32_t level);
// The variant of a kernel for level.
template <class Kernel>
Kernel KernelForLevel(int32_t level, Kernel sse2, Kernel avx2, Kernel avx512) {
    return level >= kKernelsAvx512 ? avx512 : level >= kKernelsAvx2 ? avx2 : sse2;
}

// Frame driver (frame_decoder.cpp).
void ClearDecoderMemories(DecoderState& s);
void PrepareTables(DecoderState& s);
void SelectBandTables(DecoderState& s);
int32_t DecodeFrame(DecoderState& s, int16_t* pcm);

// Bit reservoir (main_data.cpp).
void AppendMainData(DecoderState& s, int32_t n);
void AppendZeros(MainDataBuffer& m, int32_t n);

// After a seek or step back: the memories of a straight decode (pre_roll.cpp).
void PreRoll(DecoderState& s, int16_t* scratch);

// The 4-byte big-endian window at the byte holding bit_pos, shifted left by
// the bit offset: the next bits start at bit 31. The mirrored bytes past the
// ring's end make the window at bytes 4093..4095 read on from byte 0.
inline uint32_t PeekMainDataWindow(const MainDataBuffer& m) {
    const uint8_t* b = &m.bytes[static_cast<uint32_t>(m.bit_pos) >> 3];
    const uint32_t w = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return w << (m.bit_pos & 7);
}

inline void SkipMainDataBits(MainDataBuffer& m, int32_t n) {  // n may be negative
    m.bit_pos = (m.bit_pos + n) & (kRingBits - 1);
}

// n = 0 returns 0 and consumes nothing; n up to 25.
// 64 bits from bit_pos (at least 57 of them valid); needs kRingMirror mirrored bytes.
inline uint64_t PeekMainData64(const MainDataBuffer& m, uint32_t bit_pos) {
    const uint8_t* b = &m.bytes[bit_pos >> 3];
    uint64_t w;
    __builtin_memcpy(&w, b, 8);
    return __builtin_bswap64(w) << (bit_pos & 7);
}

inline uint32_t ReadMainDataBits(MainDataBuffer& m, int n) {
    if (n == 0) return 0;
    const uint32_t v = PeekMainDataWindow(m) >> (32 - n);
    SkipMainDataBits(m, n);
    return v;
}

// Side information (side_info.cpp).
void ReadSideInfo(DecoderState& s);

// Scale factors (scale_factors.cpp).
int32_t ReadScaleFactors(DecoderState& s, int gr, int ch);

// Huffman decoding (huffman.cpp).
void PrepareHuffmanLookup();  // once per process, with the other derived tables
bool HuffmanLookupComplete();  // the lookup tables were derived in full
// The bucket search; -1 when no codeword matches (never with these tables).
int32_t DecodeCodeword(MainDataBuffer& m, int table, int32_t& x_out, int32_t& y_out);
// Returns the bits read beyond the part2_3_length budget (negative: left over);
// the bit position always ends on the budget. DecodeSpectrum decodes through
// the lookup tables, DecodeSpectrumBySearch codeword by codeword through the
// bucket search: the same result for every input.
int32_t DecodeSpectrum(DecoderState& s, int gr, int ch, int32_t part2_bits);
int32_t DecodeSpectrumBySearch(DecoderState& s, int gr, int ch, int32_t part2_bits);
void RegionBounds(const DecoderState& s, int gr, int ch, int32_t bounds[3]);

// Dequantization (dequantize.cpp).
float LongGainFactor(int band, int32_t global_gain, int32_t scalefac_scale, int32_t scalefac, int32_t preflag);
float ShortGainFactor(int32_t global_gain, int32_t subblock_gain, int32_t scalefac_scale, int32_t scalefac);
// q^(4/3) x g, with the sign of q; 0.0 for q = 0 whatever g is.
inline float DequantizeSample(int32_t q, float g) {
#if defined(QUV3_SCALAR_REFERENCE)
    if (q == 0) return 0.0f;
    if (q > 0) return kPow43Table[q] * g;
    return -(kPow43Table[-q] * g);
#else
    // The same value without branches: negation only flips the sign bit, and
    // q = 0 clears every bit (+0.0 even for a negative g).
    const int32_t mask = q >> 31;
    const float v = kPow43Table[(q ^ mask) - mask] * g;
    const uint32_t keep = 0u - static_cast<uint32_t>(q != 0);
    return std::bit_cast<float>((std::bit_cast<uint32_t>(v) ^ (static_cast<uint32_t>(q) & 0x80000000u)) & keep);
#endif
}
void DequantizeChannel(DecoderState& s, int gr, int ch);
void SelectDequantizeKernel(int32_t level);
// Lines 0 .. end - 1 of a long-block granule, band by band with its gain.
void DequantizeLongLines(const int32_t* q, float* out, int32_t end, const int32_t* band_ends, int32_t global_gain,
                         int32_t scalefac_scale, const int32_t* scalefac_l, int32_t preflag);

// Stereo processing (stereo.cpp).
// bound[0..2]: per window; bound[3]: the long part of a mixed granule (a line).
int32_t FindIntensityBounds(DecoderState& s, int32_t bound[4], int gr);
void JointStereoGranule(DecoderState& s, int gr);
void SelectStereoKernel(int32_t level);

// Alias reduction, IMDCT and overlap-add (imdct.cpp).
void PrepareImdctWindows(DecoderState& s);
void SelectTransformKernel(int32_t level);
void AliasReduce(DecoderState& s, int ch);
void AliasReduceBoundaries(DecoderState& s, int ch, int boundaries);  // subband boundaries 1..n
void Imdct36(const float in[18], float out[36]);
void Imdct12(const float in[6], float out[12]);  // windowed
// Overlap value t of subband sb of channel ch. The vector build keeps each
// group of eight subbands sample-major, [ch][sb / 8][t][sb % 8] in the same
// storage, so the batched transform reads and writes it as whole vectors; the
// reference build keeps [ch][sb][t].
inline float& OverlapAt(DecoderState& s, int ch, int sb, int t) {
#if QUV3_X86_VECTOR
    return (&s.OverlapBuffer[ch][0][0])[(sb >> 3) * 144 + t * 8 + (sb & 7)];
#else
    return s.OverlapBuffer[ch][sb][t];
#endif
}
void InverseTransformSubband(DecoderState& s, int block_type, int sb, int ch);
void InverseTransformSubbands(DecoderState& s, int block_type, int first, int end, int ch);
void PassOverlapThrough(DecoderState& s, int sb, int ch);
#if QUV3_X86_VECTOR
// A 4 x 4 block of floats at src_stride into dst at dst_stride, transposed.
inline void Transpose4x4Sse(const float* src, int src_stride, float* dst, int dst_stride) {
    __m128 r0 = _mm_loadu_ps(src), r1 = _mm_loadu_ps(src + src_stride);
    __m128 r2 = _mm_loadu_ps(src + 2 * src_stride), r3 = _mm_loadu_ps(src + 3 * src_stride);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_storeu_ps(dst, r0);
    _mm_storeu_ps(dst + dst_stride, r1);
    _mm_storeu_ps(dst + 2 * dst_stride, r2);
    _mm_storeu_ps(dst + 3 * dst_stride, r3);
}

// Transposes 8 vectors of 8 floats in registers (an exact copy); AVX2 processors
// only. Named vectors rather than an array keep the compiler from staging them
// in memory.
__attribute__((target("avx2"), always_inline)) inline void Transpose8x8Avx2(__m256& r0, __m256& r1, __m256& r2,
                                                                            __m256& r3, __m256& r4, __m256& r5,
                                                                            __m256& r6, __m256& r7) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    const __m256 t4 = _mm256_unpacklo_ps(r4, r5), t5 = _mm256_unpackhi_ps(r4, r5);
    const __m256 t6 = _mm256_unpacklo_ps(r6, r7), t7 = _mm256_unpackhi_ps(r6, r7);
    // u0..u3 hold rows 0-3 of columns 0..3 (low half) and 4..7 (high half),
    // u4..u7 the same for rows 4-7.
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r0 = _mm256_permute2f128_ps(u0, u4, 0x20);
    r1 = _mm256_permute2f128_ps(u1, u5, 0x20);
    r2 = _mm256_permute2f128_ps(u2, u6, 0x20);
    r3 = _mm256_permute2f128_ps(u3, u7, 0x20);
    r4 = _mm256_permute2f128_ps(u0, u4, 0x31);
    r5 = _mm256_permute2f128_ps(u1, u5, 0x31);
    r6 = _mm256_permute2f128_ps(u2, u6, 0x31);
    r7 = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// 8 rows of 8 floats at src_stride into 8 columns at dst_stride.
__attribute__((target("avx2"), always_inline)) inline void Transpose8x8Avx2(const float* src, int src_stride,
                                                                            float* dst, int dst_stride) {
    __m256 r0 = _mm256_loadu_ps(src), r1 = _mm256_loadu_ps(src + src_stride);
    __m256 r2 = _mm256_loadu_ps(src + 2 * src_stride), r3 = _mm256_loadu_ps(src + 3 * src_stride);
    __m256 r4 = _mm256_loadu_ps(src + 4 * src_stride), r5 = _mm256_loadu_ps(src + 5 * src_stride);
    __m256 r6 = _mm256_loadu_ps(src + 6 * src_stride), r7 = _mm256_loadu_ps(src + 7 * src_stride);
    Transpose8x8Avx2(r0, r1, r2, r3, r4, r5, r6, r7);
    _mm256_storeu_ps(dst, r0);
    _mm256_storeu_ps(dst + dst_stride, r1);
    _mm256_storeu_ps(dst + 2 * dst_stride, r2);
    _mm256_storeu_ps(dst + 3 * dst_stride, r3);
    _mm256_storeu_ps(dst + 4 * dst_stride, r4);
    _mm256_storeu_ps(dst + 5 * dst_stride, r5);
    _mm256_storeu_ps(dst + 6 * dst_stride, r6);
    _mm256_storeu_ps(dst + 7 * dst_stride, r7);
}
#endif

// Polyphase synthesis (synthesis.cpp).
void ScaleSynthesisWindow(DecoderState& s);
void SelectSynthesisKernels(int32_t level);
void Dct32(const float in[32], float out[32]);
int16_t RoundAndClip(double v);
void SynthesizeSlot(DecoderState& s, int ch, int slot);
void SynthesizeGranule(DecoderState& s, int ch);  // slots 0..17

}  // namespace quv3
