#include <cmath>
#include <cstring>
#include <limits>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

constexpr int32_t kProbeBytes = 4100;

// Smallest i in 0 .. len-4 (at most 4095) where the four bytes equal tag, or -1.
int32_t FindTag(const uint8_t* probe, int32_t len, int32_t last_start, const char* tag) {
    for (int32_t i = 0; i <= last_start && i + 4 <= len; ++i) {
        if (std::memcmp(probe + i, tag, 4) == 0) return i;
    }
    return -1;
}

// Truncates toward zero, saturating at the 32-bit range; NaN gives 0.
int32_t TruncateToInt32(double v) {
    if (v != v) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int32_t FindXingHeader(const uint8_t* probe, int32_t probe_len, int32_t& frames, int32_t& bytes) {
    int32_t i = FindTag(probe, probe_len, 3999, "Xing");
    // Both counts sit at fixed offsets behind the tag; the flags word is not examined.
    if (i < 0 || i + 16 > probe_len) return 0;
    frames = static_cast<int32_t>(LoadBigEndian32(probe + i + 8));
    bytes = static_cast<int32_t>(LoadBigEndian32(probe + i + 12));
    return 1;
}

// Free format: the second header, with the same masked fields and free format
// too, stands one frame length (plus the first frame's padding byte) behind the
// first; a third one the same distance on confirms it when the file holds it.
int32_t MeasureFreeFormat(Stream& in) {
    constexpr int32_t kSearch = 2 * 2900;  // two of the longest free-format frames
    uint8_t b[kSearch + 4] = {};
    const int64_t back = TellInput(in);
    SeekInputTo(in, in.data_start);
    const int32_t got = ReadInput(in, b, kSearch + 4);
    SeekInputTo(in, back);
    auto is_free_header = [&](int32_t at) {
        return at + 4 <= got && MatchesSyncPattern(in, b + at) && (b[at + 2] >> 4) == 0;
    };
    const int32_t padding = (b[2] >> 1) & 1;
    const int32_t shortest = 4 + SideInfoByteCount(in.header) + CrcBytes(in.header);
    for (int32_t at = shortest; at + 4 <= got && at <= kSearch / 2; ++at) {
        if (!is_free_header(at)) continue;
        const int32_t length = at - padding;
        const int32_t next = at + length + ((b[at + 2] >> 1) & 1);
        // A third header where the second one's frame ends (a padding byte more or less).
        if (next + 4 > got || is_free_header(next) || is_free_header(next - 1) || is_free_header(next + 1))
            return length;
    }
    return 0;
}

}  // namespace

void SetSyncPattern(Stream& in, const uint8_t b[4]) {
    in.sync_pattern = {b[0], b[1], static_cast<uint8_t>(b[2] & 0x0D), static_cast<uint8_t>(b[3] & 0x0F)};
}

// Locate the first frame, read its header and describe the stream.
int32_t OpenStream(Stream& in, const OpenRules& rules, StreamDescription& info) {
    if (!SourceAttached(in.source)) return -5;
    ResetInput(in);
    in.rules = rules;
    in.tags = TagRanges{};
    in.text = TagText{};
    in.damage = Damage{};
    const int64_t input_length = InputLength(in);
    if (rules.skip_tags) SkipLeadingTags(in);
    const int64_t probed_at = TellInput(in);

    uint8_t probe[kProbeBytes];
    const int32_t probe_len = ReadInput(in, probe, kProbeBytes);
    int32_t xing_frames = 0, xing_bytes = 0, has_xing = 0;
    const int32_t data_tag = FindTag(probe, probe_len, 4095, "data");
    if (data_tag >= 0) {
        in.data_start = probed_at + data_tag + 8;  // tag, 4-byte chunk length, then the frames
    } else {
        in.data_start = probed_at;
        has_xing = FindXingHeader(probe, probe_len, xing_frames, xing_bytes);
    }
    SeekInputTo(in, in.data_start);
    int64_t end = input_length;
    if (rules.skip_tags && input_length >= 0 && SourceCanSeek(in.source)) {
        FindTrailingTags(in, in.data_start, input_length);
        end -= in.tags.id3v1_bytes + in.tags.ape_bytes;
        if (end < input_length) in.stream_end = end;
    }
    in.stream_length = end >= 0 ? end - in.data_start : -1;

    int32_t r = ReadFrameHeader(in);
    const FrameHeader& h = in.header;
    // A reserved sampling frequency has no rate: nothing of the stream could be timed.
    if (r == 0 && h.sampling_frequency == 3) r = -1;
    if (r != 0) {
        CloseInput(in);
        return r;
    }
    uint8_t first[4];
    std::memcpy(first, in.header_reader.bytes.data(), 4);
    if (h.protection_bit == 0) SkipCrc(in);
    SetSyncPattern(in, first);

    info.channels = ChannelCount(h);
    info.version = h.mpeg25 ? 3 : (IsMpeg1(h) ? 1 : 2);
    info.samples_per_frame = SamplesPerFrame(h);
    if (h.layer != 1) {
        CloseInput(in);
        return -6;
    }
    info.sample_rate = HeaderSampleRate(h);
    in.free_format_bytes = h.bitrate_index == 0 ? MeasureFreeFormat(in) : 0;
    if (has_xing) {
        info.vbr = 1;
        // Both counts are unsigned 32-bit numbers. A frame count of 0 or 1 leaves
        // no duration: both fields hold 0. A sample count beyond the field's range
        // is capped at 2^31 - 1, as for a stream without Xing header; the average
        // bitrate comes from the true count.
        const double total = (static_cast<double>(static_cast<uint32_t>(xing_frames)) - 1.0) * info.samples_per_frame;
        if (total <= 0.0) {
            info.total_samples = 0;
            info.bitrate = 0;
        } else {
            info.total_samples = TruncateToInt32(total);
            info.bitrate = TruncateToInt32(static_cast<double>(static_cast<uint32_t>(xing_bytes)) * info.sample_rate *
                                               0.008 / total + 0.5);
        }
    } else {
        info.vbr = 0;
        info.bitrate = StreamBitrate(h, in.free_format_bytes);
        // Index 15 (and free format of unknown length) has no bitrate: no duration,
        // 0. A count beyond the field's range is capped at 2^31 - 1.
        const double total = info.bitrate > 0 && in.stream_length >= 0 ? static_cast<double>(in.stream_length) *
                                                                              info.sample_rate / (info.bitrate * 125.0)
                                                                        : 0.0;
        info.total_samples = TruncateToInt32(total);
    }
    return 0;
}

int32_t OpenStream(Stream& in, const char* path, StreamDescription& info) {
    if (AttachFile(in.source, path, false) != 0) return -5;
    return OpenStream(in, OpenRules{}, info);
}

}  // namespace quv3
