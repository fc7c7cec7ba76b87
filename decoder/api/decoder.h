#pragma once

#include <cstdint>

#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/frame_decoder.h"
#include "decoder/layer3/kernels.h"
#include "decoder/stream/stream.h"

// A decoder of the re-entrant API: the stream and the frame decoder, each
// owning its records, and what the calls keep between them. The exports of
// quv3 drive one of these in static storage.
struct quv3_decoder {
    uint32_t ready;  // kDecoderReady once quv3_decoder_init has run
    int32_t open;  // a stream is open
    int32_t format;  // QUV3_S16 or QUV3_F32, as opened
    const quv3::Kernels* kernels;
    quv3::Stream stream;
    quv3::StreamDescription description;
    quv3::FrameDecoder frame;
};

namespace quv3 {

inline constexpr uint32_t kDecoderReady = 0x51755633u;

// The kernels of the highest level the processor runs, chosen once for all
// decoders; safe to call from any thread.
const Kernels& ChosenKernels();

// Makes d a decoder with no stream open, with the chosen kernels.
void InitDecoder(quv3_decoder& d);

// Opens the stream on the source attached to d.stream: the decoder's memories
// cleared, the first header read, the status 0. The result of OpenStream.
int32_t OpenDecoder(quv3_decoder& d, const OpenRules& rules);

// The frame loop on d into out (nothing when out has no samples): the
// samples per channel written; d.frame.status tells whether a frame follows.
int32_t DecodeInto(quv3_decoder& d, PcmOut out);

// After a move of the stream: the memories of a straight decode at the frame
// it landed on (not at the first frame, where the decoder already has them).
void SettleAfterMove(quv3_decoder& d);

// Rewinds to the first frame with the memories cleared: the header reader's
// 0, -1 or -2; the status 0.
int32_t RewindDecoder(quv3_decoder& d);

}  // namespace quv3
