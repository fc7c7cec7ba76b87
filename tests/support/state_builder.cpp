#include "tests/support/state_builder.h"

#include <algorithm>
#include <cstring>

#include "decoder/layer3/stereo.h"

namespace quv3::test {

std::unique_ptr<StageState> NewState(int id, int sampling_frequency, int mpeg25) {
    auto s = std::make_unique<StageState>();
    s->header.ID = id;
    s->header.mpeg25 = mpeg25;
    s->header.layer = 1;
    s->header.sampling_frequency = sampling_frequency;
    s->header.mode = 1;
    s->bands = SelectBandLayout(s->header);
    return s;
}

std::unique_ptr<LocalDecoder> OpenLocal(const std::string& path, const OpenRules& rules) {
    auto s = std::make_unique<LocalDecoder>();
    ClearDecoderMemories(s->d);
    s->open_result = AttachFile(s->in.source, path.c_str(), false) != 0 ? -5 : OpenStream(s->in, rules, s->description);
    return s;
}

int32_t LocalDecoder::Next(int16_t* pcm) {
    DecodeNextFrame(*kernels, in, d, PcmOut{pcm});
    return d.status;
}

int32_t LocalDecoder::Next(PcmOut out, size_t& values) {
    values = static_cast<size_t>(DecodeNextFrame(*kernels, in, d, out)) * static_cast<size_t>(d.channel_count);
    return d.status;
}

void LoadMainData(MainDataBuffer& m, const BitWriter& bits) {
    std::memset(m.bytes.data(), 0, m.bytes.size());
    if (!bits.bytes.empty())
        std::memcpy(m.bytes.data(), bits.bytes.data(), std::min<size_t>(bits.bytes.size(), kRingBytes));
    std::memcpy(m.bytes.data() + kRingBytes, m.bytes.data(), kRingMirror);
    m.bit_pos = 0;
    m.fill = static_cast<int32_t>(bits.bytes.size() % kRingBytes);
}

void Dequantize(StageState& s, int gr, int ch) {
    DequantizeChannel(*s.kernels, s.quantized, s.side_info, s.scale_factors, s.bands, gr, ch,
                      BlockKindOf(s.side_info, gr, ch), s.spectrum);
}

void JointStereo(StageState& s, int gr) {
    for (int ch = 0; ch < 2; ++ch)
        DequantizeChannel(*s.kernels, s.quantized, s.side_info, s.scale_factors, s.bands, gr, ch,
                          BlockKindOf(s.side_info, gr, 0), s.spectrum);
    s.stereo_subbands =
        JointStereoGranule(*s.kernels, s.quantized, s.side_info, s.scale_factors, s.bands, s.header, gr, s.spectrum);
}

}  // namespace quv3::test
