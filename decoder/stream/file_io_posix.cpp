#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "decoder/stream/file_io.h"

namespace quv3::io {

FileHandle OpenRead(const char* path, bool) {
    if (path == nullptr) return kNoFile;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoFile : fd;
}

int32_t Read(FileHandle f, void* buffer, int32_t n) {
    auto* p = static_cast<unsigned char*>(buffer);
    int32_t got = 0;
    while (got < n) {
        ssize_t r = ::read(static_cast<int>(f), p + got, static_cast<size_t>(n - got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<int32_t>(r);
    }
    return got;
}

int32_t SeekTo(FileHandle f, int64_t offset) {
    if (offset < 0) return -1;
    return ::lseek(static_cast<int>(f), static_cast<off_t>(offset), SEEK_SET) < 0 ? -1 : 0;
}

int64_t Length(FileHandle f) {
    struct stat st;
    if (::fstat(static_cast<int>(f), &st) != 0) return 0;
    return st.st_size;
}

int32_t Close(FileHandle f) {
    if (f == kNoFile) return -1;
    return ::close(static_cast<int>(f)) == 0 ? 0 : -1;
}

}  // namespace quv3::io
