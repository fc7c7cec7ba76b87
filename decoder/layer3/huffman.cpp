#include "decoder/layer3/layer3.h"
#include "decoder/tables/huffman_tables.h"

namespace quv3 {
namespace {

// The top L bits of entry e equal the top L bits of window w (L = 0 always matches).
bool CodewordMatches(uint32_t e, uint32_t w) {
    const uint32_t len = CodeLength(e);
    if (len == 0) return true;
    return ((e ^ w) >> (32 - len)) == 0;
}

// For each table and 8-bit prefix, the entry when its codeword has at most 8
// bits (the prefix then decides it alone), else 0. Derived from the sorted
// entries by the search below, so both give the same entry for every input.
uint32_t g_short_codes[34][256];

// Finds the entry whose codeword prefixes the window's bits: a 16-way bucket on
// the first four bits, then a bisection inside the bucket. 0 when none is found.
uint32_t FindEntry(int table, uint32_t w) {
    const CodeTable& t = kCodeTables[table];
    const uint32_t* e = t.entries;
    const uint32_t v = w >> 28;
    const int32_t first = kBucketIndex[table][v];
    uint32_t found = e[first];
    if (!CodewordMatches(found, w)) {
        if (v == 15) return 0;
        const int32_t n = kBucketIndex[table][v + 1] - first;
        const uint32_t key = (w & ~0x1FFFu) | 0x1FFu;
        int32_t r = first + n / 2;
        int32_t span = n - n / 2;
        while (span > 1) {
            const int32_t h = span / 2;
            if (e[r] < key) {
                r += h;
            } else {
                r -= h;
            }
            span -= h;
        }
        found = e[r];
        if (!CodewordMatches(found, w)) found = e[r] <= key ? e[r + 1] : e[r - 1];
    }
    return found;
}

// The entry found, its values stored and its length consumed.
inline int32_t TakeEntry(MainDataBuffer& m, uint32_t found, int32_t& x_out, int32_t& y_out) {
    const int32_t len = static_cast<int32_t>(CodeLength(found));
    SkipMainDataBits(m, len);
    x_out = static_cast<int32_t>(CodeX(found));
    y_out = static_cast<int32_t>(CodeY(found));
    return len;
}

}  // namespace

void PrepareHuffmanLookup() {
    for (int t = 1; t < 34; ++t) {
        if (kCodeTables[t].entries == nullptr) continue;
        for (uint32_t prefix = 0; prefix < 256; ++prefix) {
            const uint32_t e = FindEntry(t, prefix << 24);
            g_short_codes[t][prefix] = e != 0 && CodeLength(e) <= 8 ? e : 0;
        }
    }
}

namespace {

// Codewords of up to 8 bits come from the prefix table; longer ones from the search.
__attribute__((always_inline)) inline int32_t DecodeCodewordInline(MainDataBuffer& m, int table, int32_t& x_out,
                                                                   int32_t& y_out) {
    const uint32_t w = PeekMainDataWindow(m);
    const uint32_t quick = g_short_codes[table][w >> 24];
    if (quick != 0) return TakeEntry(m, quick, x_out, y_out);
    const uint32_t found = FindEntry(table, w);
    if (found == 0 && table != 0) return -1;
    return TakeEntry(m, found, x_out, y_out);
}

}  // namespace

int32_t DecodeCodeword(MainDataBuffer& m, int table, int32_t& x_out, int32_t& y_out) {
    return DecodeCodewordInline(m, table, x_out, y_out);
}

void RegionBounds(const DecoderState& s, int gr, int ch, int32_t b[3]) {
    const SideInfo& si = s.side_info;
    // big_values above 288 would run past line 575: the region ends at 576.
    int32_t bv2 = 2 * si.big_values[gr][ch];
    if (bv2 > 576) bv2 = 576;
    if (si.window_switching_flag[gr][ch] || si.block_type[gr][ch]) {
        const bool pure_short = si.block_type[gr][ch] == 2 && !si.mixed_block_flag[gr][ch];
        b[0] = pure_short ? 3 * (s.ShortBandEnds[2] + 1) : s.LongBandEnds[7] + 1;
        if (b[0] > bv2) b[0] = bv2;
        b[1] = b[2] = bv2;
        return;
    }
    const int32_t r0 = si.region0_count[gr][ch];
    b[0] = s.LongBandEnds[r0] + 1;
    if (b[0] > bv2) {
        b[0] = b[1] = b[2] = bv2;
        return;
    }
    // A region-1 end past the band table ends the region at 576, that is at bv2.
    int32_t idx = r0 + si.region1_count[gr][ch] + 1;
    if (idx > 21) idx = 21;
    b[1] = s.LongBandEnds[idx] + 1;
    if (b[1] > bv2) b[1] = bv2;
    b[2] = bv2;
}

int32_t DecodeSpectrum(DecoderState& s, int gr, int ch, int32_t part2_bits) {
    const SideInfo& si = s.side_info;
    MainDataBuffer& m = s.main_data;
    int32_t* q = s.QuantizedValues[ch];
    const int32_t budget = si.part2_3_length[gr][ch] - part2_bits;
    int32_t used = 0;
    int32_t pos = 0;
    int32_t bounds[3];
    RegionBounds(s, gr, ch, bounds);

    for (int k = 0; k < 3; ++k) {
        const int t = si.table_select[gr][ch][k];
        const int32_t end = bounds[k];
        if (pos >= end) continue;
        if (kCodeTables[t].entries == nullptr || t == 0) {
            // Table 0 codes all-zero pairs without bits; 4 and 14 name no table and
            // are decoded the same way.
            for (; pos < end; pos += 2) q[pos] = q[pos + 1] = 0;
            continue;
        }
        const int linbits = kLinbitsTable[t];
        // One 64-bit window per pair: the codeword, linbits and sign bits
        // (at most 19 + 2 x 14 bits) all lie within its 57 valid bits.
        uint32_t bit = static_cast<uint32_t>(m.bit_pos);
        for (; pos < end; pos += 2) {
            uint64_t w = PeekMainData64(m, bit);
            uint32_t e = g_short_codes[t][w >> 56];
            if (e == 0) e = FindEntry(t, static_cast<uint32_t>(w >> 32));
            // A failed lookup (impossible with complete prefix codes) reads a zero pair.
            const int len = static_cast<int>(CodeLength(e));
            int32_t x = static_cast<int32_t>(CodeX(e)), y = static_cast<int32_t>(CodeY(e));
            w <<= len;
            int32_t n = len;
            if (x == 15 && linbits > 0) {
                x += static_cast<int32_t>(w >> (64 - linbits));
                w <<= linbits;
                n += linbits;
            }
            if (x != 0) {
                if (w >> 63) x = -x;
                w <<= 1;
                ++n;
            }
            if (y == 15 && linbits > 0) {
                y += static_cast<int32_t>(w >> (64 - linbits));
                w <<= linbits;
                n += linbits;
            }
            if (y != 0) {
                if (w >> 63) y = -y;
                ++n;
            }
            bit = (bit + static_cast<uint32_t>(n)) & (kRingBits - 1);
            used += n;
            q[pos] = x;
            q[pos + 1] = y;
        }
        m.bit_pos = static_cast<int32_t>(bit);
    }

    const int c1 = 32 + (si.count1table_select[gr][ch] & 1);
    while (used < budget && pos < 576) {
        int32_t quad, unused;
        const int32_t len = DecodeCodewordInline(m, c1, quad, unused);
        if (len < 0) break;
        used += len;
        for (int bit = 3; bit >= 0; --bit) {
            int32_t v = 0;
            if ((quad >> bit) & 1) {
                v = ReadMainDataBits(m, 1) ? -1 : 1;
                used += 1;
            }
            q[pos + 3 - bit] = v;
        }
        pos += 4;
    }

    // Land exactly on the part2_3_length boundary, over leftover bits or back
    // over bits read beyond the budget.
    if (used != budget) SkipMainDataBits(m, budget - used);
    if (pos > 576) pos = 576;
    s.DecodedLineCount[ch] = pos;
    for (int32_t i = pos; i < 576; ++i) q[i] = 0;
    return used - budget;
}

}  // namespace quv3
