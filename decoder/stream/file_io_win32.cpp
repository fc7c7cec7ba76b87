// The decoder's file access on Windows: the file opened read-only as bytes.
#include <windows.h>

#include "decoder/stream/file_io.h"

namespace quv3::io {
namespace {

HANDLE AsHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

}  // namespace

// A UTF-8 path is converted to UTF-16 on the stack: no allocation. Paths of
// more than kWidePath UTF-16 units do not open.
constexpr int kWidePath = 4096;

FileHandle OpenRead(const char* path, bool utf8) {
    if (path == nullptr) return kNoFile;
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h;
    if (utf8) {
        wchar_t wide[kWidePath];
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, kWidePath) == 0) return kNoFile;
        h = CreateFileW(wide, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    } else {
        h = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

int32_t Read(FileHandle f, void* buffer, int32_t n) {
    auto* p = static_cast<unsigned char*>(buffer);
    int32_t got = 0;
    while (got < n) {
        DWORD done = 0;
        if (!ReadFile(AsHandle(f), p + got, static_cast<DWORD>(n - got), &done, nullptr) || done == 0) break;
        got += static_cast<int32_t>(done);
    }
    return got;
}

int32_t SeekTo(FileHandle f, int64_t offset) {
    if (offset < 0) return -1;
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    return SetFilePointerEx(AsHandle(f), to, nullptr, FILE_BEGIN) ? 0 : -1;
}

int64_t Length(FileHandle f) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(AsHandle(f), &size) ? size.QuadPart : 0;
}

int32_t Close(FileHandle f) {
    if (f == kNoFile) return -1;
    return CloseHandle(AsHandle(f)) ? 0 : -1;
}

}  // namespace quv3::io
