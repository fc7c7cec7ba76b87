#include "tests/support/api_decode.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace quv3::test {

void DecodeRestWithApi(quv3_decoder* d, ApiDecoded& out, int32_t format) {
    std::vector<float> buf(QUV3_MAX_FRAME_VALUES);
    int32_t r = 0;
    while (r == 0 && out.calls < (1 << 22)) {
        int32_t n = 0;
        r = quv3_decode_frame(d, buf.data(), format, &n);
        ++out.calls;
        if (n == 0) ++out.empty_calls;
        const size_t values = static_cast<size_t>(n) * static_cast<size_t>(out.info.channels);
        if (format == QUV3_F32) {
            out.floats.insert(out.floats.end(), buf.begin(), buf.begin() + static_cast<ptrdiff_t>(values));
        } else {
            const auto* s = reinterpret_cast<const int16_t*>(buf.data());
            out.pcm.insert(out.pcm.end(), s, s + values);
        }
    }
}

ApiDecoded DecodeWithApi(const std::function<int32_t(quv3_decoder*)>& open, int32_t format) {
    OwnedDecoder dec;
    ApiDecoded out;
    out.open_result = open(dec.d);
    if (out.open_result != 0) return out;
    quv3_get_info(dec.d, &out.info);
    DecodeRestWithApi(dec.d, out, format);
    return out;
}

ApiDecoded DecodeFileWithApi(const std::string& path, int32_t format) {
    return DecodeWithApi([&](quv3_decoder* d) { return quv3_open_file(d, path.c_str(), 0); }, format);
}

Pipe::Pipe(const Bytes& bytes) {
    if (pipe(fds) != 0) return;
    writer = fork();
    if (writer == 0) {
        close(fds[0]);
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min<size_t>(3000, bytes.size() - at);
            const ssize_t w = write(fds[1], bytes.data() + at, n);
            if (w <= 0) break;
            at += static_cast<size_t>(w);
        }
        _exit(0);
    }
    close(fds[1]);
}

// What the reader left is read away first, so the writer ends on its own.
Pipe::~Pipe() {
    char rest[4096];
    while (fds[0] >= 0 && read(fds[0], rest, sizeof rest) > 0) {
    }
    close(fds[0]);
    if (writer > 0) waitpid(writer, nullptr, 0);
}

int64_t Pipe::Read(void* u, void* buffer, int64_t n) {
    return read(static_cast<Pipe*>(u)->fds[0], buffer, static_cast<size_t>(n));
}

std::vector<std::string> AllStreamPaths() {
    std::vector<std::string> paths;
    for (const auto& [name, path] : TestStreams(QUV3_FIXTURES, QUV3_ISO_VECTORS)) paths.push_back(path);
    return paths;
}

}  // namespace quv3::test
