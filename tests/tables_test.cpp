// The constant tables against facts that do not come from the tables themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "decoder/tables/band_tables.h"
#include "decoder/tables/huffman_tables.h"
#include "tests/support/huffman_code_lists.h"
#include "decoder/tables/quant_tables.h"
#include "decoder/tables/reorder_table.h"
#include "decoder/tables/stream_tables.h"
#include "decoder/tables/synthesis_window_table.h"
#include "decoder/tables/transform_tables.h"

namespace quv3 {
namespace {

using test::CodeLength;
using test::CodeTable;
using test::CodeX;
using test::CodeY;
using test::kBucketIndex;
using test::kCodeTables;

uint32_t Codeword(uint32_t e) { return e & ~0x1FFFu; }

TEST(HuffmanTables, EveryTableIsACompleteSortedPrefixCode) {
    for (int t = 1; t < 34; ++t) {
        const CodeTable& table = kCodeTables[t];
        if (t == 4 || t == 14) {
            EXPECT_EQ(table.entries, nullptr) << t;
            continue;
        }
        ASSERT_NE(table.entries, nullptr) << t;
        uint64_t kraft = 0;  // sum of 2^(19 - length): exactly 2^19 for a complete code
        for (int i = 0; i < table.count; ++i) {
            const uint32_t e = table.entries[i];
            const uint32_t len = CodeLength(e);
            ASSERT_GE(len, 1u);
            ASSERT_LE(len, 19u);
            kraft += uint64_t{1} << (19 - len);
            // Bits below the codeword are zero.
            EXPECT_EQ(Codeword(e) & ((1u << (32 - len)) - 1), 0u) << t << " entry " << i;
            if (i + 1 < table.count) {
                const uint32_t next = table.entries[i + 1];
                ASSERT_LT(e, next) << t;
                // In sorted order a prefix would be a prefix of its successor.
                EXPECT_NE((Codeword(e) ^ Codeword(next)) >> (32 - len), 0u) << t << " entry " << i;
            }
        }
        EXPECT_EQ(kraft, uint64_t{1} << 19) << "table " << t;
    }
}

TEST(HuffmanTables, PairTablesCoverEveryValuePairOnce) {
    const std::pair<int, int> sizes[] = {{1, 2},  {2, 3},  {3, 3},  {5, 4},  {6, 4},  {7, 6},  {8, 6},  {9, 6},
                                         {10, 8}, {11, 8}, {12, 8}, {13, 16}, {15, 16}, {16, 16}, {24, 16}};
    for (auto [t, n] : sizes) {
        const CodeTable& table = kCodeTables[t];
        ASSERT_EQ(table.count, n * n) << t;
        std::set<std::pair<uint32_t, uint32_t>> seen;
        for (int i = 0; i < table.count; ++i) seen.insert({CodeX(table.entries[i]), CodeY(table.entries[i])});
        EXPECT_EQ(seen.size(), static_cast<size_t>(n * n)) << t;
        EXPECT_LT(seen.rbegin()->first, static_cast<uint32_t>(n)) << t;
    }
    // 16..23 and 24..31 share one copy each.
    for (int t = 17; t < 24; ++t) EXPECT_EQ(kCodeTables[t].entries, kCodeTables[16].entries);
    for (int t = 25; t < 32; ++t) EXPECT_EQ(kCodeTables[t].entries, kCodeTables[24].entries);
    EXPECT_EQ(kCodeTables[32].count, 16);
    EXPECT_EQ(kCodeTables[33].count, 16);
}

TEST(HuffmanTables, BucketIndexNamesTheEntryCoveringEachFourBitPrefix) {
    for (int t = 1; t < 34; ++t) {
        const CodeTable& table = kCodeTables[t];
        if (!table.entries) continue;
        for (uint32_t v = 0; v < 16; ++v) {
            int expected = 0;
            for (int i = 0; i < table.count; ++i) {
                if (Codeword(table.entries[i]) <= (v << 28)) expected = i;
            }
            EXPECT_EQ(kBucketIndex[t][v], expected) << "table " << t << " v " << v;
        }
    }
}

TEST(HuffmanTables, WorkedExamples) {
    const uint32_t table1[] = {0x00000311, 0x20000301, 0x40000210, 0x80000100};
    ASSERT_EQ(kCodeTables[1].count, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kCodeTables[1].entries[i], table1[i]);
    const std::array<uint8_t, 16> bucket1 = {0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3};
    const std::array<uint8_t, 16> bucket2 = {0, 3, 5, 5, 6, 6, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8};
    EXPECT_EQ(kBucketIndex[1], bucket1);
    EXPECT_EQ(kBucketIndex[2], bucket2);
    EXPECT_EQ(kCodeTables[2].entries[2], 0x08000512u);
    auto contains = [](int t, uint32_t word) {
        for (int i = 0; i < kCodeTables[t].count; ++i)
            if (kCodeTables[t].entries[i] == word) return true;
        return false;
    };
    EXPECT_TRUE(contains(32, 0x000006B0));  // count1 A: 000000 -> 1011
    EXPECT_TRUE(contains(33, 0x000004F0));  // count1 B: 0000 -> 1111
    // The largest bucket: table 13's first, 203 entries.
    int largest = 0, where = -1;
    for (int t = 1; t < 34; ++t) {
        for (int v = 0; v < 15 && kCodeTables[t].entries; ++v) {
            const int n = kBucketIndex[t][v + 1] - kBucketIndex[t][v];
            if (n > largest) largest = n, where = t * 16 + v;
        }
    }
    EXPECT_EQ(largest, 203);
    EXPECT_EQ(where, 13 * 16 + 0);
    const std::array<int32_t, 32> linbits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                             1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    EXPECT_EQ(kLinbitsTable, linbits);
}

TEST(BandTables, RowsMatchTheStandardPartitions) {
    const std::array<int32_t, 22> long44 = {3,  7,  11, 15,  19,  23,  29,  35,  43,  51,  61,
                                            73, 89, 109, 133, 161, 195, 237, 287, 341, 417, 575};
    const std::array<int32_t, 13> short44 = {3, 7, 11, 15, 21, 29, 39, 51, 65, 83, 105, 135, 191};
    EXPECT_EQ(kLongBandEndsTable[3], long44);
    EXPECT_EQ(kShortBandEndsTable[3], short44);
    const int32_t long22_start[] = {5, 11, 17, 23, 29, 35, 43, 53};
    for (int b = 0; b < 8; ++b) EXPECT_EQ(kLongBandEndsTable[0][b], long22_start[b]);
    // 24 kHz: band 17 is 278..331, band 18 332..393.
    EXPECT_EQ(kLongBandEndsTable[1][16], 277);
    EXPECT_EQ(kLongBandEndsTable[1][17], 331);
    for (int row = 0; row < 9; ++row) {
        EXPECT_EQ(kLongBandEndsTable[row][21], 575);
        EXPECT_EQ(kShortBandEndsTable[row][12], 191);
    }
    for (int row = 0; row < 8; ++row) {
        // The first three short bands are 4 lines wide at every rate but 8000 Hz: mixed blocks switch at line 36.
        EXPECT_EQ(kShortBandEndsTable[row][2], 11);
    }
}

// MPEG 2.5 (rows 6 + sampling_frequency), outside the ISO standards: 11025 and
// 12000 Hz take the 16000 Hz bands of ISO/IEC 13818-3; 8000 Hz has its own.
TEST(BandTables, Mpeg25Rows) {
    ASSERT_EQ(kLongBandEndsTable.size(), 9u);
    ASSERT_EQ(kShortBandEndsTable.size(), 9u);
    for (int row : {6, 7}) {
        EXPECT_EQ(kLongBandEndsTable[row], kLongBandEndsTable[2]) << row;
        EXPECT_EQ(kShortBandEndsTable[row], kShortBandEndsTable[2]) << row;
    }
    const int32_t long8_start[23] = {0,   12,  24,  36,  48,  60,  72,  88,  108, 132, 160, 192,
                                     232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576};
    const int32_t short8_start[14] = {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192};
    for (int b = 0; b < 22; ++b) EXPECT_EQ(kLongBandEndsTable[8][b], long8_start[b + 1] - 1) << b;
    for (int b = 0; b < 13; ++b) EXPECT_EQ(kShortBandEndsTable[8][b], short8_start[b + 1] - 1) << b;
    // The ISO rows are where they were.
    EXPECT_EQ(kLongBandEndsTable[5][20], 549);  // 32000 Hz
    EXPECT_EQ(kShortBandEndsTable[1][10], 135);  // 24000 Hz
}

TEST(ShortReorderTable, EachRowIsAPermutationWithTheDocumentedLayout) {
    ASSERT_EQ(kShortReorderTable.size(), 9u);
    for (int row = 0; row < 9; ++row) {
        std::set<int> seen(kShortReorderTable[row].begin(), kShortReorderTable[row].end());
        EXPECT_EQ(seen.size(), 576u);
        EXPECT_EQ(*seen.begin(), 0);
        EXPECT_EQ(*seen.rbegin(), 575);
        // Lines from short band 3 on (36.., 72.. at 8000 Hz) stay there, so the
        // long part of a mixed block is never overwritten.
        const int first_short = row == 8 ? 72 : 36;
        EXPECT_EQ(3 * (kShortBandEndsTable[row][2] + 1), first_short) << row;
        for (int j = first_short; j < 576; ++j) EXPECT_GE(kShortReorderTable[row][j], first_short) << row;
    }
    EXPECT_EQ(kShortReorderTable[3][12], 4);   // 44.1 kHz band 1, window 0, first line
    EXPECT_EQ(kShortReorderTable[3][16], 10);  // band 1, window 1
    EXPECT_EQ(kShortReorderTable[8][8], 6);    // 8 kHz band 0 (8 lines a window), window 1, line 0
    EXPECT_EQ(kShortReorderTable[8][14], 24);  // window 1, line 6: subband 1, 18 + 6
}

TEST(QuantTables, PowerAndGainTables) {
    EXPECT_EQ(kPow43Table[0], 0.0f);
    EXPECT_EQ(kPow43Table[1], 1.0f);
    EXPECT_FLOAT_EQ(kPow43Table[2], 2.5198419f);
    EXPECT_FLOAT_EQ(kPow43Table[8191], 165113.5f);
    for (int n = 0; n < kPow43Size; ++n) {
        const double exact = std::pow(static_cast<double>(n), 4.0 / 3.0);
        EXPECT_LE(std::fabs(kPow43Table[n] - exact), exact * 6e-8) << n;  // within half a float ulp
    }
    for (int k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(kGainStepTable[k], static_cast<float>(std::pow(2.0, k / 4.0)));
        EXPECT_FLOAT_EQ(kGainStepInverseTable[k], static_cast<float>(std::pow(2.0, -k / 4.0)));
    }
}

TEST(TransformTables, TrigonometricTables) {
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(kAliasCs[i] * kAliasCs[i] + kAliasCa[i] * kAliasCa[i], 1.0, 1e-6);
        EXPECT_LT(kAliasCa[i], 0.0f);
    }
    EXPECT_FLOAT_EQ(kAliasCs[0], static_cast<float>(1 / std::sqrt(1 + 0.36)));
    EXPECT_FLOAT_EQ(kDctCosTable[0], 1.9975909f);
    EXPECT_FLOAT_EQ(kDctCosTable[15], static_cast<float>(std::sqrt(2.0)));
    EXPECT_NEAR(kDctCosTable[30], 0.0981354f, 1e-7);
    const float ratio[8] = {1.0f, 0.78867513f, 0.63397461f, 0.5f, 0.36602542f, 0.21132487f, 0.0f, 0.0f};
    for (int p = 0; p < 8; ++p) EXPECT_NEAR(kIntensityRatioTable[p], ratio[p], 1e-7) << p;
    for (int k = 0; k < 16; ++k) {
        EXPECT_NEAR(kLsfIntensityTable[0][k], std::pow(2.0, -k / 4.0), 5e-6);
        EXPECT_NEAR(kLsfIntensityTable[1][k], std::pow(2.0, -k / 2.0), 5e-6);
        EXPECT_EQ(kLsfIntensityTable[0][16 + k], 0.0f);
    }
}

TEST(SynthesisWindow, TransposedLayoutOfTheIsoWindow) {
    // Row j holds D[32 i + j]; D[0] = 0, D[1] = -1/65536, the peak D[256] = 75038/65536.
    EXPECT_EQ(kSynthesisWindowUnscaled[0], 0.0f);
    EXPECT_EQ(kSynthesisWindowUnscaled[1 * 16 + 0], -1.0f / 65536);
    EXPECT_EQ(kSynthesisWindowUnscaled[0 * 16 + 8], 75038.0f / 65536);
    // The window is odd-symmetric: D[512 - i] = -D[i] away from multiples of 64,
    // read through the transposed index i = 32 tap + j.
    auto d = [](int i) { return kSynthesisWindowUnscaled[(i % 32) * 16 + i / 32]; };
    for (int i = 1; i < 256; ++i) {
        if (i % 64 != 0) {
            EXPECT_EQ(d(512 - i), -d(i)) << i;
        }
    }
}

TEST(StreamTables, RatesAndBitrates) {
    EXPECT_EQ(kSamplingRateTable[1 * 3 + 0], 44100);
    EXPECT_EQ(kSamplingRateTable[0 * 3 + 2], 16000);
    EXPECT_EQ(kSamplingRateTable[6 + 0], 11025);  // MPEG 2.5
    EXPECT_EQ(kSamplingRateTable[6 + 1], 12000);
    EXPECT_EQ(kSamplingRateTable[6 + 2], 8000);
    EXPECT_EQ(kBitrateTable[1][2][9], 128);
    EXPECT_EQ(kBitrateTable[1][2][14], 320);
    EXPECT_EQ(kBitrateTable[0][2][14], 160);
    EXPECT_EQ(kBitrateTable[1][2][0], 0);
    EXPECT_EQ(kBitrateTable[1][2][15], 0);
    EXPECT_EQ(kSideInfoBytes[1][0], 32);
    EXPECT_EQ(kSideInfoBytes[1][1], 17);
    EXPECT_EQ(kSideInfoBytes[0][0], 17);
    EXPECT_EQ(kSideInfoBytes[0][1], 9);
}

}  // namespace
}  // namespace quv3
