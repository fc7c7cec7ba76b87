#include <cmath>
#include <cstring>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

constexpr int32_t kBlock = 2000;
constexpr int32_t kWindow = kBlock + 4;

}  // namespace

// Frames that differ from the first only in bitrate, padding or mode match.
bool MatchesSyncPattern(const DecoderState& s, const uint8_t* b) {
    return b[0] == s.sync_pattern[0] && b[1] == s.sync_pattern[1] && (b[2] & 0x0D) == s.sync_pattern[2] &&
           (b[3] & 0x0F) == s.sync_pattern[3];
}

// Searches forward from the file position in blocks of 2000 bytes; the 4 bytes
// carried over find a header that straddles two blocks. A final partial block
// is not searched.
int32_t SyncForward(DecoderState& s) {
    uint8_t w[kWindow];
    if (ReadInput(s, w, 4) < 4) return -4;
    for (;;) {
        if (ReadInput(s, w + 4, kBlock) < kBlock) return -4;
        for (int32_t i = 0; i <= kBlock; ++i) {
            if (MatchesSyncPattern(s, w + i)) {
                SeekInputBy(s, i - kWindow);
                return 0;
            }
        }
        std::memcpy(w, w + kBlock, 4);
    }
}

// Searches backward for the nearest match at or before (position - 8).
int32_t SyncBackward(DecoderState& s) {
    uint8_t w[kWindow];
    if (SeekInputBy(s, -8) != 0) return -4;
    ReadInput(s, w + kBlock, 4);
    SeekInputBy(s, -4);
    for (;;) {
        if (SeekInputBy(s, -kBlock) != 0) return -4;
        ReadInput(s, w, kBlock);
        SeekInputBy(s, -kBlock);
        for (int32_t i = kBlock; i >= 0; --i) {
            if (MatchesSyncPattern(s, w + i)) {
                SeekInputBy(s, i);
                return 0;
            }
        }
        std::memcpy(w + kBlock, w, 4);
    }
}

// Reads the header at the file position; on a damaged header resynchronises
// forward until a header reads. -4 when the search reaches the end. Headers
// that carry the sync word but cannot be decoded (bitrate index 15, a layer
// other than III, free format in a stream that did not start with it) are
// skipped like damaged ones.
int32_t ReadNextHeader(DecoderState& s) {
    for (;;) {
        int32_t r = ReadFrameHeader(s);
        if (r == 0 && HeaderIsDecodable(s.header, s.free_format_bytes)) break;
        if (SyncForward(s) != 0) return -4;
    }
    if (s.header.protection_bit == 0) SkipCrc(s);
    return 0;
}

// Leaves the decoder on the header before the pending one. Within the first
// 2008 bytes no earlier header can be found; the decoder then goes back to the
// first frame at data_start, so it stays on a frame boundary.
int32_t StepBack(DecoderState& s) {
    DropInputBuffer(s);
    const FrameHeader current = s.header;
    if (SyncBackward(s) == 0) {
        for (;;) {
            if (ReadHeaderAndCrc(s) == 0) return 0;
            if (SyncBackward(s) != 0) break;
        }
    }
    SeekInputTo(s, s.data_start);
    if (ReadHeaderAndCrc(s) != 0) s.header = current;
    return 0;
}

// Moves to the first frame at or after trunc(stream_length x fraction), counted
// from the start of the file; the length is 64-bit, so a fraction means that
// fraction of any file. A negative or NaN target leaves the position as it is
// (the search then starts from there); a target past the end gives -4.
int32_t SeekFraction(DecoderState& s, float fraction) {
    DropInputBuffer(s);
    const double target = std::trunc(static_cast<double>(s.stream_length) * static_cast<double>(fraction));
    if (target >= 0.0) {
        const double end = static_cast<double>(InputLength(s));
        SeekInputTo(s, static_cast<int64_t>(target < end ? target : end));
    }
    if (SyncForward(s) != 0) {
        s.status = -4;
        return -4;
    }
    ReadHeaderAndCrc(s);
    return 0;
}

// Free format: the second header, with the same masked fields and free format
// too, stands one frame length (plus the first frame's padding byte) behind the
// first; a third one the same distance on confirms it when the file holds it.
int32_t MeasureFreeFormat(DecoderState& s) {
    constexpr int32_t kSearch = 2 * 2900;  // two of the longest free-format frames
    uint8_t b[kSearch + 4] = {};
    const int64_t back = TellInput(s);
    SeekInputTo(s, s.data_start);
    const int32_t got = ReadInput(s, b, kSearch + 4);
    SeekInputTo(s, back);
    auto is_free_header = [&](int32_t at) {
        return at + 4 <= got && MatchesSyncPattern(s, b + at) && (b[at + 2] >> 4) == 0;
    };
    const int32_t padding = (b[2] >> 1) & 1;
    const int32_t shortest = 4 + SideInfoByteCount(s.header) + (s.header.protection_bit == 0 ? 2 : 0);
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

int64_t PendingFramePosition(const DecoderState& s) {
    return TellInput(s) - 4 - (s.header.protection_bit == 0 ? 2 : 0);
}

// Every frame of the stream shares the first header's version and rate, so the
// frame before has one of at most 14 bitrates and 2 paddings: each candidate
// length is checked for a header with exactly that bitrate and padding.
int64_t PreviousFramePosition(DecoderState& s, int64_t frame_start) {
    FrameHeader probe = s.header;
    const int first_index = s.free_format_bytes > 0 ? 0 : 1;
    const int last_index = s.free_format_bytes > 0 ? 0 : 14;
    for (int index = first_index; index <= last_index; ++index) {
        for (int padding = 0; padding < 2; ++padding) {
            probe.bitrate_index = index;
            const int32_t length = FrameBytes(probe, s.free_format_bytes) + padding;
            const int64_t at = frame_start - length;
            if (length <= 0 || at < s.data_start) continue;
            uint8_t b[4];
            SeekInputTo(s, at);
            if (ReadInput(s, b, 4) < 4 || !MatchesSyncPattern(s, b)) continue;
            FrameHeader h{};
            if (ParseFrameHeader(b, h) != 0 || h.bitrate_index != index || h.padding_bit != padding) continue;
            if (HeaderIsDecodable(h, s.free_format_bytes)) return at;
        }
    }
    return -1;
}

int32_t Rewind(DecoderState& s) {
    DropInputBuffer(s);
    SeekInputTo(s, s.data_start);
    int32_t r = ReadHeaderAndCrc(s);
    s.status = 0;
    return r;
}

}  // namespace quv3
