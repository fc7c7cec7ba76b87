#include "decoder/layer3/frame_walk.h"

#include "decoder/layer3/frame_decoder.h"
#include "decoder/layer3/main_data.h"

namespace quv3 {
namespace {

constexpr int64_t kSilentStartFrames = 128;

// What a walk leaves untouched for its caller: the position, the header read
// last with its bytes, and the damage counts (the frames the walk passes are
// counted when they are decoded).
struct Saved {
    int64_t position;
    FrameHeader header;
    HeaderBitReader reader;
    Damage damage;
};

Saved Save(const Stream& in) { return Saved{TellInput(in), in.header, in.header_reader, in.damage}; }

void Restore(Stream& in, const Saved& s) {
    SeekInputTo(in, s.position);
    in.header = s.header;
    in.header_reader = s.reader;
    in.damage = s.damage;
}

// A walk from a frame whose start it knows, frame by frame as the frame loop
// goes: the frame's header (and CRC word), past its bytes when it has a
// length, then the next header, resynchronising past damage.
struct Walk {
    int64_t k;
    int64_t position;
    // The reservoir's fill as the frame driver keeps it, for the first frames.
    int32_t fill;
};

bool Step(Stream& in, FrameIndex& index, Walk& w) {
    SeekInputTo(in, w.position);
    if (ReadHeaderAndCrc(in) != 0) return false;
    const FrameHeader h = in.header;
    const bool decodable = HeaderIsDecodable(h, in.free_format_bytes);
    const int32_t frame_bytes = FrameBytes(h, in.free_format_bytes);
    // While the first frames are not all seen, every walk starts at frame 0
    // (StartAt), so the fill is followed through frames seen before too.
    if (w.k < kSilentStartFrames && index.frames_seen < kSilentStartFrames) {
        // The frame driver's decisions for the first frames: no length, or
        // main data that begins before the bytes the reservoir holds.
        bool silent = !decodable;
        if (decodable) {
            uint8_t si[2] = {0, 0};
            ReadInput(in, si, 2);
            const int32_t begin = IsMpeg1(h) ? (si[0] << 1) | (si[1] >> 7) : si[0];
            silent = OnlyFeedsReservoir(begin, w.fill, frame_bytes, w.k);
            w.fill = FillAfter(w.fill, MainDataBytes(h, in.free_format_bytes));
        }
        if (silent) index.silent_start[w.k >> 6] |= uint64_t{1} << (w.k & 63);
    }
    if (w.k >= index.frames_seen) index.frames_seen = w.k + 1;
    // Past the frame's bytes; a header without a length is left right behind
    // it (and its CRC word), where the frame loop resynchronises.
    SeekInputTo(
        in, decodable ? w.position + FrameLength(h, in.free_format_bytes) : w.position + 4 + CrcBytes(h));
    if (ReadNextHeader(in) != 0) return false;
    w.k += 1;
    w.position = PendingFramePosition(in);
    NoteFramePosition(index, w.k, w.position);
    return true;
}

// From the last recorded frame at or before k (or before position).
Walk StartAt(const FrameIndex& index, int64_t k, int64_t position) {
    int32_t e = index.entries - 1;
    while (e > 0 && ((int64_t{e} << index.stride_log2) > k || index.position[e] > position)) --e;
    Walk w{int64_t{e} << index.stride_log2, index.position[e], 0};
    // The reservoir's fill matters for the first frames only, and those are
    // walked from frame 0.
    if (w.k > 0 && index.frames_seen < kSilentStartFrames) w = Walk{0, index.position[0], 0};
    return w;
}

}  // namespace

void ResetFrameIndex(FrameIndex& index, const Stream& in) {
    index.entries = 1;
    index.stride_log2 = 0;
    index.position[0] = in.data_start;
    index.silent_start[0] = index.silent_start[1] = 0;
    index.frames_seen = 0;
    index.frames_total = -1;
}

void NoteFramePosition(FrameIndex& index, int64_t k, int64_t position) {
    if (k != int64_t{index.entries} << index.stride_log2) return;
    if (index.entries == kFrameIndexEntries) {
        for (int32_t i = 0; i < kFrameIndexEntries / 2; ++i) index.position[i] = index.position[2 * i];
        index.entries = kFrameIndexEntries / 2;
        ++index.stride_log2;
        if (k != int64_t{index.entries} << index.stride_log2) return;
    }
    index.position[index.entries++] = position;
}

int64_t FindFrame(Stream& in, FrameIndex& index, int64_t k) {
    if (k < 0) return -1;
    const Saved saved = Save(in);
    Walk w = StartAt(index, k, INT64_MAX);
    bool more = true;
    while (w.k < k && (more = Step(in, index, w))) {
    }
    if (!more) index.frames_total = w.k + 1;
    Restore(in, saved);
    return w.k == k ? w.position : -1;
}

int64_t FirstFrameFrom(Stream& in, FrameIndex& index, int64_t position, int64_t* at) {
    const Saved saved = Save(in);
    Walk w = StartAt(index, INT64_MAX, position);
    bool more = true;
    while (w.position < position && (more = Step(in, index, w))) {
    }
    if (!more) index.frames_total = w.k + 1;
    Restore(in, saved);
    *at = w.position;
    return w.position >= position ? w.k : -1;
}

int64_t CountFrames(Stream& in, FrameIndex& index) {
    if (index.frames_total >= 0) return index.frames_total;
    const Saved saved = Save(in);
    Walk w = StartAt(index, INT64_MAX, INT64_MAX);
    while (Step(in, index, w)) {
    }
    Restore(in, saved);
    index.frames_total = w.k + 1;
    return index.frames_total;
}

bool FrameIsSilent(const FrameIndex& index, int64_t k) {
    if (k < 0 || k >= kSilentStartFrames) return false;
    return (index.silent_start[k >> 6] >> (k & 63)) & 1;
}

}  // namespace quv3
