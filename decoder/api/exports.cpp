#include "decoder/api/decoder_state.h"
#include "decoder/api/quv3.h"

namespace {

// The one stream of the process.
quv3::DecoderState g_state;
// Target for the PCM of a host that passes no buffer, and of the frames a seek
// or step back decodes on the way: the frames are still consumed.
int16_t g_discard[QUV3_PCM_BUFFER_BYTES / 2];

bool FileOpen() { return g_state.stream.file != quv3::io::kNoFile; }

// Once per process, on the first InitQuv, even when that call then fails.
void ChooseKernels() {
    if (g_state.tables_pending == 1) quv3::UseKernelLevel(quv3::CpuKernelLevel());
}

void Describe(const quv3::StreamDescription& d, StreamInfo& info) {
    info.version = static_cast<int16_t>(d.version);
    info.layer = 3;
    info.channels = static_cast<int16_t>(d.channels);
    info.bitrate = d.bitrate;
    info.sample_rate = d.sample_rate;
    info.bits_per_sample = 16;
    info.samples_per_frame = static_cast<int16_t>(d.samples_per_frame);
    info.total_samples = d.total_samples;
    info.vbr = d.vbr;
}

}  // namespace

namespace quv3 {

int32_t UseKernelLevel(int32_t level) {
    const int32_t most = CpuKernelLevel();
    if (level > most) level = most;
    if (level < 0) level = 0;
    g_state.kernels = &KernelsAt(level);
    g_state.tables_pending = 0;
    return level;
}

}  // namespace quv3

extern "C" {

int32_t InitQuv(const char* path, StreamInfo** info) {
    using namespace quv3;
    DecoderState& s = g_state;
    // A stream left open by an earlier InitQuv is closed: its descriptor would
    // otherwise be unreachable for the rest of the process.
    if (FileOpen()) CloseInput(s.stream);
    ClearDecoderMemories(s.frame);
    ChooseKernels();
    StreamDescription d{};
    const int32_t r = OpenStream(s.stream, path, d);
    if (r == -6) {
        // The description is written as far as the stream was read.
        s.stream_info.version = static_cast<int16_t>(d.version);
        s.stream_info.channels = static_cast<int16_t>(d.channels);
        s.stream_info.samples_per_frame = static_cast<int16_t>(d.samples_per_frame);
    }
    if (r != 0) return r;
    Describe(d, s.stream_info);
    s.status = 0;
    if (info != nullptr) *info = &s.stream_info;
    return 0;
}

int32_t Quv(int16_t* pcm) {
    using namespace quv3;
    DecoderState& s = g_state;
    // Without an open stream there is nothing to decode.
    if (!FileOpen()) return -4;
    if (s.status != -4) {
        DecodeFrame(*s.kernels, s.stream, s.frame, pcm != nullptr ? pcm : g_discard);
        if (ReadNextHeader(s.stream) != 0) s.status = -4;
    }
    if (s.frame.call_count < 0x7FFFFFFF) ++s.frame.call_count;
    return s.status;
}

// Both land on a frame as the stream's own frame boundaries give it, then
// restore the memories a straight decode has there: the next Quv delivers that
// frame's exact samples.
int32_t QuvOneBck(void) {
    using namespace quv3;
    if (!FileOpen()) return 0;
    StepBack(g_state.stream);
    PreRoll(*g_state.kernels, g_state.stream, g_state.frame, g_discard);
    return 0;
}

int32_t SeekQuv(float fraction) {
    using namespace quv3;
    if (!FileOpen()) return -4;
    if (SeekFraction(g_state.stream, fraction) != 0) {
        g_state.status = -4;
        return -4;
    }
    PreRoll(*g_state.kernels, g_state.stream, g_state.frame, g_discard);
    return 0;
}

int32_t ResetQuv(void) {
    using namespace quv3;
    if (!FileOpen()) return -1;
    ClearDecoderMemories(g_state.frame);
    g_state.status = 0;
    return Rewind(g_state.stream);
}

int32_t ExitQuv(void) {
    using namespace quv3;
    const int32_t r = io::Close(g_state.stream.file);
    g_state.stream.file = io::kNoFile;
    return r;
}

}  // extern "C"
