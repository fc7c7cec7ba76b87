#include "decoder/stream/stream.h"
#include "decoder/tables/stream_tables.h"

namespace quv3 {

// MPEG 2.5, an extension outside ISO/IEC 11172-3 and 13818-3, takes the last
// of the 12 sync bits as its own: 0 there with ID 0 marks an LSF frame at half
// the MPEG-2 rates. 0 there with ID 1 is reserved. Without the mpeg25 rule any
// header whose 12 bits read 0xFFE is refused as MPEG 2.5 (-2), whatever its ID.
int32_t ParseFrameHeader(const uint8_t* bytes, FrameHeader& h, bool mpeg25) {
    HeaderBitReader r{};
    for (int i = 0; i < 4; ++i) r.bytes[i] = bytes[i];
    const uint32_t sync = ReadHeaderBits(r, 12);
    const int32_t id = static_cast<int32_t>(ReadHeaderBits(r, 1));
    if (sync == 0xFFE && !mpeg25) return -2;
    if (sync == 0xFFE && id == 1) return -1;
    if (sync != 0xFFF && sync != 0xFFE) return -1;
    h.mpeg25 = sync == 0xFFE ? 1 : 0;
    h.ID = id;
    h.layer = static_cast<int32_t>(ReadHeaderBits(r, 2));
    h.protection_bit = static_cast<int32_t>(ReadHeaderBits(r, 1));
    h.bitrate_index = static_cast<int32_t>(ReadHeaderBits(r, 4));
    h.sampling_frequency = static_cast<int32_t>(ReadHeaderBits(r, 2));
    h.padding_bit = static_cast<int32_t>(ReadHeaderBits(r, 1));
    h.private_bit = static_cast<int32_t>(ReadHeaderBits(r, 1));
    h.mode = static_cast<int32_t>(ReadHeaderBits(r, 2));
    h.mode_extension = static_cast<int32_t>(ReadHeaderBits(r, 2));
    if (h.mode == 0) h.mode_extension = 0;
    h.copyright = static_cast<int32_t>(ReadHeaderBits(r, 1));
    h.original_copy = static_cast<int32_t>(ReadHeaderBits(r, 1));
    h.emphasis = static_cast<int32_t>(ReadHeaderBits(r, 2));
    return 0;
}

int32_t ReadFrameHeader(Stream& in) {
    HeaderBitReader& r = in.header_reader;
    if (ReadInput(in, r.bytes.data(), 4) < 4) return -1;
    return ParseFrameHeader(r.bytes.data(), in.header, in.rules.mpeg25);
}

// The CRC word is consumed, never verified.
void SkipCrc(Stream& in) {
    ReadInput(in, in.header_reader.bytes.data(), 2);
    in.header_reader.bit_pos = 16;
}

int32_t ReadHeaderAndCrc(Stream& in) {
    int32_t r = ReadFrameHeader(in);
    if (r == 0 && in.header.protection_bit == 0) SkipCrc(in);
    return r;
}

int32_t SideInfoByteCount(const FrameHeader& h) { return kSideInfoBytes[IsMpeg1(h)][ChannelCount(h) == 1]; }

void ReadSideInfoBytes(Stream& in) {
    ReadInput(in, in.header_reader.bytes.data(), SideInfoByteCount(in.header));
}

int32_t HeaderBitrate(const FrameHeader& h) {
    if (h.layer < 1 || h.layer > 3) return 0;  // layer 0 is reserved
    return kBitrateTable[h.ID & 1][3 - h.layer][h.bitrate_index & 15];
}

int32_t HeaderSampleRate(const FrameHeader& h) {
    if (h.sampling_frequency > 2) return 0;
    return kSamplingRateTable[RateRow(h)];
}

bool HeaderIsDecodable(const FrameHeader& h, int32_t free_format_bytes) {
    return FrameBytes(h, free_format_bytes) > 0;
}

// Everything but the header, the CRC word and the side information.
int32_t MainDataBytes(const FrameHeader& h, int32_t free_format_bytes) {
    return FrameLength(h, free_format_bytes) - 4 - SideInfoByteCount(h) - CrcBytes(h);
}

int32_t FrameBytes(const FrameHeader& h, int32_t free_format_bytes) {
    const int32_t rate = HeaderSampleRate(h);
    if (h.layer != 1 || rate == 0 || h.bitrate_index == 15) return 0;
    if (h.bitrate_index == 0) return free_format_bytes;
    return HeaderBitrate(h) * FrameBytesPerKbit(h) / rate;
}

int32_t StreamBitrate(const FrameHeader& h, int32_t free_format_bytes) {
    if (h.bitrate_index == 0 && free_format_bytes > 0)
        return free_format_bytes * HeaderSampleRate(h) / FrameBytesPerKbit(h);
    return HeaderBitrate(h);
}

}  // namespace quv3
