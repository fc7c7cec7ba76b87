#pragma once

#include <cstdint>

#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/frame_decoder.h"
#include "decoder/layer3/frame_walk.h"
#include "decoder/layer3/kernels/kernels.h"
#include "decoder/stream/encoder_info.h"
#include "decoder/stream/stream.h"

// A decoder of the re-entrant API: the stream and the frame decoder, each
// owning its records, and what the calls keep between them. The exports of
// quv3 drive one of these in static storage.
struct quv3_decoder {
    uint32_t ready;  // kDecoderReady once quv3_decoder_init has run
    int32_t open;    // a stream is open
    int32_t format;  // QUV3_S16 or QUV3_F32, as opened
    const quv3::Kernels* kernels;
    quv3::Stream stream;
    quv3::StreamDescription description;
    quv3::FrameDecoder frame;
    // Positions (re-entrant API only). Frame k is the k-th frame the frame
    // loop decodes from the start (the first at data_start); its decoded
    // samples are k x samples_per_frame .. + samples_per_frame - 1. Gapless
    // output keeps the decoded samples trim_first .. trim_end - 1.
    quv3::EncoderInfo encoder;
    quv3::FrameIndex index;
    int32_t trimmed;
    int64_t trim_first, trim_end;
    int64_t trim_last_frame;  // the last frame the encoder counted
    int64_t frame_number;  // of the pending frame
    int64_t skip;          // samples of the next frame that writes to leave out: a seek landed inside it
    int64_t next_sample;   // the number of the next sample delivered
    int64_t total_samples;
    int32_t total_kind;
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

// Re-entrant API: after opening, the encoder's numbers, the trim when gapless
// output was asked for and the stream has them, and the total.
void DescribePositions(quv3_decoder& d, bool gapless);

// Re-entrant API: one call's worth of output. Decodes the pending frame into
// out (each sample value_bytes wide, the frame's channels interleaved), keeps
// of its samples those the output holds (the trim, the rest of a frame a seek
// landed in) at the start of out and returns their count. The status becomes
// -4 at the end of the output.
int32_t DecodeOutput(quv3_decoder& d, PcmOut out, int32_t value_bytes);

// Re-entrant API moves, all through the header walk (a frame's number is
// what positions and the trim are counted from; bytes inside a frame that
// look like a header must not become one). Each lands through the pre-roll.
// To the first frame at or after the offset: 0, or -4 when none follows.
int32_t SeekToOffset(quv3_decoder& d, int64_t offset);
// To the frame the last decode call decoded (the first near the start).
int32_t StepBackFrame(quv3_decoder& d);
// To output sample n: 0, or -4 past the end.
int32_t SeekToSample(quv3_decoder& d, int64_t n);

}  // namespace quv3
