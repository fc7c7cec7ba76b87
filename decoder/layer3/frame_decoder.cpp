#include <cstring>

#include "decoder/layer3/layer3.h"
#include "decoder/stream/stream.h"
#include "decoder/tables/band_tables.h"
#include "decoder/tables/reorder_table.h"

namespace quv3 {

// What InitQuv and ResetQuv clear; nothing else is reset between streams.
void ClearDecoderMemories(DecoderState& s) {
    std::memset(s.OverlapBuffer, 0, sizeof s.OverlapBuffer);
    std::memset(s.SubbandSamples, 0, sizeof s.SubbandSamples);
    std::memset(s.SynthesisHistory, 0, sizeof s.SynthesisHistory);
    std::memset(s.SynthesisRing, 0, sizeof s.SynthesisRing);
    s.call_count = 0;
    s.channel_count = 0;
    s.main_data.fill = 0;
    s.main_data.bit_pos = 0;
}

int32_t CpuKernelLevel() {
#if QUV3_X86_VECTOR
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return kKernelsAvx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return kKernelsAvx2;
#endif
    return kKernelsSse2;
}

int32_t SelectKernels(int32_t level) {
    const int32_t most = CpuKernelLevel();
    if (level > most) level = most;
    if (level < kKernelsSse2) level = kKernelsSse2;
    SelectDequantizeKernel(level);
    SelectStereoKernel(level);
    SelectTransformKernel(level);
    SelectSynthesisKernels(level);
    return level;
}

// Once per process, on the first InitQuv, even when that call then fails; also
// picks the vector kernels for this processor.
void PrepareTables(DecoderState& s) {
    if (s.tables_pending != 1) return;
    ScaleSynthesisWindow(s);
    PrepareImdctWindows(s);
    PrepareHuffmanLookup();
    SelectKernels(CpuKernelLevel());
    s.tables_pending = 0;
}

void SelectBandTables(DecoderState& s) {
    const int row = (s.header.ID & 1) * 3 + (s.header.sampling_frequency % 3);
    s.LongBandEnds = kLongBandEndsTable[row].data();
    s.ShortBandEnds = kShortBandEndsTable[row].data();
    s.ShortReorder = kShortReorderTable[row].data();
}

namespace {

void DecodeGranule(DecoderState& s, int gr, int16_t* pcm) {
    const SideInfo& si = s.side_info;
    const int channels = s.channel_count;
    for (int ch = 0; ch < channels; ++ch) {
        const int32_t part2 = ReadScaleFactors(s, gr, ch);
        const int32_t over = DecodeSpectrum(s, gr, ch, part2);
        ++s.spectra_decoded;
        if (over > 0) ++s.spectra_over_budget;
    }
    if (s.header.mode == 1 && s.header.mode_extension != 0 && channels == 2) {
        JointStereoGranule(s, gr);
    } else {
        for (int ch = 0; ch < channels; ++ch) DequantizeChannel(s, gr, ch);
    }
    for (int ch = 0; ch < channels; ++ch) {
        // Short blocks get none; a mixed block only the boundary between its two
        // long subbands, as in the ISO reference decoder.
        if (!(si.window_switching_flag[gr][ch] && si.block_type[gr][ch] == 2)) {
            AliasReduce(s, ch);
            // The butterflies carry the last active subband's top lines into the
            // next subband, which must then be transformed too.
            if (s.ActiveSubbandCount[ch] < 32) ++s.ActiveSubbandCount[ch];
        } else if (si.mixed_block_flag[gr][ch]) {
            AliasReduceBoundaries(s, ch, 1);
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        const int wsf = si.window_switching_flag[gr][ch];
        const int bt = si.block_type[gr][ch];
        const int mixed = si.mixed_block_flag[gr][ch];
        // With mixed_block_flag set the two lowest subbands use the normal window
        // whatever the block type, as the ISO reference decoder does; the others
        // use the granule's own block type.
        const int lower = !wsf || mixed ? 0 : bt;
        const int upper = !wsf ? 0 : bt;
        const int active = s.ActiveSubbandCount[ch];
        // Subbands 0 and 1 always; the others up to the active count.
        if (lower == upper) {
            InverseTransformSubbands(s, lower, 0, active > 2 ? active : 2, ch);
        } else {
            InverseTransformSubbands(s, lower, 0, 2, ch);
            InverseTransformSubbands(s, upper, 2, active, ch);
        }
        for (int sb = active > 2 ? active : 2; sb < 32; ++sb) PassOverlapThrough(s, sb, ch);
        SynthesizeGranule(s, ch);
    }
    if (channels == 2) {
        std::memcpy(pcm + gr * 1152, s.StereoPcmBuffer, sizeof s.StereoPcmBuffer);
    } else {
        std::memcpy(pcm + gr * 576, s.MonoPcmBuffer, sizeof s.MonoPcmBuffer);
    }
}

}  // namespace

// Decodes the frame whose header was read last. A header that cannot be sized
// (bitrate index 15, reserved rate or layer, free format of unknown length)
// reads nothing and writes nothing: the next header read resynchronises.
int32_t DecodeFrame(DecoderState& s, int16_t* pcm) {
    const FrameHeader& h = s.header;
    if (!HeaderIsDecodable(h, s.free_format_bytes)) return 0;
    s.channel_count = h.mode == 3 ? 1 : 2;
    ReadSideInfo(s);
    const int32_t frame_bytes = FrameBytes(h, s.free_format_bytes);
    const int32_t main_bytes = MainDataBytes(h, s.free_format_bytes);
    MainDataBuffer& m = s.main_data;
    const int32_t begin = s.side_info.main_data_begin;

    // At the start of a stream the reservoir cannot hold what the first frames
    // refer back to: such a frame only feeds the reservoir.
    if (begin > m.fill && static_cast<int64_t>(frame_bytes) * s.call_count < 960) {
        AppendMainData(s, main_bytes);
        return 0;
    }
    m.bit_pos = ((m.fill - begin) & (kRingBytes - 1)) * 8;
    AppendMainData(s, main_bytes);
    SelectBandTables(s);
    const int granules = h.ID == 1 ? 2 : 1;
    for (int gr = 0; gr < granules; ++gr) DecodeGranule(s, gr, pcm);
    return 0;
}

}  // namespace quv3
