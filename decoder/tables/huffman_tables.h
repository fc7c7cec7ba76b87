#pragma once

#include <array>
#include <cstdint>

// Lookup tables of the Huffman decoder, derived by tools/gen_tables.py from the
// Layer III code tables of ISO/IEC 11172-3.
namespace quv3 {

// Pair tables: for each table number a 256-entry root in kPairLookup indexed by
// the next 8 bits (-1 in kPairLookupRoot: table 0, or 4 and 14, which name no
// table). An entry is
// - a leaf: bits 0-5 codeword length plus sign bits, 8-11 y, 12-15 x, 16-20
//   codeword length, 21 x nonzero, 22 y nonzero, 23 linbits follow (x or y is
//   15 in a table with linbits);
// - or a link (bit 31) to a subtable: bits 0-15 its offset, 16-19 the bits
//   that index it, 20-24 the codeword bits already used.
inline constexpr uint32_t kLookupLink = 1u << 31;
inline constexpr uint32_t kLookupNonZeroX = 1u << 21;
inline constexpr uint32_t kLookupNonZeroY = 1u << 22;
inline constexpr uint32_t kLookupLinbitsFollow = 1u << 23;
inline constexpr int kLookupRootBits = 8;
inline constexpr int32_t kPairLookupSize = 5486;  // kept up to date by tools/gen_tables.py
extern const std::array<uint32_t, kPairLookupSize> kPairLookup;
extern const std::array<int32_t, 32> kPairLookupRoot;

// Count1 tables A and B indexed by the next 10 bits (a codeword of at most 6
// bits and up to 4 sign bits): bits 0-3 the bits used, then v, w, x, y as
// value + 1 in two bits each from bit 4 up.
extern const std::array<std::array<uint16_t, 1024>, 2> kCount1Lookup;

extern const std::array<int32_t, 32> kLinbitsTable;

}  // namespace quv3
