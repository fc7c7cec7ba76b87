#pragma once

#include <array>
#include <cstdint>

namespace quv3 {

// One codeword per word: codeword left-aligned in bits 31..13, length in 12..8,
// x (or the count1 quadruple v w x y) in 7..4, y in 3..0.
struct CodeTable {
    const uint32_t* entries;  // sorted ascending as unsigned numbers; nullptr for 4 and 14
    int32_t count;
};

// Table numbers 0..31 are table_select values; 32 and 33 are count1 tables A and B.
extern const std::array<CodeTable, 34> kCodeTables;
// Position of the entry whose codeword covers the 4-bit prefix v followed by zeros.
extern const std::array<std::array<uint8_t, 16>, 34> kBucketIndex;
extern const std::array<int32_t, 32> kLinbitsTable;

constexpr uint32_t CodeLength(uint32_t e) { return (e >> 8) & 0x1F; }
constexpr uint32_t CodeX(uint32_t e) { return (e >> 4) & 0xF; }
constexpr uint32_t CodeY(uint32_t e) { return e & 0xF; }

}  // namespace quv3
