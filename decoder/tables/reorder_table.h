#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder/tables/band_tables.h"

namespace quv3 {

// Where each short-block line (bitstream order: band by band, window by window)
// goes so that every subband's 18 slots hold window 0's six lines, then window
// 1's, then window 2's: (f div 6) x 18 + w x 6 + (f mod 6), f the window line.
// One row per row of the band tables (the MPEG 2.5 rates included).
inline constexpr size_t kShortReorderRows = kShortBandEndsTable.size();

constexpr std::array<std::array<int16_t, 576>, kShortReorderRows> MakeShortReorderTable() {
    std::array<std::array<int16_t, 576>, kShortReorderRows> t{};
    for (size_t row = 0; row < kShortReorderRows; ++row) {
        const auto& se = kShortBandEndsTable[row];
        int j = 0;
        for (int b = 0; b < 13; ++b) {
            const int first = b == 0 ? 0 : se[b - 1] + 1;
            const int width = se[b] + 1 - first;
            for (int w = 0; w < 3; ++w) {
                for (int k = 0; k < width; ++k, ++j) {
                    const int f = first + k;
                    t[row][j] = static_cast<int16_t>((f / 6) * 18 + w * 6 + f % 6);
                }
            }
        }
    }
    return t;
}

inline constexpr std::array<std::array<int16_t, 576>, kShortReorderRows> kShortReorderTable = MakeShortReorderTable();

}  // namespace quv3
