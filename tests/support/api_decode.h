#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoder/api/quv3_decoder.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {

// Everything the decoder delivers from its position to the end, the samples
// of each call appended; the calls that wrote nothing count too.
struct ApiDecoded {
    int32_t open_result = 0;
    quv3_info info{};
    Pcm pcm;
    std::vector<float> floats;
    int calls = 0;
    int empty_calls = 0;
};
void DecodeRestWithApi(quv3_decoder* d, ApiDecoded& out, int32_t format = QUV3_S16);

// Opens through open (returning its result), then decodes everything.
ApiDecoded DecodeWithApi(const std::function<int32_t(quv3_decoder*)>& open, int32_t format = QUV3_S16);
ApiDecoded DecodeFileWithApi(const std::string& path, int32_t format = QUV3_S16);

// A real pipe, fed by a child process in chunks of 3000 bytes: the reader
// gets whatever each read(2) delivers, and cannot seek. A process rather than
// a thread, so that the tests run under the emulator of a cross build, whose
// threads do not.
struct Pipe {
    int fds[2] = {-1, -1};
    int writer = -1;  // the child's process id
    explicit Pipe(const Bytes& bytes);
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    static int64_t Read(void* u, void* buffer, int64_t n);
    quv3_reader Reader() { return quv3_reader{Read, nullptr, nullptr, this}; }
};

// The fixtures and the ISO streams (when present), as paths.
std::vector<std::string> AllStreamPaths();

}  // namespace quv3::test
