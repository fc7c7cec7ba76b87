#include <cstring>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

// An input that cannot seek keeps this many bytes it delivered when its buffer
// moves on, so that the sync search can step back over the 2004 bytes it has
// just read, and the probe of an opening over what it looked at.
constexpr int32_t kKeptBytes = 8192;

// Brings the source's position to the buffer's end, where the next fill
// reads; it differs only after a seek outside the buffer. An input that cannot
// seek reads its way forward.
bool PositionSourceAtBufferEnd(Stream& in) {
    InputBuffer& buf = in.input;
    const int64_t end = buf.start + buf.length;
    if (buf.source_pos == end) return true;
    if (SourceCanSeek(in.source)) {
        if (SourceSeek(in.source, end) != 0) return false;
        buf.source_pos = end;
        return true;
    }
    while (buf.source_pos < end) {
        const int64_t left = end - buf.source_pos;
        const int32_t want = left < kInputBufferBytes ? static_cast<int32_t>(left) : kInputBufferBytes;
        // The bytes skipped pass through the buffer, which holds nothing yet.
        const int32_t r = SourceRead(in.source, buf.bytes.data(), want);
        if (r <= 0) return false;
        buf.source_pos += r;
    }
    return buf.source_pos == end;
}

// Empties the buffer at the read position and fills it from there. An input
// that cannot seek keeps the last kKeptBytes it held in front.
void Refill(Stream& in) {
    InputBuffer& buf = in.input;
    int32_t kept = 0;
    if (!SourceCanSeek(in.source) && buf.source_pos == buf.start + buf.length) {
        kept = buf.length < kKeptBytes ? buf.length : kKeptBytes;
        std::memmove(buf.bytes.data(), buf.bytes.data() + buf.length - kept, static_cast<size_t>(kept));
    }
    buf.start += buf.pos - kept;
    buf.length = buf.pos = kept;
    if (!PositionSourceAtBufferEnd(in)) return;
    const int32_t r = SourceRead(in.source, buf.bytes.data() + kept, kInputBufferBytes - kept);
    buf.source_pos += r;
    buf.length += r;
}

}  // namespace

void ResetInput(Stream& in) {
    in.input.start = in.input.source_pos = 0;
    in.input.length = in.input.pos = 0;
    in.stream_end = -1;
}

int32_t OpenInput(Stream& in, const char* path) {
    if (AttachFile(in.source, path, false) != 0) return -5;
    ResetInput(in);
    return 0;
}

void CloseInput(Stream& in) { DetachSource(in.source); }

// The input is read a buffer at a time; the result is what unbuffered reads at
// the same positions would deliver. Nothing is delivered from stream_end on.
int32_t ReadInput(Stream& in, void* buffer, int32_t n) {
    InputBuffer& buf = in.input;
    if (in.stream_end >= 0) {
        const int64_t left = in.stream_end - TellInput(in);
        if (left < n) n = left > 0 ? static_cast<int32_t>(left) : 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t got = 0;
    while (got < n) {
        if (buf.pos == buf.length) {
            Refill(in);
            if (buf.pos == buf.length) break;
        }
        int32_t take = buf.length - buf.pos;
        if (take > n - got) take = n - got;
        std::memcpy(out + got, buf.bytes.data() + buf.pos, static_cast<size_t>(take));
        buf.pos += take;
        got += take;
    }
    return got;
}

// The buffered bytes are forgotten, so the next read sees what the input holds
// now: repositioning (rewind, seek, step back) answers from the file itself,
// even when it was changed since it was buffered. An input that cannot seek
// keeps them: they cannot be read again.
void DropInputBuffer(Stream& in) {
    if (!SourceCanSeek(in.source)) return;
    InputBuffer& buf = in.input;
    buf.start += buf.pos;
    buf.length = buf.pos = 0;
}

// Moves to offset and fills the buffer from there, so that reads of the bytes
// that follow, in any order, cost no further access to the input.
void PrefetchInput(Stream& in, int64_t offset) {
    SeekInputTo(in, offset);
    uint8_t first;
    if (ReadInput(in, &first, 1) == 1) SeekInputBy(in, -1);
}

// A target inside the buffered bytes moves within them; any other target
// empties the buffer, and the next read fills it from there. An input that
// cannot seek reaches a later target by reading on, and no earlier one.
int32_t SeekInputTo(Stream& in, int64_t offset) {
    InputBuffer& buf = in.input;
    if (offset < 0) return -1;
    if (offset >= buf.start && offset <= buf.start + buf.length) {
        buf.pos = static_cast<int32_t>(offset - buf.start);
    } else {
        if (offset < buf.start && !SourceCanSeek(in.source)) return -1;
        buf.start = offset;
        buf.length = buf.pos = 0;
    }
    return 0;
}

int32_t SeekInputBy(Stream& in, int64_t delta) { return SeekInputTo(in, TellInput(in) + delta); }

int64_t TellInput(const Stream& in) { return in.input.start + in.input.pos; }

int64_t InputLength(const Stream& in) { return SourceLength(in.source); }

}  // namespace quv3
