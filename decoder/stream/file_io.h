#pragma once

#include <cstdint>

// The only place the decoder touches the operating system: a file opened
// read-only as bytes, read, positioned and closed.
namespace quv3::io {

using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

// kNoFile on failure. The path is in the system's 8-bit code page, or in
// UTF-8 when utf8 is set (the same thing but on Windows).
FileHandle OpenRead(const char* path, bool utf8 = false);
// Reads up to n bytes; returns the count delivered (0 at the end or on error).
int32_t Read(FileHandle f, void* buffer, int32_t n);
// 0, or -1 when the target lies before the start of the file (the position is
// then unchanged).
int32_t SeekTo(FileHandle f, int64_t offset);
int64_t Length(FileHandle f);
int32_t Close(FileHandle f);  // 0, or -1 when f is not open

}  // namespace quv3::io
