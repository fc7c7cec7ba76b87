// Feeds arbitrary files to the decoder through its six exports. The first byte
// gives the number of control bytes that follow (at most 32); each picks a call
// (Quv, SeekQuv with a fraction from the next byte, QuvOneBck, ResetQuv). The
// rest is the file. Afterwards Quv runs to the end of the stream.
#include <cstdint>
#include <cstring>

#include "decoder/api/quv3.h"
#include "tests/fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t ops = data[0] % 33;
    if (ops + 1 > size) ops = size - 1;
    const uint8_t* control = data + 1;
    const std::string path = fuzz::ScratchDir() + "/stream.mp3";
    if (!fuzz::WriteFile(path, data + 1 + ops, size - 1 - ops)) return 0;

    StreamInfo* info = nullptr;
    if (InitQuv(path.c_str(), &info) == 0) {
        int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2 + 8];
        pcm[QUV3_PCM_BUFFER_BYTES / 2] = 0x5A5A;  // a guard: nothing is written past 4608 bytes
        for (size_t i = 0; i < ops; ++i) {
            const uint8_t op = control[i];
            switch (op & 7) {
                case 4:
                    SeekQuv(static_cast<float>(op >> 3) / 25.0f - 0.1f);
                    break;
                case 5:
                    QuvOneBck();
                    break;
                case 6:
                    ResetQuv();
                    break;
                case 7:
                    SeekQuv(op & 8 ? -1.0f / 0.0f : __builtin_nanf(""));
                    break;
                default:
                    Quv(pcm);
            }
        }
        for (int calls = 0; calls < 20000 && Quv(pcm) == 0; ++calls) {
        }
        if (pcm[QUV3_PCM_BUFFER_BYTES / 2] != 0x5A5A) __builtin_trap();
        if (info->layer != 3) __builtin_trap();
    }
    ExitQuv();
    return 0;
}
