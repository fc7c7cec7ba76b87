#include "decoder/stream/byte_source.h"

#include <cstring>

namespace quv3 {

int32_t AttachFile(ByteSource& s, const char* path, bool utf8) {
    s = ByteSource{};
    s.file = io::OpenRead(path, utf8);
    if (s.file == io::kNoFile) return -5;
    s.kind = SourceKind::kFile;
    return 0;
}

int32_t AttachMemory(ByteSource& s, const void* data, int64_t size) {
    s = ByteSource{};
    if (data == nullptr || size < 0) return -5;
    s.kind = SourceKind::kMemory;
    s.memory = static_cast<const uint8_t*>(data);
    s.memory_size = size;
    return 0;
}

int32_t AttachReader(ByteSource& s, const ReaderCallbacks& reader) {
    s = ByteSource{};
    if (reader.read == nullptr) return -5;
    s.kind = SourceKind::kReader;
    s.reader = reader;
    return 0;
}

int32_t DetachSource(ByteSource& s) {
    int32_t r = s.kind == SourceKind::kNone ? -1 : 0;
    if (s.kind == SourceKind::kFile) r = io::Close(s.file);
    s = ByteSource{};
    return r;
}

bool SourceAttached(const ByteSource& s) { return s.kind != SourceKind::kNone; }

bool SourceCanSeek(const ByteSource& s) {
    return s.kind == SourceKind::kFile || s.kind == SourceKind::kMemory ||
           (s.kind == SourceKind::kReader && s.reader.seek != nullptr);
}

int32_t SourceRead(ByteSource& s, void* buffer, int32_t n) {
    if (n <= 0) return 0;
    switch (s.kind) {
        case SourceKind::kFile:
            return io::Read(s.file, buffer, n);
        case SourceKind::kMemory: {
            const int64_t left = s.position < s.memory_size ? s.memory_size - s.position : 0;
            const int32_t take = left < n ? static_cast<int32_t>(left) : n;
            if (take > 0) std::memcpy(buffer, s.memory + s.position, static_cast<size_t>(take));
            s.position += take;
            return take;
        }
        case SourceKind::kReader: {
            // A reader may deliver less than asked before its end (a pipe, a
            // socket): it is asked again until the count is reached or it ends.
            auto* out = static_cast<uint8_t*>(buffer);
            int32_t got = 0;
            while (got < n && !s.read_failed) {
                const int64_t r = s.reader.read(s.reader.user, out + got, n - got);
                if (r < 0) s.read_failed = true;
                if (r <= 0) break;
                got += static_cast<int32_t>(r > n - got ? n - got : r);
            }
            s.position += got;
            return got;
        }
        case SourceKind::kNone:
            break;
    }
    return 0;
}

int32_t SourceSeek(ByteSource& s, int64_t offset) {
    if (offset < 0) return -1;
    switch (s.kind) {
        case SourceKind::kFile:
            return io::SeekTo(s.file, offset);
        case SourceKind::kMemory:
            s.position = offset;
            return 0;
        case SourceKind::kReader:
            if (s.reader.seek == nullptr || s.reader.seek(s.reader.user, offset) < 0) return -1;
            s.position = offset;
            s.read_failed = false;
            return 0;
        case SourceKind::kNone:
            break;
    }
    return -1;
}

int64_t SourceLength(const ByteSource& s) {
    switch (s.kind) {
        case SourceKind::kFile:
            return io::Length(s.file);
        case SourceKind::kMemory:
            return s.memory_size;
        case SourceKind::kReader: {
            const int64_t n = s.reader.size != nullptr ? s.reader.size(s.reader.user) : -1;
            return n < 0 ? -1 : n;
        }
        case SourceKind::kNone:
            break;
    }
    return -1;
}

}  // namespace quv3
