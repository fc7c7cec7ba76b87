#pragma once

#include <memory>

#include "decoder/api/decoder_state.h"
#include "tests/support/bit_writer.h"

namespace quv3::test {

// A decoder state for running one stage on hand-built input.
std::unique_ptr<DecoderState> NewState(int id = 1, int sampling_frequency = 0);

// Puts the bits into the reservoir at ring index 0 and reads from there.
void LoadMainData(DecoderState& s, const BitWriter& bits);

}  // namespace quv3::test
