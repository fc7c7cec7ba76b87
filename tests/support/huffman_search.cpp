// The bucket search over the sorted code lists: a 16-way bucket on the first
// four bits of a 32-bit window, then a bisection inside the bucket.
#include "decoder/layer3/huffman.h"
#include "tests/support/huffman_code_lists.h"

namespace quv3::test {
namespace {

// The top L bits of entry e equal the top L bits of window w (L = 0 always matches).
bool CodewordMatches(uint32_t e, uint32_t w) {
    const uint32_t len = CodeLength(e);
    if (len == 0) return true;
    return ((e ^ w) >> (32 - len)) == 0;
}

// The entry whose codeword prefixes the window's bits; 0 when none is found.
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

int32_t DecodeSpectrumBySearch(MainDataBuffer& m, const SideInfo& si, const BandLayout& bands, int gr, int ch,
                               int32_t part2_bits, QuantizedSpectrum& out) {
    int32_t* q = out.QuantizedValues[ch];
    const int32_t budget = si.part2_3_length[gr][ch] - part2_bits;
    int32_t used = 0;
    int32_t pos = 0;
    int32_t bounds[3];
    RegionBounds(si, bands, gr, ch, bounds);
    static constexpr int kLinbits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int k = 0; k < 3; ++k) {
        const int t = si.table_select[gr][ch][k];
        const int linbits = kLinbits[t];
        for (; pos < bounds[k]; pos += 2) {
            int32_t x = 0, y = 0;
            // Tables 4 and 14 name no table: zero pairs without bits, like table 0's.
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
    return FinishSpectrum(m, ch, pos, count1_start, used, budget, out);
}

}  // namespace quv3::test
