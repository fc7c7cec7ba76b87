#include <cstring>

#include "decoder/layer3/layer3.h"

namespace quv3 {

// The ring index advances by n even when the file ends first: bytes not
// delivered keep their old content.
void AppendMainData(DecoderState& s, int32_t n) {
    MainDataBuffer& m = s.main_data;
    if (n > kSpillBytes) n = kSpillBytes;  // never for a valid header (at most 1441 bytes)
    if (n <= 0) return;
    const int32_t got = io::Read(s.file, m.bytes.data() + m.fill, n);
    const int32_t end = m.fill + got;
    if (end > kRingBytes) std::memcpy(m.bytes.data(), m.bytes.data() + kRingBytes, end - kRingBytes);
    m.fill = (m.fill + n) & (kRingBytes - 1);
    std::memcpy(m.bytes.data() + kRingBytes, m.bytes.data(), 3);
}

uint32_t PeekMainDataWindow(const MainDataBuffer& m) {
    const uint8_t* b = &m.bytes[static_cast<uint32_t>(m.bit_pos) >> 3];
    const uint32_t w = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return w << (m.bit_pos & 7);
}

void SkipMainDataBits(MainDataBuffer& m, int32_t n) { m.bit_pos = (m.bit_pos + n) & (kRingBits - 1); }

uint32_t ReadMainDataBits(MainDataBuffer& m, int n) {
    if (n == 0) return 0;
    const uint32_t v = PeekMainDataWindow(m) >> (32 - n);
    SkipMainDataBits(m, n);
    return v;
}

}  // namespace quv3
