#pragma once

#include <cstdint>

#include "decoder/layer3/kernels.h"

namespace quv3 {

// One channel's polyphase history: for each of the last 32 slots the column
// its own half of the ISO V buffer receives (kind 0, twice V[0..31]) and the
// column of the other half (kind 1, twice V[32..63]), as doubles:
// [slot][kind][row]. Slots 0..16 are kept again at 32..48, so the 16 slots a
// slot's windowing reads, from its own on, follow each other without wrapping,
// for up to three slots windowed together.
// next is the ring slot the next slot writes. Tap i of a slot reads kind 0 of
// the slot i back when i is even, kind 1 when it is odd.
struct SynthesisRing {
    alignas(64) double columns[49][2][32];
    int32_t next;
};

struct SynthesisMemory {
    SynthesisRing ring[2];
    // One granule of PCM: left and right interleaved, or one channel.
    alignas(64) int16_t StereoPcmBuffer[1152];
    alignas(64) int16_t MonoPcmBuffer[576];
};

// The 18 slots of channel ch's granule from its subband samples into the
// granule's PCM buffer (stereo when channels is 2).
void SynthesizeGranule(const Kernels& k, const float (*subbands)[18], SynthesisMemory& m, int ch, int channels);

}  // namespace quv3
