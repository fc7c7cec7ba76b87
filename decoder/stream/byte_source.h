#pragma once

#include <cstdint>

#include "decoder/stream/file_io.h"

// Where a stream's bytes come from: a file, a block of the caller's memory, or
// the caller's read (and optional seek and size) callbacks. The stream reads
// all three through the same few calls.
namespace quv3 {

// The caller's callbacks. read delivers up to n bytes and returns the count
// (0 at the end, negative on an error); seek moves to an absolute offset (0,
// or negative when it cannot); size gives the input's length (negative when
// unknown). Without seek the input is a stream: it is read forward only.
struct ReaderCallbacks {
    int64_t (*read)(void* user, void* buffer, int64_t n);
    int32_t (*seek)(void* user, int64_t offset);
    int64_t (*size)(void* user);
    void* user;
};

enum class SourceKind : int32_t { kNone, kFile, kMemory, kReader };

struct ByteSource {
    SourceKind kind = SourceKind::kNone;
    io::FileHandle file = io::kNoFile;
    const uint8_t* memory = nullptr;
    int64_t memory_size = 0;
    ReaderCallbacks reader{};
    int64_t position = 0;  // of a memory or reader source
    bool read_failed = false;  // the reader reported an error: read as the end
};

// Each returns 0, or -5 when the input cannot be opened (a missing file, a
// null block or read callback). The path of a file is in the system's 8-bit
// code page, or UTF-8 when utf8 is set (they differ on Windows only).
int32_t AttachFile(ByteSource& s, const char* path, bool utf8);
int32_t AttachMemory(ByteSource& s, const void* data, int64_t size);
int32_t AttachReader(ByteSource& s, const ReaderCallbacks& reader);
// Closes a file; 0, or -1 when nothing was attached. The source is then none.
int32_t DetachSource(ByteSource& s);

bool SourceAttached(const ByteSource& s);
bool SourceCanSeek(const ByteSource& s);
// Up to n bytes: the count delivered, 0 at the end or on an error.
int32_t SourceRead(ByteSource& s, void* buffer, int32_t n);
// 0, or -1 when the target lies before the start or the source cannot move.
int32_t SourceSeek(ByteSource& s, int64_t offset);
// The length in bytes, or -1 when unknown.
int64_t SourceLength(const ByteSource& s);

}  // namespace quv3
