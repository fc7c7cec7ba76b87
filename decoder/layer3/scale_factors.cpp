#include "decoder/layer3/scale_factors.h"
#include "decoder/tables/quant_tables.h"

namespace quv3 {
namespace {

int32_t ReadMpeg1ScaleFactors(MainDataBuffer& m, const SideInfo& si, int gr, int ch, ScaleFactors& s) {
    const int32_t sfc = si.scalefac_compress[gr][ch] & 15;
    const int slen1 = kSlenTable[0][sfc];
    const int slen2 = kSlenTable[1][sfc];
    int32_t* l = s.scalefac_l[gr][ch];
    int32_t(*sf)[3] = s.scalefac_s[gr][ch];
    int32_t bits = 0;

    const BlockKind kind = BlockKindOf(si, gr, ch);
    if (kind != BlockKind::kLong) {
        int first_short = 0;
        if (kind == BlockKind::kMixed) {
            for (int b = 0; b < 8; ++b) l[b] = static_cast<int32_t>(ReadMainDataBits(m, slen1));
            bits += 8 * slen1;
            first_short = 3;
        }
        for (int b = first_short; b < 12; ++b) {
            const int slen = b < 6 ? slen1 : slen2;
            for (int w = 0; w < 3; ++w) sf[b][w] = static_cast<int32_t>(ReadMainDataBits(m, slen));
            bits += 3 * slen;
        }
        return bits;
    }

    static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int g = 0; g < 4; ++g) {
        const int slen = g < 2 ? slen1 : slen2;
        if (gr == 1 && si.scfsi[ch][g] == 1) {
            for (int b = kGroupStart[g]; b < kGroupStart[g + 1]; ++b) l[b] = s.scalefac_l[0][ch][b];
            continue;
        }
        for (int b = kGroupStart[g]; b < kGroupStart[g + 1]; ++b) l[b] = static_cast<int32_t>(ReadMainDataBits(m, slen));
        bits += (kGroupStart[g + 1] - kGroupStart[g]) * slen;
    }
    return bits;
}

// ISO/IEC 13818-3 scale factors: up to four widths for four band partitions.
int32_t ReadLsfScaleFactors(MainDataBuffer& m, SideInfo& si, const FrameHeader& h, int ch, ScaleFactors& s) {
    const int32_t sfc = si.scalefac_compress[0][ch] & 511;
    int slen[4] = {0, 0, 0, 0};
    int half = 0, range = 0;
    const bool intensity_right = ch == 1 && (h.mode_extension & 1);
    if (intensity_right) {
        s.intensity_scale = sfc & 1;
        int32_t i = sfc >> 1;
        half = 1;
        si.preflag[0][ch] = 0;
        if (i < 180) {
            slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6;
        } else if (i < 244) {
            const int t = i - 180;
            slen[0] = t / 16, slen[1] = (t % 16) / 4, slen[2] = t % 4, range = 1;
        } else {
            // 244..254 by the standard; 255 (sfc 510, 511) continues the same rule (t = 11).
            const int t = i - 244;
            slen[0] = t / 3, slen[1] = t % 3, range = 2;
        }
    } else if (sfc < 400) {
        slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2, slen[3] = sfc & 3;
        si.preflag[0][ch] = 0;
    } else if (sfc < 500) {
        const int t = sfc - 400;
        slen[0] = (t >> 2) / 5, slen[1] = (t >> 2) % 5, slen[2] = t & 3, range = 1;
        si.preflag[0][ch] = 0;
    } else {
        const int t = sfc - 500;
        slen[0] = t / 3, slen[1] = t % 3, range = 2;
        si.preflag[0][ch] = 1;
    }

    // The partition table's columns: long, short and mixed granules.
    const BlockKind block = BlockKindOf(si, 0, ch);
    const int kind = block == BlockKind::kLong ? 0 : block == BlockKind::kShort ? 1 : 2;
    int nr[4];
    for (int p = 0; p < 4; ++p) nr[p] = kLsfPartitionTable[half][range][kind][p];
    int32_t* l = s.scalefac_l[0][ch];
    int32_t(*sf)[3] = s.scalefac_s[0][ch];
    int32_t* largest = s.largest_intensity_position.data();
    const bool right = ch == 1;
    int32_t bits = 0;

    if (kind == 0) {
        int k = 0;
        for (int p = 0; p < 4; ++p) {
            for (int n = 0; n < nr[p]; ++n, ++k) {
                l[k] = static_cast<int32_t>(ReadMainDataBits(m, slen[p]));
                if (right) largest[k] = (1 << slen[p]) - 1;
            }
            bits += nr[p] * slen[p];
        }
        return bits;
    }

    int k = 0;
    if (kind == 2) {
        for (int b = 0; b < 6; ++b) {
            l[b] = static_cast<int32_t>(ReadMainDataBits(m, slen[0]));
            if (right) largest[b] = (1 << slen[0]) - 1;
        }
        bits += 6 * slen[0];
        nr[0] -= 6;
        k = 3;
    }
    for (int p = 0; p < 4; ++p) {
        const int bands = nr[p] / 3;
        bits += 3 * bands * slen[p];
        for (int n = 0; n < bands; ++n, ++k) {
            for (int w = 0; w < 3; ++w) sf[k][w] = static_cast<int32_t>(ReadMainDataBits(m, slen[p]));
            if (right) largest[6 + k] = (1 << slen[p]) - 1;
        }
    }
    return bits;
}

}  // namespace

// Every scale factor this granule does not transmit is 0, and so is every
// largest intensity position channel 1 does not: a stage that reads one (joint
// stereo with block layouts that differ between the channels, scfsi reuse after
// a short granule 0) then sees a fixed value, never one left by an earlier
// granule or an earlier file.
int32_t ReadScaleFactors(MainDataBuffer& m, SideInfo& si, const FrameHeader& h, int gr, int ch, ScaleFactors& sf) {
    for (int32_t& v : sf.scalefac_l[gr][ch]) v = 0;
    for (auto& band : sf.scalefac_s[gr][ch]) band[0] = band[1] = band[2] = 0;
    if (!IsMpeg1(h) && ch == 1) sf.largest_intensity_position.fill(0);
    return IsMpeg1(h) ? ReadMpeg1ScaleFactors(m, si, gr, ch, sf) : ReadLsfScaleFactors(m, si, h, ch, sf);
}

}  // namespace quv3
