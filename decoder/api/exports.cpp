#include "decoder/api/decoder_state.h"
#include "decoder/api/quv3.h"
#include "decoder/layer3/layer3.h"
#include "decoder/stream/stream.h"

namespace {

// The one stream of the process.
quv3::DecoderState g_state;
// Target for the PCM of a host that passes no buffer: the frame is still consumed.
int16_t g_discard[QUV3_PCM_BUFFER_BYTES / 2];

bool FileOpen() { return g_state.file != quv3::io::kNoFile; }

}  // namespace

extern "C" {

int32_t InitQuv(const char* path, StreamInfo** info) {
    using namespace quv3;
    DecoderState& s = g_state;
    // A stream left open by an earlier InitQuv is closed: its descriptor would
    // otherwise be unreachable for the rest of the process.
    if (FileOpen()) {
        CloseInput(s);
    }
    ClearDecoderMemories(s);
    PrepareTables(s);
    const int32_t r = OpenStream(s, path);
    if (r == 0 && info != nullptr) *info = &s.stream_info;
    return r;
}

int32_t Quv(int16_t* pcm) {
    using namespace quv3;
    DecoderState& s = g_state;
    // Without an open stream there is nothing to decode.
    if (!FileOpen()) return -4;
    if (s.status != -4) {
        DecodeFrame(s, pcm != nullptr ? pcm : g_discard);
        if (ReadNextHeader(s) != 0) s.status = -4;
    }
    if (s.call_count < 0x7FFFFFFF) ++s.call_count;
    return s.status;
}

// Both land on a frame as the stream's own frame boundaries give it, then
// restore the memories a straight decode has there: the next Quv delivers that
// frame's exact samples.
int32_t QuvOneBck(void) {
    if (!FileOpen()) return 0;
    quv3::StepBack(g_state);
    quv3::PreRoll(g_state, g_discard);
    return 0;
}

int32_t SeekQuv(float fraction) {
    if (!FileOpen()) return -4;
    const int32_t r = quv3::SeekFraction(g_state, fraction);
    if (r == 0) quv3::PreRoll(g_state, g_discard);
    return r;
}

int32_t ResetQuv(void) {
    using namespace quv3;
    if (!FileOpen()) return -1;
    ClearDecoderMemories(g_state);
    return Rewind(g_state);
}

int32_t ExitQuv(void) {
    using namespace quv3;
    const int32_t r = io::Close(g_state.file);
    g_state.file = io::kNoFile;
    return r;
}

}  // extern "C"
