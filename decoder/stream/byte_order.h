#pragma once

#include <cstdint>

// Four bytes of a file as a number: most significant first (frame headers,
// Xing fields, the bit readers' windows) or least significant first (APEv2).
namespace quv3 {

inline uint32_t LoadBigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace quv3
