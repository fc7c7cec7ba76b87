#include <cmath>
#include <cstring>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

constexpr int32_t kBlock = 2000;
constexpr int32_t kWindow = kBlock + 4;

}  // namespace

// Frames that differ from the first only in bitrate, padding or mode match.
bool MatchesSyncPattern(const Stream& in, const uint8_t* b) {
    return b[0] == in.sync_pattern[0] && b[1] == in.sync_pattern[1] && (b[2] & 0x0D) == in.sync_pattern[2] &&
           (b[3] & 0x0F) == in.sync_pattern[3];
}

namespace {

// Searches forward from the file position in blocks of 2000 bytes; the 4 bytes
// carried over find a header that straddles two blocks. A final partial block
// is searched only under the stream's search_tail rule.
int32_t SyncForward(Stream& in) {
    uint8_t w[kWindow];
    if (ReadInput(in, w, 4) < 4) return -4;
    for (;;) {
        const int32_t got = ReadInput(in, w + 4, kBlock);
        if (got < kBlock && !in.rules.search_tail) return -4;
        for (int32_t i = 0; i <= got; ++i) {
            if (MatchesSyncPattern(in, w + i)) {
                SeekInputBy(in, i - 4 - got);
                return 0;
            }
        }
        if (got < kBlock) return -4;
        std::memcpy(w, w + kBlock, 4);
    }
}

// Searches backward for the nearest match at or before (position - 8).
int32_t SyncBackward(Stream& in) {
    uint8_t w[kWindow];
    if (SeekInputBy(in, -8) != 0) return -4;
    ReadInput(in, w + kBlock, 4);
    SeekInputBy(in, -4);
    for (;;) {
        if (SeekInputBy(in, -kBlock) != 0) return -4;
        ReadInput(in, w, kBlock);
        SeekInputBy(in, -kBlock);
        for (int32_t i = kBlock; i >= 0; --i) {
            if (MatchesSyncPattern(in, w + i)) {
                SeekInputBy(in, i);
                return 0;
            }
        }
        std::memcpy(w + kBlock, w, 4);
    }
}

}  // namespace

// Reads the header at the position; on a damaged header resynchronises
// forward until a header reads. -4 when the search reaches the end. Headers
// that carry the sync word but cannot be decoded (bitrate index 15, a layer
// other than III, free format in a stream that did not start with it) are
// skipped like damaged ones. Each header passed over counts as a lost frame,
// and the bytes up to the one found as skipped; a search that runs into the
// end counts nothing (a stream may end in bytes that are no frame).
int32_t ReadNextHeader(Stream& in) {
    const int64_t expected = TellInput(in);
    int64_t lost = 0;
    for (;;) {
        int32_t r = ReadFrameHeader(in);
        if (r == 0 && HeaderIsDecodable(in.header, in.free_format_bytes)) break;
        if (SyncForward(in) != 0) return -4;
        ++lost;
    }
    if (lost > 0) {
        in.damage.lost_frames += lost;
        in.damage.skipped_bytes += TellInput(in) - 4 - expected;
    }
    if (in.header.protection_bit == 0) SkipCrc(in);
    return 0;
}

// Leaves the decoder on the header before the pending one. Within the first
// 2008 bytes no earlier header can be found; the decoder then goes back to the
// first frame at data_start, so it stays on a frame boundary.
int32_t StepBack(Stream& in) {
    DropInputBuffer(in);
    const FrameHeader current = in.header;
    if (SyncBackward(in) == 0) {
        for (;;) {
            if (ReadHeaderAndCrc(in) == 0) return 0;
            if (SyncBackward(in) != 0) break;
        }
    }
    SeekInputTo(in, in.data_start);
    if (ReadHeaderAndCrc(in) != 0) in.header = current;
    return 0;
}

// Moves to the first frame at or after trunc(stream_length x fraction), counted
// from the start of the file; the length is 64-bit, so a fraction means that
// fraction of any file. A negative or NaN target leaves the position as it is
// (the search then starts from there); a target past the end gives -4.
int32_t SeekFraction(Stream& in, float fraction) {
    const double target = std::trunc(static_cast<double>(in.stream_length) * static_cast<double>(fraction));
    return SeekToFrameAt(in, target >= 0.0 ? target : -1.0);
}

int32_t SeekToFrameAt(Stream& in, double offset) {
    DropInputBuffer(in);
    if (offset >= 0.0) {
        const int64_t length = in.stream_end >= 0 ? in.stream_end : InputLength(in);
        if (length >= 0 && offset > static_cast<double>(length)) offset = static_cast<double>(length);
        if (offset > 9.0e18) offset = 9.0e18;  // an input of unknown length: within the range of a position
        SeekInputTo(in, static_cast<int64_t>(offset));
    }
    if (SyncForward(in) != 0) return -4;
    ReadHeaderAndCrc(in);
    return 0;
}

int64_t PendingFramePosition(const Stream& in) {
    return TellInput(in) - 4 - CrcBytes(in.header);
}

// Every frame of the stream shares the first header's version and rate, so the
// frame before has one of at most 14 bitrates and 2 paddings: each candidate
// length is checked for a header with exactly that bitrate and padding.
int64_t PreviousFramePosition(Stream& in, int64_t frame_start, FrameHeader& found) {
    FrameHeader probe = in.header;
    const int first_index = in.free_format_bytes > 0 ? 0 : 1;
    const int last_index = in.free_format_bytes > 0 ? 0 : 14;
    for (int index = first_index; index <= last_index; ++index) {
        for (int padding = 0; padding < 2; ++padding) {
            probe.bitrate_index = index;
            const int32_t length = FrameBytes(probe, in.free_format_bytes) + padding;
            const int64_t at = frame_start - length;
            if (length <= 0 || at < in.data_start) continue;
            uint8_t b[4];
            SeekInputTo(in, at);
            // The first frame is a frame whatever its header holds: an encoder may
            // write its tag frame with other flags than the audio's.
            if (ReadInput(in, b, 4) < 4 || (!MatchesSyncPattern(in, b) && at != in.data_start)) continue;
            FrameHeader h{};
            if (ParseFrameHeader(b, h, in.rules.mpeg25) != 0 || h.bitrate_index != index || h.padding_bit != padding)
                continue;
            if (!HeaderIsDecodable(h, in.free_format_bytes)) continue;
            found = h;
            return at;
        }
    }
    return -1;
}

int32_t Rewind(Stream& in) {
    DropInputBuffer(in);
    SeekInputTo(in, in.data_start);
    return ReadHeaderAndCrc(in);
}

}  // namespace quv3
