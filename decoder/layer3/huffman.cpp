#include "decoder/layer3/huffman.h"

#include <array>

#include "decoder/tables/huffman_tables.h"

namespace quv3 {

void RegionBounds(const SideInfo& si, const BandLayout& bands, int gr, int ch, int32_t b[3]) {
    // big_values above 288 would run past line 575: the region ends at 576.
    int32_t bv2 = 2 * si.big_values[gr][ch];
    if (bv2 > 576) bv2 = 576;
    // The side information reader gives long blocks block_type 0.
    if (si.window_switching_flag[gr][ch]) {
        const bool pure_short = BlockKindOf(si, gr, ch) == BlockKind::kShort;
        b[0] = pure_short ? 3 * (bands.ShortBandEnds[2] + 1) : bands.LongBandEnds[7] + 1;
        if (b[0] > bv2) b[0] = bv2;
        b[1] = b[2] = bv2;
        return;
    }
    const int32_t r0 = si.region0_count[gr][ch];
    b[0] = bands.LongBandEnds[r0] + 1;
    if (b[0] > bv2) {
        b[0] = b[1] = b[2] = bv2;
        return;
    }
    // A region-1 end past the band table ends the region at 576, that is at bv2.
    int32_t idx = r0 + si.region1_count[gr][ch] + 1;
    if (idx > 21) idx = 21;
    b[1] = bands.LongBandEnds[idx] + 1;
    if (b[1] > bv2) b[1] = bv2;
    b[2] = bv2;
}

namespace {

// The fields of a pair lookup entry (huffman_tables.h): its x and y values and
// codeword length; the test oracle's code lists pack theirs otherwise.
constexpr uint32_t LookupX(uint32_t e) { return (e >> 12) & 0xF; }
constexpr uint32_t LookupY(uint32_t e) { return (e >> 8) & 0xF; }
constexpr uint32_t LookupLength(uint32_t e) { return (e >> 16) & 0x1F; }
// Codeword and sign bits: the window shifts by the entry's lowest bits alone.
constexpr uint32_t PairBits(uint32_t e) { return e & 63; }

// The values of a count1 quadruple by its entry's four 2-bit fields (value + 1).
constexpr auto kQuadValues = [] {
    std::array<std::array<int32_t, 4>, 256> t{};
    for (int i = 0; i < 256; ++i)
        for (int k = 0; k < 4; ++k) t[i][k] = ((i >> (2 * k)) & 3) - 1;
    return t;
}();

// A 64-bit window on the reservoir's bits, loaded at bit with `loaded` valid
// bits, `avail` of them not yet taken. The bits taken are counted only when the
// window moves on: while it lasts, decoding just shifts w and lowers avail.
struct BitWindow {
    uint64_t w;
    uint32_t bit;
    int loaded, avail;
};

__attribute__((always_inline)) inline BitWindow OpenWindow(const MainDataBuffer& m, uint32_t bit) {
    const int loaded = 64 - static_cast<int>(bit & 7);
    return {PeekMainData64(m, bit), bit, loaded, loaded};
}

// The window moved past its bits taken; returns how many those were.
__attribute__((always_inline)) inline int32_t ReloadWindow(const MainDataBuffer& m, BitWindow& b) {
    const int32_t taken = b.loaded - b.avail;
    b = OpenWindow(m, (b.bit + static_cast<uint32_t>(taken)) & (kRingBits - 1));
    return taken;
}

// The reader left after the window's bits taken; returns how many those were.
__attribute__((always_inline)) inline int32_t CloseWindow(MainDataBuffer& m, const BitWindow& b) {
    const int32_t taken = b.loaded - b.avail;
    m.bit_pos = static_cast<int32_t>((b.bit + static_cast<uint32_t>(taken)) & (kRingBits - 1));
    return taken;
}

// root: the table's first-level entries, so that the lookup on the pairs'
// dependency chain is one shift and one load.
__attribute__((always_inline)) inline uint32_t LookupPair(const uint32_t* root, uint64_t w) {
    uint32_t e = root[w >> (64 - kLookupRootBits)];
    while (e & kLookupLink) {
        const uint32_t done = (e >> 20) & 31, bits = (e >> 16) & 15;
        e = kPairLookup[(e & 0xFFFF) + static_cast<uint32_t>((w << done) >> (64 - bits))];
    }
    return e;
}

// Pairs from pos up to end with one table. The bits come from a 64-bit window
// holding at least 57 valid bits when loaded; it is reloaded whenever fewer
// bits than the longest pair could need are left. Without linbits a pair
// takes at most 19 + 2 bits, and its signs are applied without branches.
template <bool kLinbits>
__attribute__((always_inline)) inline int32_t DecodePairs(MainDataBuffer& m, const uint32_t* root, int linbits,
                                                          int32_t* q, int32_t pos, int32_t end) {
    constexpr int kLongestPair = kLinbits ? 19 + 2 * (13 + 1) : 19 + 2;
    BitWindow b = OpenWindow(m, static_cast<uint32_t>(m.bit_pos));
    int32_t used = 0;
    for (; pos < end; pos += 2) {
        if (b.avail < kLongestPair) used += ReloadWindow(m, b);
        const uint64_t w = b.w;
        const uint32_t e = LookupPair(root, w);
        int32_t x = static_cast<int32_t>(LookupX(e)), y = static_cast<int32_t>(LookupY(e));
        int n;
        if (kLinbits && (e & kLookupLinbitsFollow)) {
            n = static_cast<int>(LookupLength(e));
            uint64_t t = w << n;
            // A 15 is extended by linbits, then a value other than 0 takes its sign bit.
            auto finish = [&](int32_t& v) {
                if (v == 15) {
                    v += static_cast<int32_t>(t >> (64 - linbits));
                    t <<= linbits;
                    n += linbits;
                }
                if (v != 0) {
                    if (t >> 63) v = -v;
                    t <<= 1;
                    ++n;
                }
            };
            finish(x);
            finish(y);
        } else {
            // x's sign bit, if x has one, follows the codeword, and y's follows
            // that; a sign applied to a 0 leaves it 0.
            const uint64_t t = w << LookupLength(e);
            const int32_t sx = static_cast<int32_t>(t >> 63);
            const int32_t sy = static_cast<int32_t>((t << ((e & kLookupNonZeroX) ? 1 : 0)) >> 63);
            x = (x ^ -sx) + sx;
            y = (y ^ -sy) + sy;
            n = static_cast<int>(PairBits(e));
        }
        q[pos] = x;
        q[pos + 1] = y;
        b.w <<= n;
        b.avail -= n;
    }
    return used + CloseWindow(m, b);
}

}  // namespace

// The codewords are found through lookup tables derived from the ISO code
// tables: the entry each bit string begins with, with the sign bits it implies
// counted in.
int32_t DecodeSpectrum(MainDataBuffer& m, const SideInfo& si, const BandLayout& bands, int gr, int ch,
                       int32_t part2_bits, QuantizedSpectrum& out) {
    int32_t* q = out.QuantizedValues[ch];
    const int32_t budget = si.part2_3_length[gr][ch] - part2_bits;
    int32_t used = 0;
    int32_t pos = 0;
    int32_t bounds[3];
    RegionBounds(si, bands, gr, ch, bounds);

    for (int k = 0; k < 3; ++k) {
        const int t = si.table_select[gr][ch][k];
        const int32_t end = bounds[k];
        if (pos >= end) continue;
        const int32_t root = kPairLookupRoot[t];
        if (root < 0) {
            // Table 0 codes all-zero pairs without bits; 4 and 14 name no table
            // and are decoded the same way.
            for (; pos < end; pos += 2) q[pos] = q[pos + 1] = 0;
            continue;
        }
        const int linbits = kLinbitsTable[t];
        const uint32_t* entries = &kPairLookup[root];
        used += linbits > 0 ? DecodePairs<true>(m, entries, linbits, q, pos, end)
                            : DecodePairs<false>(m, entries, 0, q, pos, end);
        pos += (end - pos + 1) & ~1;
    }

    // Count1 quadruples: a codeword of at most 6 bits and up to 4 sign bits,
    // from a 64-bit window reloaded when fewer than 10 bits are left in it.
    const auto& c1 = kCount1Lookup[si.count1table_select[gr][ch] & 1];
    const int32_t count1_start = pos;
    // While the window lasts, used < budget is avail > stop.
    BitWindow b = OpenWindow(m, static_cast<uint32_t>(m.bit_pos));
    int32_t stop = b.loaded - (budget - used);
    while (b.avail > stop && pos < 576) {
        if (b.avail < 10) {
            used += ReloadWindow(m, b);
            stop = b.loaded - (budget - used);
        }
        const uint32_t e = c1[b.w >> 54];
        const int32_t n = static_cast<int32_t>(e & 15);
        b.w <<= n;
        b.avail -= n;
        __builtin_memcpy(q + pos, kQuadValues[(e >> 4) & 255].data(), sizeof(int32_t) * 4);
        pos += 4;
    }
    used += CloseWindow(m, b);
    return FinishSpectrum(m, ch, pos, count1_start, used, budget, out);
}

// Encoders may leave stuffing bits after the last count1 quadruple; the
// quadruple begun in them runs past the budget and is dropped, as the ISO
// reference decoder does. The position then lands exactly on the
// part2_3_length boundary, over leftover bits or back over bits read beyond
// the budget, and the lines above the decoded ones are cleared.
int32_t FinishSpectrum(MainDataBuffer& m, int ch, int32_t pos, int32_t count1_start, int32_t used, int32_t budget,
                       QuantizedSpectrum& out) {
    if (used > budget && pos > count1_start) pos -= 4;
    if (used != budget) SkipMainDataBits(m, budget - used);
    if (pos > 576) pos = 576;
    out.decoded_line_count[ch] = pos;
    for (int32_t i = pos; i < 576; ++i) out.QuantizedValues[ch][i] = 0;
    return used - budget;
}

}  // namespace quv3
