// Feeds arbitrary bytes to a decoder of the re-entrant API, from memory: no
// file is written, so it runs far faster than the exports' target. The first
// byte gives the number of control bytes that follow (its low six bits, at
// most 32), whether the bytes come through a reader that cannot seek and
// delivers them in small pieces (0x40), and the sample format (0x80: floats).
// Each control byte picks a call (decode, seek to a fraction from the byte,
// step back, rewind, a seek to an impossible fraction); the rest is the
// input. Afterwards the decoder runs to the end of the stream. The text of
// the tags is read after opening.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "decoder/api/quv3_decoder.h"

namespace {

struct Pieces {
    const uint8_t* data;
    size_t size, at;
    static int64_t Read(void* u, void* buffer, int64_t n) {
        auto* p = static_cast<Pieces*>(u);
        // 1 to 3001 bytes a read, as a pipe may deliver them.
        int64_t take = 1 + static_cast<int64_t>((p->at * 7919u) % 3001u);
        if (take > n) take = n;
        if (take > static_cast<int64_t>(p->size - p->at)) take = static_cast<int64_t>(p->size - p->at);
        std::memcpy(buffer, p->data + p->at, static_cast<size_t>(take));
        p->at += static_cast<size_t>(take);
        return take;
    }
};

alignas(64) unsigned char g_memory[1 << 17];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || quv3_decoder_size() > sizeof g_memory) return 0;
    size_t ops = (data[0] & 0x3F) % 33;
    if (ops + 1 > size) ops = size - 1;
    const bool piecewise = data[0] & 0x40;
    const int32_t format = data[0] & 0x80 ? QUV3_F32 : QUV3_S16;
    const uint8_t* control = data + 1;
    const uint8_t* input = data + 1 + ops;
    const size_t input_size = size - 1 - ops;

    quv3_decoder* d = quv3_decoder_init(g_memory, sizeof g_memory);
    Pieces pieces{input, input_size, 0};
    const quv3_reader reader{Pieces::Read, nullptr, nullptr, &pieces};
    const int32_t opened = piecewise ? quv3_open_reader(d, &reader, 0) : quv3_open_memory(d, input, input_size, 0);
    if (opened == 0) {
        quv3_info info;
        if (quv3_get_info(d, &info) != 0 || info.channels < 1 || info.channels > 2) __builtin_trap();
        // Every field of the tags' text ends within its size.
        quv3_tags tags;
        std::memset(&tags, 0x55, sizeof tags);
        if (quv3_get_tags(d, &tags) != 0) __builtin_trap();
        for (const char* f : {tags.title, tags.artist, tags.album, tags.year, tags.track, tags.genre, tags.comment})
            if (std::memchr(f, 0, QUV3_TAG_TEXT_BYTES) == nullptr) __builtin_trap();
        float pcm[QUV3_MAX_FRAME_VALUES + 8];
        const float guard = 12345.0f;
        for (int g = 0; g < 8; ++g) pcm[QUV3_MAX_FRAME_VALUES + g] = guard;
        int32_t n = 0;
        for (size_t i = 0; i < ops; ++i) {
            const uint8_t op = control[i];
            switch (op & 7) {
                case 4:
                    quv3_seek_fraction(d, static_cast<double>(op >> 3) / 25.0 - 0.1);
                    break;
                case 5:
                    quv3_step_back(d);
                    break;
                case 6:
                    quv3_rewind(d);
                    break;
                case 7:
                    quv3_seek_fraction(d, op & 8 ? -INFINITY : NAN);
                    break;
                default:
                    quv3_decode_frame(d, pcm, format, &n);
            }
        }
        for (int calls = 0; calls < 20000 && quv3_decode_frame(d, pcm, format, &n) == 0; ++calls) {
            if (n < 0 || n > QUV3_MAX_FRAME_SAMPLES) __builtin_trap();
        }
        for (int g = 0; g < 8; ++g)
            if (pcm[QUV3_MAX_FRAME_VALUES + g] != guard) __builtin_trap();
        quv3_damage damage;
        if (quv3_get_damage(d, &damage) != 0 || damage.skipped_bytes < 0) __builtin_trap();
        quv3_close(d);
    }
    return 0;
}
