#include <gtest/gtest.h>

#include <random>

#include "decoder/layer3/huffman.h"
#include "tests/support/huffman_code_lists.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

void PutCodeword(BitWriter& w, uint32_t entry) {
    const int len = static_cast<int>(CodeLength(entry));
    w.Put(entry >> (32 - len), len);
}

uint32_t EntryFor(int table, uint32_t x, uint32_t y) {
    const CodeTable& t = kCodeTables[table];
    for (int i = 0; i < t.count; ++i)
        if (CodeX(t.entries[i]) == x && CodeY(t.entries[i]) == y) return t.entries[i];
    ADD_FAILURE() << "no entry " << x << "," << y << " in table " << table;
    return 0;
}

// Every codeword of every table, followed by arbitrary bits, decodes to its own
// values and length: this proves the bucket search, not only the table data.
TEST(HuffmanDecode, EveryCodewordOfEveryTableDecodesToItsValues) {
    std::mt19937 rng(7);
    auto s = NewState();
    for (int t = 1; t < 34; ++t) {
        const CodeTable& table = kCodeTables[t];
        if (!table.entries) continue;
        for (int i = 0; i < table.count; ++i) {
            for (int trial = 0; trial < 4; ++trial) {
                BitWriter w;
                w.Put(static_cast<uint32_t>(rng()) & 7, 3);  // start off a byte boundary
                PutCodeword(w, table.entries[i]);
                w.Put(static_cast<uint32_t>(rng()), 32);
                LoadMainData(s->main_data, w);
                s->main_data.bit_pos = 3;
                int32_t x = -1, y = -1;
                const int32_t len = DecodeCodeword(s->main_data, t, x, y);
                ASSERT_EQ(len, static_cast<int32_t>(CodeLength(table.entries[i]))) << t << " entry " << i;
                EXPECT_EQ(x, static_cast<int32_t>(CodeX(table.entries[i])));
                EXPECT_EQ(y, static_cast<int32_t>(CodeY(table.entries[i])));
                EXPECT_EQ(s->main_data.bit_pos, 3 + len);
            }
        }
    }
}

TEST(HuffmanDecode, TableZeroReadsNothing) {
    auto s = NewState();
    BitWriter w;
    w.Put(0xFFFFFFFF, 32);
    LoadMainData(s->main_data, w);
    int32_t x = 9, y = 9;
    EXPECT_EQ(DecodeCodeword(s->main_data, 0, x, y), 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(s->main_data.bit_pos, 0);
}

struct Granule {
    std::unique_ptr<StageState> s;
    SideInfo& si() { return s->side_info; }
    const int32_t* q() { return s->quantized.QuantizedValues[0]; }
};

// A long granule of channel 0 with every region in one table and no region counts in the way.
Granule LongGranule(int big_values, int table, int count1_table, int part2_3_length, int sampling_frequency = 0,
                    int id = 1) {
    Granule g{NewState(id, sampling_frequency)};
    SideInfo& si = g.si();
    si.big_values[0][0] = big_values;
    si.table_select[0][0][0] = si.table_select[0][0][1] = si.table_select[0][0][2] = table;
    si.region0_count[0][0] = 15;
    si.region1_count[0][0] = 7;
    si.count1table_select[0][0] = count1_table;
    si.part2_3_length[0][0] = part2_3_length;
    for (int i = 0; i < 578; ++i) g.s->quantized.QuantizedValues[0][i] = 99;
    return g;
}

TEST(HuffmanDecode, Table1PairWithSignBit) {
    Granule g = LongGranule(1, 1, 0, 3);
    BitWriter w;
    w.PutString("01 1");
    LoadMainData(g.s->main_data, w);
    EXPECT_EQ(DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized), 0);
    EXPECT_EQ(g.q()[0], -1);
    EXPECT_EQ(g.q()[1], 0);
    EXPECT_EQ(g.s->quantized.decoded_line_count[0], 2);
    EXPECT_EQ(g.s->main_data.bit_pos, 3);
    for (int i = 2; i < 576; ++i) ASSERT_EQ(g.q()[i], 0);
}

TEST(HuffmanDecode, Count1TableBQuadruple) {
    Granule g = LongGranule(0, 0, 1, 6);
    BitWriter w;
    w.PutString("0101 1 0");
    LoadMainData(g.s->main_data, w);
    EXPECT_EQ(DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized), 0);
    EXPECT_EQ(g.q()[0], -1);
    EXPECT_EQ(g.q()[1], 0);
    EXPECT_EQ(g.q()[2], 1);
    EXPECT_EQ(g.q()[3], 0);
    EXPECT_EQ(g.s->quantized.decoded_line_count[0], 4);
    EXPECT_EQ(g.s->main_data.bit_pos, 6);
}

TEST(HuffmanDecode, LinbitsExtendFifteen) {
    // Table 24, linbits 4: x 15 + 9 = 24, then its sign; y 0 needs no sign.
    Granule g = LongGranule(1, 24, 0, 0);
    BitWriter w;
    const uint32_t e = EntryFor(24, 15, 0);
    PutCodeword(w, e);
    w.PutString("1001 1");
    const int bits = static_cast<int>(w.bits);
    g.si().part2_3_length[0][0] = bits;
    LoadMainData(g.s->main_data, w);
    EXPECT_EQ(DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized), 0);
    EXPECT_EQ(g.q()[0], -24);
    EXPECT_EQ(g.q()[1], 0);
    // Tables 13 and 15 have no linbits: 15 stays 15.
    for (int t : {13, 15}) {
        Granule h = LongGranule(1, t, 0, 0);
        BitWriter v;
        PutCodeword(v, EntryFor(t, 15, 1));
        v.PutString("0 1");
        h.si().part2_3_length[0][0] = static_cast<int>(v.bits);
        LoadMainData(h.s->main_data, v);
        EXPECT_EQ(DecodeSpectrum(h.s->main_data, h.s->side_info, h.s->bands, 0, 0, 0, h.s->quantized), 0) << t;
        EXPECT_EQ(h.q()[0], 15) << t;
        EXPECT_EQ(h.q()[1], -1) << t;
    }
}

TEST(HuffmanDecode, QuadrupleAtLine574FillsTheSpareSlots) {
    Granule g = LongGranule(287, 0, 1, 6);  // table 0 up to line 574, no bits
    BitWriter w;
    w.PutString("0101 1 0");
    LoadMainData(g.s->main_data, w);
    DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized);
    EXPECT_EQ(g.q()[574], -1);
    EXPECT_EQ(g.q()[575], 0);
    EXPECT_EQ(g.q()[576], 1);
    EXPECT_EQ(g.q()[577], 0);
    EXPECT_EQ(g.s->quantized.decoded_line_count[0], 576);
}

// Stuffing bits after the last count1 quadruple: the quadruple begun in them
// reads past the budget into the next granule's bits and is dropped.
TEST(HuffmanDecode, QuadrupleRunningPastTheBudgetIsDropped) {
    for (auto decode : {DecodeSpectrum, DecodeSpectrumBySearch}) {
        Granule g = LongGranule(1, 1, 1, 11);
        BitWriter w;
        // Pair "01 1" = (-1, 0); quadruple "0101 1 0" = (-1, 0, +1, 0); stuffing
        // "11", then the next granule's "01 0...": codeword 1101 (x = 1) and its
        // sign bit end 3 bits past the budget.
        w.PutString("01 1  0101 1 0  11  01 0 0000");
        LoadMainData(g.s->main_data, w);
        EXPECT_EQ(decode(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized), 3);
        const int32_t want[10] = {-1, 0, -1, 0, 1, 0, 0, 0, 0, 0};
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g.q()[i], want[i]) << "line " << i;
        EXPECT_EQ(g.s->quantized.decoded_line_count[0], 6);
        EXPECT_EQ(g.s->main_data.bit_pos, 11);
    }
}

TEST(HuffmanDecode, LeftoverBitsAreSkipped) {
    Granule g = LongGranule(288, 0, 0, 20);
    LoadMainData(g.s->main_data, BitWriter{});
    EXPECT_EQ(DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized), -20);
    EXPECT_EQ(g.s->quantized.decoded_line_count[0], 576);
    EXPECT_EQ(g.s->main_data.bit_pos, 20);
    // Budget used up exactly at line 300: the rest is zero and the position stays.
    Granule h = LongGranule(150, 0, 0, 0);
    LoadMainData(h.s->main_data, BitWriter{});
    EXPECT_EQ(DecodeSpectrum(h.s->main_data, h.s->side_info, h.s->bands, 0, 0, 0, h.s->quantized), 0);
    EXPECT_EQ(h.s->quantized.decoded_line_count[0], 300);
    EXPECT_EQ(h.s->main_data.bit_pos, 0);
    for (int i = 300; i < 576; ++i) ASSERT_EQ(h.q()[i], 0);
    // Scale-factor bits beyond part2_3_length make a negative budget: count1 does not run.
    Granule n = LongGranule(0, 0, 0, 10);
    LoadMainData(n.s->main_data, BitWriter{});
    n.s->main_data.bit_pos = 40;
    EXPECT_EQ(DecodeSpectrum(n.s->main_data, n.s->side_info, n.s->bands, 0, 0, 12, n.s->quantized), 2);  // nothing read, budget -2
    EXPECT_EQ(n.s->main_data.bit_pos, 38);
    EXPECT_EQ(n.s->quantized.decoded_line_count[0], 0);
}

TEST(HuffmanRegions, LongBlockBoundariesFromTheRegionCounts) {
    Granule g = LongGranule(100, 1, 0, 0);
    g.si().region0_count[0][0] = 7;
    g.si().region1_count[0][0] = 3;
    int32_t b[3];
    RegionBounds(g.s->side_info, g.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 36);
    EXPECT_EQ(b[1], 74);
    EXPECT_EQ(b[2], 200);
    g.si().big_values[0][0] = 10;  // region 0 would end past bv2: every region ends there
    RegionBounds(g.s->side_info, g.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 20);
    EXPECT_EQ(b[1], 20);
    EXPECT_EQ(b[2], 20);
}

TEST(HuffmanRegions, WindowSwitchingUsesFixedBoundaries) {
    Granule g = LongGranule(200, 1, 0, 0);
    SideInfo& si = g.si();
    si.window_switching_flag[0][0] = 1;
    si.block_type[0][0] = 2;
    int32_t b[3];
    RegionBounds(g.s->side_info, g.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 36);  // 3 x 12
    EXPECT_EQ(b[1], 400);
    EXPECT_EQ(b[2], 400);
    si.mixed_block_flag[0][0] = 1;
    RegionBounds(g.s->side_info, g.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 36);  // 35 + 1
    Granule l = LongGranule(200, 1, 0, 0, 0, 0);  // 22.05 kHz
    l.si().window_switching_flag[0][0] = 1;
    l.si().block_type[0][0] = 1;
    RegionBounds(l.s->side_info, l.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 54);
    l.si().block_type[0][0] = 2;
    RegionBounds(l.s->side_info, l.s->bands, 0, 0, b);
    EXPECT_EQ(b[0], 36);
}

// Values the standard does not allow: nothing outside the rows is written or read.
TEST(HuffmanMalformed, OutOfRangeSideInformationStaysInBounds) {
    std::mt19937 rng(3);
    BitWriter noise;
    for (int i = 0; i < 1000; ++i) noise.Put(static_cast<uint32_t>(rng()), 32);
    {
        Granule g = LongGranule(511, 15, 0, 4095);  // big_values far above 288
        LoadMainData(g.s->main_data, noise);
        DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized);
        EXPECT_EQ(g.s->quantized.decoded_line_count[0], 576);
        EXPECT_EQ(g.s->main_data.bit_pos, 4095);
    }
    for (int t : {4, 14}) {
        Granule g = LongGranule(50, t, 0, 0);  // no such table: zeros, no bits
        LoadMainData(g.s->main_data, noise);
        DecodeSpectrum(g.s->main_data, g.s->side_info, g.s->bands, 0, 0, 0, g.s->quantized);
        for (int i = 0; i < 576; ++i) ASSERT_EQ(g.q()[i], 0) << t;
        EXPECT_EQ(g.s->main_data.bit_pos, 0);
    }
    {
        Granule g = LongGranule(288, 1, 0, 0);
        g.si().region0_count[0][0] = 15;
        g.si().region1_count[0][0] = 7;  // region 1 would end past band 21
        int32_t b[3];
        RegionBounds(g.s->side_info, g.s->bands, 0, 0, b);
        EXPECT_EQ(b[0], g.s->bands.LongBandEnds[15] + 1);
        EXPECT_EQ(b[1], 576);
        EXPECT_EQ(b[2], 576);
    }
}

// The lookup-table decoder against the codeword-by-codeword bucket search on
// random bits with random side information: every table (4 and 14 included),
// linbits escapes, budgets that end early or late, data straddling the ring end.
TEST(HuffmanDecode, LookupTablesAgreeWithTheBucketSearch) {
    std::mt19937 rng(11);
    auto base = NewState();
    auto fast = NewState();
    auto search = NewState();
    for (int trial = 0; trial < 4000; ++trial) {
        for (int i = 0; i < kRingBytes; ++i) base->main_data.bytes[i] = static_cast<uint8_t>(rng());
        for (int i = 0; i < kRingMirror; ++i) base->main_data.bytes[kRingBytes + i] = base->main_data.bytes[i];
        base->main_data.bit_pos = static_cast<int32_t>(rng() % kRingBits);
        SideInfo& si = base->side_info;
        si.big_values[0][0] = static_cast<int32_t>(rng() % 300);
        for (int k = 0; k < 3; ++k) si.table_select[0][0][k] = static_cast<int32_t>(rng() % 32);
        si.region0_count[0][0] = static_cast<int32_t>(rng() % 16);
        si.region1_count[0][0] = static_cast<int32_t>(rng() % 8);
        si.window_switching_flag[0][0] = rng() % 4 == 0;
        si.block_type[0][0] = si.window_switching_flag[0][0] ? static_cast<int32_t>(1 + rng() % 3) : 0;
        si.mixed_block_flag[0][0] = static_cast<int32_t>(rng() % 2);
        si.count1table_select[0][0] = static_cast<int32_t>(rng() % 2);
        si.part2_3_length[0][0] = static_cast<int32_t>(rng() % 4096);
        const int32_t part2 = static_cast<int32_t>(rng() % 100);
        *fast = *base;
        *search = *base;
        const int32_t over_fast = DecodeSpectrum(fast->main_data, fast->side_info, fast->bands, 0, 0, part2, fast->quantized);
        const int32_t over_search = DecodeSpectrumBySearch(search->main_data, search->side_info, search->bands, 0, 0, part2,
                                                           search->quantized);
        ASSERT_EQ(over_fast, over_search) << "trial " << trial;
        ASSERT_EQ(fast->main_data.bit_pos, search->main_data.bit_pos) << "trial " << trial;
        ASSERT_EQ(fast->quantized.decoded_line_count[0], search->quantized.decoded_line_count[0]) << "trial " << trial;
        for (int i = 0; i < 578; ++i)
            ASSERT_EQ(fast->quantized.QuantizedValues[0][i], search->quantized.QuantizedValues[0][i]) << "trial " << trial << " line " << i;
    }
}

}  // namespace
}  // namespace quv3::test
