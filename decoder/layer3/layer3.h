#pragma once

#include <cstdint>

#include "decoder/api/decoder_state.h"

// The Layer III decoding stages, in the order the frame driver runs them.
namespace quv3 {

// Frame driver (frame_decoder.cpp).
void ClearDecoderMemories(DecoderState& s);
void PrepareTables(DecoderState& s);
void SelectBandTables(DecoderState& s);
int32_t FrameBytes(const FrameHeader& h);  // without padding
int32_t DecodeFrame(DecoderState& s, int16_t* pcm);

// Bit reservoir (main_data.cpp).
void AppendMainData(DecoderState& s, int32_t n);
uint32_t ReadMainDataBits(MainDataBuffer& m, int n);
uint32_t PeekMainDataWindow(const MainDataBuffer& m);  // 32 bits at bit_pos
void SkipMainDataBits(MainDataBuffer& m, int32_t n);  // n may be negative

// Side information (side_info.cpp).
void ReadSideInfo(DecoderState& s);

// Scale factors (scale_factors.cpp).
int32_t ReadScaleFactors(DecoderState& s, int gr, int ch);

// Huffman decoding (huffman.cpp).
int32_t DecodeCodeword(MainDataBuffer& m, int table, int32_t& x_out, int32_t& y_out);
// Returns the bits read beyond the part2_3_length budget (negative: left over);
// the bit position always ends on the budget.
int32_t DecodeSpectrum(DecoderState& s, int gr, int ch, int32_t part2_bits);
void RegionBounds(const DecoderState& s, int gr, int ch, int32_t bounds[3]);

// Dequantization (dequantize.cpp).
float LongGainFactor(int band, int32_t global_gain, int32_t scalefac_scale, int32_t scalefac, int32_t preflag);
float ShortGainFactor(int32_t global_gain, int32_t subblock_gain, int32_t scalefac_scale, int32_t scalefac);
float DequantizeSample(int32_t q, float g);
void DequantizeChannel(DecoderState& s, int gr, int ch);

// Stereo processing (stereo.cpp).
// bound[0..2]: per window; bound[3]: the long part of a mixed granule (a line).
int32_t FindIntensityBounds(DecoderState& s, int32_t bound[4], int gr);
void JointStereoGranule(DecoderState& s, int gr);

// Alias reduction, IMDCT and overlap-add (imdct.cpp).
void PrepareImdctWindows(DecoderState& s);
void AliasReduce(DecoderState& s, int ch);
void AliasReduceBoundaries(DecoderState& s, int ch, int boundaries);  // subband boundaries 1..n
void Imdct36(const float in[18], float out[36]);
void Imdct12(const float in[6], float out[12]);  // windowed
void InverseTransformSubband(DecoderState& s, int block_type, int sb, int ch);
void PassOverlapThrough(DecoderState& s, int sb, int ch);

// Polyphase synthesis (synthesis.cpp).
void ScaleSynthesisWindow(DecoderState& s);
void Dct32(const float in[32], float out[32]);
int16_t RoundAndClip(double v);
void SynthesizeSlot(DecoderState& s, int ch, int slot);

}  // namespace quv3
