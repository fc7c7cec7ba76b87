#pragma once

#include <cstdint>

#include "decoder/layer3/kernels/kernels.h"

namespace quv3 {

// One channel's polyphase history. Of the ISO V buffer's 64 values a slot
// adds, output j of the windowing reads V[j] or V[32 + j] and output 32 - j
// reads the same value (or its negation), so a slot keeps 33 doubles: for
// j = 0..15 what output j reads from its own half (kind 0, twice V[j]) and
// from the other half (kind 1, twice V[32 + j]), in columns[slot][kind][j],
// and what output 16 reads from the other half (twice V[48]) in middle[slot];
// output 16 reads 0 from its own half.
// next is the ring slot the next slot writes; tap i of a slot reads kind 0 of
// the slot i back when i is even, kind 1 when it is odd. Ring slots 0 .. 19 are
// kept again at 32 .. 51, so the 16 slots a slot's windowing reads, from its
// own on, follow each other without wrapping, for up to kMaxSlotsPerPass slots
// windowed together.
inline constexpr int kMaxSlotsPerPass = 6;
inline constexpr int kMirroredSlots = 14 + kMaxSlotsPerPass;

struct SynthesisRing {
    alignas(64) double columns[32 + kMirroredSlots][2][16];
    double middle[32 + kMirroredSlots];
    int32_t next;
};

// The sample format a granule is synthesized in: 16-bit integers, or floats
// that give those integers when scaled by 32767, clipped and rounded.
enum class PcmFormat : int32_t { kS16, kF32 };

struct SynthesisMemory {
    SynthesisRing ring[2];
    // One granule of PCM: left and right interleaved, or one channel (in a
    // stereo granule, the left channel until the right one is synthesized).
    alignas(64) int16_t StereoPcmBuffer[1152];
    alignas(64) int16_t MonoPcmBuffer[576];
    // The same as floats, when the granule is synthesized in PcmFormat::kF32.
    alignas(64) float StereoFloatBuffer[1152];
    alignas(64) float MonoFloatBuffer[576];
};

// The subband rows the synthesis reads when only the first `live` subbands may
// hold values other than zero: 8, 16 or 32. It reads no row above, and takes
// those for zeros.
constexpr int SynthesisRows(int live) { return live <= 8 ? 8 : live <= 16 ? 16 : 32; }

// The 18 slots of channel ch's granule from its subband samples into the
// granule's PCM buffer of the format (stereo when channels is 2). rows
// (SynthesisRows) bounds the subbands read: those above are zero. The history
// the slots leave is the same in either format.
void SynthesizeGranule(const Kernels& k, const float (*subbands)[18], int rows, SynthesisMemory& m, int ch,
                       int channels, PcmFormat format);

}  // namespace quv3
