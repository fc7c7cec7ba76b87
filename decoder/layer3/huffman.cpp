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

}  // namespace

int32_t DecodeCodeword(MainDataBuffer& m, int table, int32_t& x_out, int32_t& y_out) {
    const uint32_t found = FindEntry(table, PeekMainDataWindow(m));
    if (found == 0 && table != 0) return -1;
    const int32_t len = static_cast<int32_t>(CodeLength(found));
    SkipMainDataBits(m, len);
    x_out = static_cast<int32_t>(CodeX(found));
    y_out = static_cast<int32_t>(CodeY(found));
    return len;
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

namespace {

// How both decoders end a granule and channel. Encoders may leave stuffing
// bits after the last count1 quadruple; the quadruple begun in them runs past
// the budget and is dropped, as the ISO reference decoder does (count1_start is
// where the count1 region began). Then land exactly on the part2_3_length
// boundary, over leftover bits or back over bits read beyond the budget, and
// clear the lines above the decoded ones.
int32_t FinishSpectrum(DecoderState& s, int ch, int32_t pos, int32_t count1_start, int32_t used, int32_t budget) {
    if (used > budget && pos > count1_start) pos -= 4;
    if (used != budget) SkipMainDataBits(s.main_data, budget - used);
    if (pos > 576) pos = 576;
    s.DecodedLineCount[ch] = pos;
    int32_t* q = s.QuantizedValues[ch];
    for (int32_t i = pos; i < 576; ++i) q[i] = 0;
    return used - budget;
}

}  // namespace

// Codeword by codeword through the bucket search, linbits and sign bits read
// one field at a time.
int32_t DecodeSpectrumBySearch(DecoderState& s, int gr, int ch, int32_t part2_bits) {
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
        const int linbits = kLinbitsTable[t];
        for (; pos < end; pos += 2) {
            int32_t x = 0, y = 0;
            // Tables 4 and 14 name no table: their pairs are zeros and read no bits,
            // like table 0's. A failed lookup (impossible with complete prefix
            // codes) reads a zero pair too.
            if (kCodeTables[t].entries != nullptr) {
                const int32_t len = DecodeCodeword(m, t, x, y);
                if (len < 0) {
                    x = y = 0;
                } else {
                    used += len;
                }
            }
            if (x == 15 && linbits > 0) {
                x += static_cast<int32_t>(ReadMainDataBits(m, linbits));
                used += linbits;
            }
            if (x != 0) {
                if (ReadMainDataBits(m, 1)) x = -x;
                ++used;
            }
            if (y == 15 && linbits > 0) {
                y += static_cast<int32_t>(ReadMainDataBits(m, linbits));
                used += linbits;
            }
            if (y != 0) {
                if (ReadMainDataBits(m, 1)) y = -y;
                ++used;
            }
            q[pos] = x;
            q[pos + 1] = y;
        }
    }

    const int c1 = 32 + (si.count1table_select[gr][ch] & 1);
    const int32_t count1_start = pos;
    while (used < budget && pos < 576) {
        int32_t quad, unused;
        const int32_t len = DecodeCodeword(m, c1, quad, unused);
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
    return FinishSpectrum(s, ch, pos, count1_start, used, budget);
}

#if defined(QUV3_SCALAR_REFERENCE)

void PrepareHuffmanLookup() {}
bool HuffmanLookupComplete() { return true; }

int32_t DecodeSpectrum(DecoderState& s, int gr, int ch, int32_t part2_bits) {
    return DecodeSpectrumBySearch(s, gr, ch, part2_bits);
}

#else

namespace {

// Lookup tables derived once from the sorted code tables, giving for every
// input exactly the entry the bucket search finds, with the sign bits it
// implies counted in.
//
// Pair tables: a 256-entry root indexed by the next 8 bits. A leaf holds
//   bits 0-3 y, 4-7 x, 8-12 codeword length, 13 x nonzero, 14 y nonzero,
//   15 linbits follow (x or y is 15 in a table with linbits), 16-20 codeword
//   length plus sign bits;
// a link (bit 31) names a subtable of the pool: bits 0-15 its offset, 16-19
// the bits that index it, 20-24 the codeword bits already used.
constexpr uint32_t kLink = 1u << 31;
constexpr uint32_t kNonZeroX = 1u << 13;
constexpr uint32_t kNonZeroY = 1u << 14;
constexpr uint32_t kLinbitsFollow = 1u << 15;
constexpr int kRootBits = 8;
constexpr int kMaxSubtableBits = 8;
constexpr int kPoolSize = 6144;

uint32_t g_pair_pool[kPoolSize];
int32_t g_pair_root[32];  // offset of each table number's root in the pool; -1 for none
int32_t g_pool_used;

// Count1 tables: indexed by the next 10 bits (codeword of at most 6 bits and up
// to 4 sign bits): bits 0-3 the bits used, then v, w, x, y as value + 1 in two
// bits each from bit 4 up.
uint32_t g_count1_lookup[2][1024];

uint32_t LeafFor(uint32_t e, bool has_linbits) {
    const uint32_t len = CodeLength(e), x = CodeX(e), y = CodeY(e);
    uint32_t leaf = (e & 0xFF) | (len << 8) | ((len + (x != 0) + (y != 0)) << 16);
    if (x != 0) leaf |= kNonZeroX;
    if (y != 0) leaf |= kNonZeroY;
    if (has_linbits && (x == 15 || y == 15)) leaf |= kLinbitsFollow;
    return leaf;
}

// The (sub)table for the codewords that start with the prefix_len bits of
// prefix, indexed by the next bits bits; returns its pool offset or -1.
int32_t BuildSubtable(int table, uint32_t prefix, int prefix_len, int bits, bool has_linbits) {
    const int32_t at = g_pool_used;
    const int32_t size = 1 << bits;
    if (at + size > kPoolSize) return -1;
    g_pool_used += size;
    const CodeTable& t = kCodeTables[table];
    for (int32_t i = 0; i < size; ++i) {
        const int len = prefix_len + bits;
        const uint32_t path = (prefix << bits) | static_cast<uint32_t>(i);
        const uint32_t e = FindEntry(table, path << (32 - len));
        if (CodeLength(e) <= static_cast<uint32_t>(len)) {
            g_pair_pool[at + i] = LeafFor(e, has_linbits);
            continue;
        }
        // Longer codewords share these len bits: index them by the bits that
        // follow, as many as the longest needs, at most kMaxSubtableBits.
        int longest = 0;
        for (int k = 0; k < t.count; ++k) {
            const int l = static_cast<int>(CodeLength(t.entries[k]));
            if (l > len && (t.entries[k] >> (32 - len)) == path && l > longest) longest = l;
        }
        const int sub_bits = longest - len < kMaxSubtableBits ? longest - len : kMaxSubtableBits;
        const int32_t sub = BuildSubtable(table, path, len, sub_bits, has_linbits);
        if (sub < 0) return -1;
        g_pair_pool[at + i] = kLink | static_cast<uint32_t>(sub) | (static_cast<uint32_t>(sub_bits) << 16) |
                              (static_cast<uint32_t>(len) << 20);
    }
    return at;
}

__attribute__((always_inline)) inline uint32_t LookupPair(int32_t root, uint64_t w) {
    uint32_t e = g_pair_pool[root + static_cast<int32_t>(w >> (64 - kRootBits))];
    while (e & kLink) {
        const uint32_t done = (e >> 20) & 31, bits = (e >> 16) & 15;
        e = g_pair_pool[(e & 0xFFFF) + static_cast<uint32_t>((w << done) >> (64 - bits))];
    }
    return e;
}

// Pairs from pos up to end with one table. The bits come from a 64-bit window
// holding at least 57 valid bits when loaded; it is reloaded whenever fewer
// bits than the longest pair could need are left. Without linbits a pair takes
// at most 19 + 2 bits, and its signs are applied without branches.
template <bool kLinbits>
__attribute__((always_inline)) inline int32_t DecodePairs(MainDataBuffer& m, int32_t root, int linbits, int32_t* q,
                                                          int32_t pos, int32_t end) {
    constexpr int kLongestPair = kLinbits ? 19 + 2 * (13 + 1) : 19 + 2;
    uint32_t bit = static_cast<uint32_t>(m.bit_pos);
    uint64_t w = PeekMainData64(m, bit);
    int avail = 64 - static_cast<int>(bit & 7);
    int32_t used = 0;
    for (; pos < end; pos += 2) {
        if (avail < kLongestPair) {
            w = PeekMainData64(m, bit);
            avail = 64 - static_cast<int>(bit & 7);
        }
        const uint32_t e = LookupPair(root, w);
        int32_t x = static_cast<int32_t>(CodeX(e)), y = static_cast<int32_t>(CodeY(e));
        int n;
        if (kLinbits && (e & kLinbitsFollow)) {
            n = static_cast<int>(CodeLength(e));
            uint64_t t = w << n;
            if (x == 15) {
                x += static_cast<int32_t>(t >> (64 - linbits));
                t <<= linbits;
                n += linbits;
            }
            if (x != 0) {
                if (t >> 63) x = -x;
                t <<= 1;
                ++n;
            }
            if (y == 15) {
                y += static_cast<int32_t>(t >> (64 - linbits));
                t <<= linbits;
                n += linbits;
            }
            if (y != 0) {
                if (t >> 63) y = -y;
                ++n;
            }
        } else {
            const uint64_t t = w << CodeLength(e);
            const int32_t nzx = (e & kNonZeroX) ? 1 : 0, nzy = (e & kNonZeroY) ? 1 : 0;
            const int32_t sx = static_cast<int32_t>(t >> 63) & nzx;
            const int32_t sy = static_cast<int32_t>((t << nzx) >> 63) & nzy;
            x = (x ^ -sx) + sx;
            y = (y ^ -sy) + sy;
            n = static_cast<int>((e >> 16) & 31);
        }
        q[pos] = x;
        q[pos + 1] = y;
        w <<= n;
        avail -= n;
        bit = (bit + static_cast<uint32_t>(n)) & (kRingBits - 1);
        used += n;
    }
    m.bit_pos = static_cast<int32_t>(bit);
    return used;
}

}  // namespace

void PrepareHuffmanLookup() {
    g_pool_used = 0;
    for (int t = 0; t < 32; ++t) {
        g_pair_root[t] = -1;
        if (kCodeTables[t].entries == nullptr || t == 0) continue;
        // Tables that share their codes (16..23, 24..31) share the lookup too.
        for (int u = 1; u < t; ++u) {
            if (kCodeTables[u].entries == kCodeTables[t].entries) g_pair_root[t] = g_pair_root[u];
        }
        if (g_pair_root[t] < 0) g_pair_root[t] = BuildSubtable(t, 0, 0, kRootBits, kLinbitsTable[t] > 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (uint32_t i = 0; i < 1024; ++i) {
            const uint32_t e = FindEntry(32 + c, i << 22);
            const uint32_t quad = CodeX(e);
            uint32_t n = CodeLength(e), entry = 0;
            for (int b = 3; b >= 0; --b) {
                uint32_t v = 1;  // value + 1
                if ((quad >> b) & 1) {
                    v = ((i >> (9 - n)) & 1) ? 0 : 2;
                    ++n;
                }
                entry |= v << (4 + 2 * (3 - b));
            }
            g_count1_lookup[c][i] = entry | n;
        }
    }
}

bool HuffmanLookupComplete() {
    for (int t = 1; t < 32; ++t) {
        if (kCodeTables[t].entries != nullptr && g_pair_root[t] < 0) return false;
    }
    return true;
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
        const int32_t root = g_pair_root[t];
        if (root < 0) {
            // Table 0 codes all-zero pairs without bits; 4 and 14 name no table
            // and are decoded the same way.
            for (; pos < end; pos += 2) q[pos] = q[pos + 1] = 0;
            continue;
        }
        const int linbits = kLinbitsTable[t];
        used += linbits > 0 ? DecodePairs<true>(m, root, linbits, q, pos, end)
                            : DecodePairs<false>(m, root, 0, q, pos, end);
        pos += (end - pos + 1) & ~1;
    }

    // Count1 quadruples: a codeword of at most 6 bits and up to 4 sign bits,
    // from a 64-bit window reloaded when fewer than 10 bits are left in it.
    const uint32_t* c1 = g_count1_lookup[si.count1table_select[gr][ch] & 1];
    const int32_t count1_start = pos;
    uint32_t bit = static_cast<uint32_t>(m.bit_pos);
    uint64_t w = PeekMainData64(m, bit);
    int avail = 64 - static_cast<int>(bit & 7);
    while (used < budget && pos < 576) {
        if (avail < 10) {
            w = PeekMainData64(m, bit);
            avail = 64 - static_cast<int>(bit & 7);
        }
        const uint32_t e = c1[w >> 54];
        const int32_t n = static_cast<int32_t>(e & 15);
        w <<= n;
        avail -= n;
        q[pos] = static_cast<int32_t>((e >> 4) & 3) - 1;
        q[pos + 1] = static_cast<int32_t>((e >> 6) & 3) - 1;
        q[pos + 2] = static_cast<int32_t>((e >> 8) & 3) - 1;
        q[pos + 3] = static_cast<int32_t>((e >> 10) & 3) - 1;
        bit = (bit + static_cast<uint32_t>(n)) & (kRingBits - 1);
        used += n;
        pos += 4;
    }
    m.bit_pos = static_cast<int32_t>(bit);
    return FinishSpectrum(s, ch, pos, count1_start, used, budget);
}

#endif

}  // namespace quv3
