// Decoders are independent: eight threads at once, on different files and on
// the same file, each deliver exactly what a decode on its own delivers. Run
// under ThreadSanitizer by scripts/test, which reports any shared state.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/support/api_decode.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

TEST(DecoderThreads, EightAtOnceMatchTheSerialDecodes) {
    std::vector<std::string> paths;
    for (const char* name : {"j44_128.mp3", "vbr44_xing.mp3", "j22_64_lsf.mp3", "m32_64.mp3"})
        paths.push_back(std::string(QUV3_FIXTURES) + "/" + name);
    std::vector<Pcm> serial;
    for (const auto& p : paths) serial.push_back(DecodeFileWithApi(p).pcm);
    // Threads 0..3 take a file each, 4..7 all the first one (5 and 7 from
    // memory); every one of them seeks back to the start once.
    const Bytes shared = ReadFileBytes(paths[0]);
    std::vector<Pcm> got(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const std::string& path = paths[t < 4 ? t : 0];
            OwnedDecoder dec;
            const int32_t r = t == 5 || t == 7 ? quv3_open_memory(dec.d, shared.data(), shared.size(), 0)
                                               : quv3_open_file(dec.d, path.c_str(), 0);
            if (r != 0) return;
            ApiDecoded out;
            quv3_get_info(dec.d, &out.info);
            int16_t pcm[QUV3_MAX_FRAME_VALUES];
            for (int i = 0; i < 5; ++i) quv3_decode_frame(dec.d, pcm, QUV3_S16, nullptr);
            if (quv3_seek_fraction(dec.d, 0.0) != 0) return;
            DecodeRestWithApi(dec.d, out);
            got[t] = std::move(out.pcm);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(got[t], serial[t < 4 ? t : 0]) << "thread " << t;
    }
}

}  // namespace
}  // namespace quv3::test
