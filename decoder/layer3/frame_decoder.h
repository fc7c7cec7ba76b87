#pragma once

#include <cstdint>

#include "decoder/layer3/dequantize.h"
#include "decoder/layer3/huffman.h"
#include "decoder/layer3/imdct.h"
#include "decoder/layer3/kernels.h"
#include "decoder/layer3/main_data.h"
#include "decoder/layer3/scale_factors.h"
#include "decoder/layer3/side_info.h"
#include "decoder/layer3/synthesis.h"
#include "decoder/stream/stream.h"

// The frame decode driver: the records of the Layer III stages, and the road of
// a frame through them.
namespace quv3 {

struct FrameDecoder {
    int32_t call_count;  // Quv calls since the stream was opened or rewound
    int32_t channel_count;  // of the frame being decoded; 0 before the first
    MainDataBuffer main_data;
    SideInfo side_info;
    ScaleFactors scale_factors;
    QuantizedSpectrum quantized;
    Spectrum spectrum;
    TransformMemory transform;
    SynthesisMemory synthesis;
};

// What opening and rewinding clear: the memories of the transforms, the
// reservoir and the call count. Nothing else is reset between streams.
void ClearDecoderMemories(FrameDecoder& d);

// Decodes the frame whose header the stream read last into pcm (at most 4608
// bytes, nothing when the frame only feeds the reservoir or cannot be sized).
void DecodeFrame(const Kernels& k, Stream& in, FrameDecoder& d, int16_t* pcm);

// After a seek or step back has read the landing frame's header: the reservoir
// and memories a straight decode has there (pre_roll.cpp). scratch takes the
// PCM of the frames decoded on the way.
void PreRoll(const Kernels& k, Stream& in, FrameDecoder& d, int16_t* scratch);

}  // namespace quv3
