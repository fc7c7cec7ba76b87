#include "decoder/layer3/synthesis.h"

namespace quv3 {

// Every output sample is 32767 times the ISO/IEC 11172-3 synthesis filter's,
// rounded to the nearest integer (ties to even) and clipped to -32767..32767:
// the DCT delivers doubled values and the window carries 16383.5.
void SynthesizeGranule(const Kernels& k, const float (*subbands)[18], int rows, SynthesisMemory& m, int ch,
                       int channels) {
    // Channel 0 of a stereo granule goes to the mono run first; channel 1 then
    // writes the interleaved pairs of both.
    if (channels == 2 && ch == 1) {
        k.synthesize_granule(subbands, rows, m.ring[1], m.StereoPcmBuffer, m.MonoPcmBuffer);
    } else {
        k.synthesize_granule(subbands, rows, m.ring[ch], m.MonoPcmBuffer, nullptr);
    }
}

}  // namespace quv3
