#include <cstring>

#include "decoder/layer3/main_data.h"

namespace quv3 {

void AppendMainData(Stream& in, MainDataBuffer& m, int32_t n) {
    if (n > kSpillBytes) n = kSpillBytes;  // never for a valid header (at most 1441 bytes)
    if (n <= 0) return;
    const int32_t got = ReadInput(in, m.bytes.data() + m.fill, n);
    const int32_t end = m.fill + got;
    if (end > kRingBytes) std::memcpy(m.bytes.data(), m.bytes.data() + kRingBytes, end - kRingBytes);
    m.fill = FillAfter(m.fill, n);
    std::memcpy(m.bytes.data() + kRingBytes, m.bytes.data(), kRingMirror);
}

void AppendZeros(MainDataBuffer& m, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        m.bytes[m.fill] = 0;
        if (m.fill < kRingMirror) m.bytes[kRingBytes + m.fill] = 0;
        m.fill = (m.fill + 1) & (kRingBytes - 1);
    }
}

}  // namespace quv3
