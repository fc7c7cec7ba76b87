#pragma once

#include <cstdint>

#include "decoder/api/quv3.h"
#include "decoder/layer3/frame_decoder.h"
#include "decoder/layer3/kernels.h"
#include "decoder/stream/stream.h"

namespace quv3 {

// The decoder of the process: the stream and the frame decoder, each owning
// its records, and what the exports keep between calls.
struct DecoderState {
    int32_t tables_pending = 1;  // until the first InitQuv has chosen the kernels
    const Kernels* kernels = nullptr;
    Stream stream;
    StreamInfo stream_info;
    int32_t status;  // sticky result of Quv: 0, or -4 once no frame follows
    FrameDecoder frame;
};

// The kernels of level (lowered to what the processor runs) for the process's
// decoder from now on, as the first InitQuv chooses the highest; for tests and
// the benchmark. Returns the level chosen.
int32_t UseKernelLevel(int32_t level);

}  // namespace quv3
