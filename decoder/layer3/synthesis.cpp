#include "decoder/layer3/synthesis.h"

namespace quv3 {

// Every output sample is 32767 times the ISO/IEC 11172-3 synthesis filter's,
// rounded to the nearest integer (ties to even) and clipped to -32767..32767:
// the DCT delivers doubled values and the window carries 16383.5. A float
// sample is that value over 32767, before the rounding and clipping.
void SynthesizeGranule(const Kernels& k, const float (*subbands)[18], int rows, SynthesisMemory& m, int ch,
                       int channels, PcmFormat format) {
    // Channel 0 of a stereo granule goes to the mono run first; channel 1 then
    // writes the interleaved pairs of both.
    const bool pair = channels == 2 && ch == 1;
    SynthesisRing& ring = m.ring[ch];
    if (format == PcmFormat::kF32) {
        k.synthesize_granule_float(subbands, rows, ring, pair ? m.StereoFloatBuffer : m.MonoFloatBuffer,
                                   pair ? m.MonoFloatBuffer : nullptr);
    } else {
        k.synthesize_granule(subbands, rows, ring, pair ? m.StereoPcmBuffer : m.MonoPcmBuffer,
                             pair ? m.MonoPcmBuffer : nullptr);
    }
}

}  // namespace quv3
