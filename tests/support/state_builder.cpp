#include "tests/support/state_builder.h"

#include <cstring>

#include "decoder/layer3/layer3.h"

namespace quv3::test {

std::unique_ptr<DecoderState> NewState(int id, int sampling_frequency) {
    auto s = std::make_unique<DecoderState>();
    PrepareTables(*s);
    s->header.ID = id;
    s->header.layer = 1;
    s->header.sampling_frequency = sampling_frequency;
    s->header.mode = 1;
    SelectBandTables(*s);
    return s;
}

void LoadMainData(DecoderState& s, const BitWriter& bits) {
    std::memset(s.main_data.bytes.data(), 0, s.main_data.bytes.size());
    if (!bits.bytes.empty())
        std::memcpy(s.main_data.bytes.data(), bits.bytes.data(), std::min<size_t>(bits.bytes.size(), kRingBytes));
    std::memcpy(s.main_data.bytes.data() + kRingBytes, s.main_data.bytes.data(), kRingMirror);
    s.main_data.bit_pos = 0;
    s.main_data.fill = static_cast<int32_t>(bits.bytes.size() % kRingBytes);
}

}  // namespace quv3::test
