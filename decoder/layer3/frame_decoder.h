#pragma once

#include <cstdint>

#include "decoder/layer3/dequantize.h"
#include "decoder/layer3/huffman.h"
#include "decoder/layer3/imdct.h"
#include "decoder/layer3/kernels/kernels.h"
#include "decoder/layer3/main_data.h"
#include "decoder/layer3/scale_factors.h"
#include "decoder/layer3/side_info.h"
#include "decoder/layer3/synthesis.h"
#include "decoder/stream/stream.h"

// The frame decode driver: the records of the Layer III stages, and the road of
// a frame through them.
namespace quv3 {

// At the start of a stream the reservoir cannot hold what the first frames
// refer back to: a frame whose main data begins before the bytes appended so
// far, among the frames within the first 960 bytes of the stream (as frame
// length x calls counts them), only feeds the reservoir.
inline constexpr int64_t kStreamStartBytes = 960;

// The rule above for frame number k (the frame loop's call count), whose main
// data begins `begin` bytes back with the reservoir's fill at `fill`; the
// header walk applies it too, so that it skips the frames the decoder skips.
inline bool OnlyFeedsReservoir(int32_t begin, int32_t fill, int32_t frame_bytes, int64_t k) {
    return begin > fill && static_cast<int64_t>(frame_bytes) * k < kStreamStartBytes;
}

struct FrameDecoder {
    int32_t status;  // 0, or -4 once no frame follows (sticky until a rewind)
    int32_t call_count;  // frame loop calls since the stream was opened or rewound
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

// Where a frame's samples go, in which format: two channels interleaved, or
// one; int16_t values for PcmFormat::kS16, float values for kF32. With no
// samples the frame is decoded all the same, for the memories it leaves,
// which do not depend on the format.
struct PcmOut {
    void* samples;
    PcmFormat format = PcmFormat::kS16;
};

// Decodes the frame whose header the stream read last into out (at most 1152
// samples per channel; nothing when the frame only feeds the reservoir or
// cannot be sized). Returns the samples per channel written.
int32_t DecodeFrame(const Kernels& k, Stream& in, FrameDecoder& d, PcmOut out);

// The frame loop. Unless the stream has ended, decodes the pending frame into
// out and reads the next header, resynchronising past damage; the status
// becomes -4 when no frame follows (this call's samples are still valid).
// Every call counts. Returns the samples per channel written.
int32_t DecodeNextFrame(const Kernels& k, Stream& in, FrameDecoder& d, PcmOut out);

// After a seek or step back has read the landing frame's header: the reservoir
// and memories a straight decode has there (pre_roll.cpp). The status and the
// stream's damage counts stay as they were.
void PreRoll(const Kernels& k, Stream& in, FrameDecoder& d);

}  // namespace quv3
