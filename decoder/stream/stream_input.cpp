#include <cstring>

#include "decoder/stream/stream.h"

namespace quv3 {
namespace {

// Brings the operating system's file position to the buffer's end, where the
// next fill reads; it differs only after a seek outside the buffer.
bool PositionFileAtBufferEnd(Stream& in) {
    InputBuffer& buf = in.input;
    const int64_t end = buf.start + buf.length;
    if (buf.file_pos == end) return true;
    if (io::SeekTo(in.file, end) != 0) return false;
    buf.file_pos = end;
    return true;
}

}  // namespace

int32_t OpenInput(Stream& in, const char* path) {
    in.file = io::OpenRead(path);
    in.input.start = in.input.file_pos = 0;
    in.input.length = in.input.pos = 0;
    return in.file == io::kNoFile ? -5 : 0;
}

void CloseInput(Stream& in) {
    io::Close(in.file);
    in.file = io::kNoFile;
}

// Frames are read a buffer at a time instead of three reads per frame; the
// result is what unbuffered reads at the same positions would deliver.
int32_t ReadInput(Stream& in, void* buffer, int32_t n) {
    InputBuffer& buf = in.input;
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t got = 0;
    while (got < n) {
        if (buf.pos == buf.length) {
            // Drained: the buffer moves on to the current position.
            buf.start += buf.pos;
            buf.length = buf.pos = 0;
            if (!PositionFileAtBufferEnd(in)) break;
            const int32_t r = io::Read(in.file, buf.bytes.data(), kInputBufferBytes);
            buf.file_pos += r;
            buf.length = r;
            if (r == 0) break;
        }
        int32_t take = buf.length - buf.pos;
        if (take > n - got) take = n - got;
        std::memcpy(out + got, buf.bytes.data() + buf.pos, static_cast<size_t>(take));
        buf.pos += take;
        got += take;
    }
    return got;
}

// The buffered bytes are forgotten, so the next read sees what the file holds
// now: repositioning (rewind, seek, step back) answers from the file itself,
// even when it was changed since it was buffered.
void DropInputBuffer(Stream& in) {
    InputBuffer& buf = in.input;
    buf.start += buf.pos;
    buf.length = buf.pos = 0;
}

// Moves to offset and fills the buffer from there, so that reads of the bytes
// that follow, in any order, cost no further file access.
void PrefetchInput(Stream& in, int64_t offset) {
    SeekInputTo(in, offset);
    uint8_t first;
    if (ReadInput(in, &first, 1) == 1) SeekInputBy(in, -1);
}

// A target inside the buffered bytes moves within them; any other target
// empties the buffer, and the next read fills it from there.
int32_t SeekInputTo(Stream& in, int64_t offset) {
    InputBuffer& buf = in.input;
    if (offset < 0) return -1;
    if (offset >= buf.start && offset <= buf.start + buf.length) {
        buf.pos = static_cast<int32_t>(offset - buf.start);
    } else {
        buf.start = offset;
        buf.length = buf.pos = 0;
    }
    return 0;
}

int32_t SeekInputBy(Stream& in, int64_t delta) { return SeekInputTo(in, TellInput(in) + delta); }

int64_t TellInput(const Stream& in) { return in.input.start + in.input.pos; }

int64_t InputLength(const Stream& in) { return io::Length(in.file); }

}  // namespace quv3
