#pragma once

#include <array>
#include <cstdint>

#include "decoder/stream/stream.h"

// The bit reservoir: the main data of successive frames, and its bit reader.
namespace quv3 {

inline constexpr int32_t kRingBytes = 4096;
inline constexpr int32_t kRingBits = kRingBytes * 8;
inline constexpr int32_t kSpillBytes = 2048;
inline constexpr int32_t kRingMirror = 7;  // bytes 0..6 repeated past the end, for 8-byte windows

// A 4096-byte ring. Appends write on into the spill area, whose part past
// index 4095 is then copied to the start; bytes 0..6 stay mirrored at
// 4096..4102 so a window read near the end sees the bytes that follow.
struct MainDataBuffer {
    std::array<uint8_t, kRingBytes + kSpillBytes> bytes;
    int32_t fill;  // ring index of the next appended byte
    int32_t bit_pos;  // 0 .. 32767
};

// n bytes of the file into the ring at fill (main_data.cpp). The ring index
// advances by n even when the file ends first: bytes not delivered keep their
// old content.
void AppendMainData(Stream& in, MainDataBuffer& m, int32_t n);
// The ring index after appending n bytes at fill, as AppendMainData moves it.
inline int32_t FillAfter(int32_t fill, int32_t n) {
    if (n > kSpillBytes) n = kSpillBytes;  // never for a valid header (at most 1441 bytes)
    return n > 0 ? (fill + n) & (kRingBytes - 1) : fill;
}
void AppendZeros(MainDataBuffer& m, int32_t n);

// The 4-byte big-endian window at the byte holding bit_pos, shifted left by
// the bit offset: the next bits start at bit 31. The mirrored bytes past the
// ring's end make the window at bytes 4093..4095 read on from byte 0.
inline uint32_t PeekMainDataWindow(const MainDataBuffer& m) {
    const uint8_t* b = &m.bytes[static_cast<uint32_t>(m.bit_pos) >> 3];
    const uint32_t w = LoadBigEndian32(b);
    return w << (m.bit_pos & 7);
}

// The 64 bits from bit_pos on, the next one in bit 63; at least 57 of them
// are the ring's (the mirrored bytes past its end serve a window near it).
inline uint64_t PeekMainData64(const MainDataBuffer& m, uint32_t bit_pos) {
    const uint8_t* b = &m.bytes[bit_pos >> 3];
    uint64_t w;
    __builtin_memcpy(&w, b, 8);
    return __builtin_bswap64(w) << (bit_pos & 7);
}

inline void SkipMainDataBits(MainDataBuffer& m, int32_t n) {  // n may be negative
    m.bit_pos = (m.bit_pos + n) & (kRingBits - 1);
}

// The next n bits (n up to 25); n = 0 returns 0 and consumes nothing.
inline uint32_t ReadMainDataBits(MainDataBuffer& m, int n) {
    if (n == 0) return 0;
    const uint32_t v = PeekMainDataWindow(m) >> (32 - n);
    SkipMainDataBits(m, n);
    return v;
}

}  // namespace quv3
