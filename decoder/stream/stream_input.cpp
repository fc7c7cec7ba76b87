#include <cstring>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

// Brings the operating system's file position to the buffer's end, where the
// next fill reads; it differs only after a seek outside the buffer.
bool PositionFileAtBufferEnd(DecoderState& s) {
    InputBuffer& in = s.input;
    const int64_t end = in.start + in.length;
    if (in.file_pos == end) return true;
    if (io::SeekTo(s.file, end) != 0) return false;
    in.file_pos = end;
    return true;
}

}  // namespace

int32_t OpenInput(DecoderState& s, const char* path) {
    s.file = io::OpenRead(path);
    s.input.start = s.input.file_pos = 0;
    s.input.length = s.input.pos = 0;
    return s.file == io::kNoFile ? -5 : 0;
}

void CloseInput(DecoderState& s) {
    io::Close(s.file);
    s.file = io::kNoFile;
}

// Frames are read a buffer at a time instead of three reads per frame; the
// result is what unbuffered reads at the same positions would deliver.
int32_t ReadInput(DecoderState& s, void* buffer, int32_t n) {
    InputBuffer& in = s.input;
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t got = 0;
    while (got < n) {
        if (in.pos == in.length) {
            // Drained: the buffer moves on to the current position.
            in.start += in.pos;
            in.length = in.pos = 0;
            if (!PositionFileAtBufferEnd(s)) break;
            const int32_t r = io::Read(s.file, in.bytes.data(), kInputBufferBytes);
            in.file_pos += r;
            in.length = r;
            if (r == 0) break;
        }
        int32_t take = in.length - in.pos;
        if (take > n - got) take = n - got;
        std::memcpy(out + got, in.bytes.data() + in.pos, static_cast<size_t>(take));
        in.pos += take;
        got += take;
    }
    return got;
}

// The buffered bytes are forgotten, so the next read sees what the file holds
// now: repositioning (rewind, seek, step back) answers from the file itself,
// even when it was changed since it was buffered.
void DropInputBuffer(DecoderState& s) {
    InputBuffer& in = s.input;
    in.start += in.pos;
    in.length = in.pos = 0;
}

// Moves to offset and fills the buffer from there, so that reads of the bytes
// that follow, in any order, cost no further file access.
void PrefetchInput(DecoderState& s, int64_t offset) {
    SeekInputTo(s, offset);
    uint8_t first;
    if (ReadInput(s, &first, 1) == 1) SeekInputBy(s, -1);
}

// A target inside the buffered bytes moves within them; any other target
// empties the buffer, and the next read fills it from there.
int32_t SeekInputTo(DecoderState& s, int64_t offset) {
    InputBuffer& in = s.input;
    if (offset < 0) return -1;
    if (offset >= in.start && offset <= in.start + in.length) {
        in.pos = static_cast<int32_t>(offset - in.start);
    } else {
        in.start = offset;
        in.length = in.pos = 0;
    }
    return 0;
}

int32_t SeekInputBy(DecoderState& s, int64_t delta) { return SeekInputTo(s, TellInput(s) + delta); }

int64_t TellInput(const DecoderState& s) { return s.input.start + s.input.pos; }

int64_t InputLength(DecoderState& s) { return io::Length(s.file); }

}  // namespace quv3
