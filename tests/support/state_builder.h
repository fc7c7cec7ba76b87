#pragma once

#include <memory>
#include <string>

#include "decoder/layer3/band_layout.h"
#include "decoder/layer3/frame_decoder.h"
#include "decoder/layer3/kernels/kernels.h"
#include "tests/support/bit_writer.h"

namespace quv3::test {

// The Layer III records of one frame decoder with the frame's header and band
// layout, for running a stage on hand-built input. Kernels of the plain level
// unless a test picks another.
struct StageState : FrameDecoder {
    FrameHeader header{};
    BandLayout bands{};
    const Kernels* kernels = &KernelsAt(0);
    int32_t stereo_subbands = 0;  // what the last JointStereo returned
};

std::unique_ptr<StageState> NewState(int id = 1, int sampling_frequency = 0, int mpeg25 = 0);

// The widest level's vector shapes in portable vector code (wide_kernels.cpp),
// for checking them on processors that do not run that level.
extern const Kernels kWideKernels;

// A stream and a frame decoder of the test's own, opened on a file: the road
// the exports take (or, with other rules, the re-entrant API's), without the
// process's instance.
struct LocalDecoder {
    Stream in;
    FrameDecoder d{};
    StreamDescription description{};
    const Kernels* kernels = &KernelsAt(0);
    int32_t open_result = 0;
    ~LocalDecoder() { CloseInput(in); }
    // Decodes the pending frame and reads the next header: 0, or -4 at the end.
    int32_t Next(int16_t* pcm);
    // The same into out; values gets the values written (samples of all channels).
    int32_t Next(PcmOut out, size_t& values);
};
std::unique_ptr<LocalDecoder> OpenLocal(const std::string& path, const OpenRules& rules = OpenRules{});

// Puts the bits into the reservoir at ring index 0 and reads from there.
void LoadMainData(MainDataBuffer& m, const BitWriter& bits);

// Dequantization of one channel in its own block layout, as the frame driver
// runs it outside joint stereo.
void Dequantize(StageState& s, int gr, int ch);
// Both channels dequantized in channel 0's layout, then the stereo pass.
void JointStereo(StageState& s, int gr);

}  // namespace quv3::test
