#include "decoder/layer3/frame_decoder.h"

#include <cstring>

#include "decoder/layer3/band_layout.h"
#include "decoder/layer3/stereo.h"

namespace quv3 {
namespace {

void DecodeGranule(const Kernels& k, const FrameHeader& h, const BandLayout& bands, FrameDecoder& d, int gr,
                   PcmOut out) {
    const SideInfo& si = d.side_info;
    const int channels = d.channel_count;
    for (int ch = 0; ch < channels; ++ch) {
        const int32_t part2 = ReadScaleFactors(d.main_data, d.side_info, h, gr, ch, d.scale_factors);
        DecodeSpectrum(d.main_data, si, bands, gr, ch, part2, d.quantized);
    }
    // Joint stereo: both channels in channel 0's block layout, then the stereo
    // pass on the dequantized spectra.
    const bool joint = h.mode == 1 && h.mode_extension != 0 && channels == 2;
    for (int ch = 0; ch < channels; ++ch) {
        DequantizeChannel(k, d.quantized, si, d.scale_factors, bands, gr, ch, BlockKindOf(si, gr, joint ? 0 : ch),
                          d.spectrum);
    }
    const int32_t stereo_subbands =
        joint ? JointStereoGranule(k, d.quantized, si, d.scale_factors, bands, h, gr, d.spectrum) : 0;
    for (int ch = 0; ch < channels; ++ch) {
        const int rows = TransformGranuleChannel(k, d.spectrum.SpectralSamples[ch], si, gr, ch,
                                                 d.quantized.decoded_line_count[ch], stereo_subbands, d.transform);
        SynthesizeGranule(k, d.transform.SubbandSamples, rows, d.synthesis, ch, channels, out.format);
    }
    if (out.samples == nullptr) return;
    const SynthesisMemory& m = d.synthesis;
    const int32_t values = 576 * channels;
    if (out.format == PcmFormat::kF32) {
        std::memcpy(static_cast<float*>(out.samples) + gr * values,
                    channels == 2 ? m.StereoFloatBuffer : m.MonoFloatBuffer, sizeof(float) * values);
    } else {
        std::memcpy(static_cast<int16_t*>(out.samples) + gr * values,
                    channels == 2 ? m.StereoPcmBuffer : m.MonoPcmBuffer, sizeof(int16_t) * values);
    }
}

}  // namespace

void ClearDecoderMemories(FrameDecoder& d) {
    std::memset(d.transform.OverlapBuffer, 0, sizeof d.transform.OverlapBuffer);
    std::memset(d.transform.SubbandSamples, 0, sizeof d.transform.SubbandSamples);
    d.transform.overlap_subbands[0] = d.transform.overlap_subbands[1] = 0;
    for (SynthesisRing& r : d.synthesis.ring) {
        std::memset(r.columns, 0, sizeof r.columns);
        std::memset(r.middle, 0, sizeof r.middle);
    }
    d.call_count = 0;
    d.channel_count = 0;
    d.main_data.fill = 0;
    d.main_data.bit_pos = 0;
}

// A header that cannot be sized (bitrate index 15, reserved rate or layer, free
// format of unknown length) reads nothing and writes nothing: the next header
// read resynchronises.
int32_t DecodeFrame(const Kernels& k, Stream& in, FrameDecoder& d, PcmOut out) {
    const FrameHeader& h = in.header;
    if (!HeaderIsDecodable(h, in.free_format_bytes)) return 0;
    d.channel_count = ChannelCount(h);
    ReadSideInfo(in, d.side_info);
    const int32_t frame_bytes = FrameBytes(h, in.free_format_bytes);
    const int32_t main_bytes = MainDataBytes(h, in.free_format_bytes);
    MainDataBuffer& m = d.main_data;
    const int32_t begin = d.side_info.main_data_begin;
    if (OnlyFeedsReservoir(begin, m.fill, frame_bytes, d.call_count)) {
        AppendMainData(in, m, main_bytes);
        return 0;
    }
    m.bit_pos = ((m.fill - begin) & (kRingBytes - 1)) * 8;
    AppendMainData(in, m, main_bytes);
    const BandLayout bands = SelectBandLayout(h);
    const int granules = GranuleCount(h);
    for (int gr = 0; gr < granules; ++gr) DecodeGranule(k, h, bands, d, gr, out);
    return granules * 576;
}

int32_t DecodeNextFrame(const Kernels& k, Stream& in, FrameDecoder& d, PcmOut out) {
    int32_t samples = 0;
    if (d.status != -4) {
        samples = DecodeFrame(k, in, d, out);
        if (ReadNextHeader(in) != 0) d.status = -4;
    }
    if (d.call_count < 0x7FFFFFFF) ++d.call_count;
    return samples;
}

}  // namespace quv3
