#pragma once

#include <array>
#include <cstdint>

// The Layer III Huffman code tables as sorted code lists with a 16-way bucket
// index (huffman_code_lists.cpp, generated), and the bucket search over them
// (huffman_search.cpp): the oracle the decoder's lookup tables are held to.
namespace quv3 {
struct MainDataBuffer;
struct SideInfo;
struct BandLayout;
struct QuantizedSpectrum;
}  // namespace quv3

namespace quv3::test {

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

constexpr uint32_t CodeLength(uint32_t e) { return (e >> 8) & 0x1F; }
constexpr uint32_t CodeX(uint32_t e) { return (e >> 4) & 0xF; }
constexpr uint32_t CodeY(uint32_t e) { return e & 0xF; }

// One codeword at the reservoir's bit position by the bucket search: its
// length, or -1 when none matches (never with these tables).
int32_t DecodeCodeword(MainDataBuffer& m, int table, int32_t& x_out, int32_t& y_out);
// A granule and channel codeword by codeword, linbits and sign bits one field
// at a time: what DecodeSpectrum must deliver for every input.
int32_t DecodeSpectrumBySearch(MainDataBuffer& m, const SideInfo& si, const BandLayout& bands, int gr, int ch,
                               int32_t part2_bits, QuantizedSpectrum& q);

}  // namespace quv3::test
