// The six exports: thin wrappers over one decoder of the re-entrant API in
// static storage, with the results and the stream description legacy hosts
// read.
#include "decoder/api/decoder.h"
#include "decoder/api/exports.h"
#include "decoder/api/quv3.h"

namespace {

// The one stream of the process.
quv3_decoder g_decoder;
StreamInfo g_stream_info;
// Until the first InitQuv (or a test) has made the decoder ready and chosen its kernels.
int32_t g_kernels_not_chosen = 1;

bool FileOpen() { return quv3::SourceAttached(g_decoder.stream.source); }

// Once per process, on the first InitQuv, even when that call then fails.
void PrepareOnce() {
    if (g_kernels_not_chosen == 1) quv3::UseKernelLevel(quv3::CpuKernelLevel());
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
    if (g_kernels_not_chosen == 1) InitDecoder(g_decoder);
    g_decoder.kernels = &KernelsAt(level);
    g_kernels_not_chosen = 0;
    return level;
}

}  // namespace quv3

extern "C" {

int32_t InitQuv(const char* path, StreamInfo** info) {
    using namespace quv3;
    // A stream left open by an earlier InitQuv is closed: its descriptor would
    // otherwise be unreachable for the rest of the process.
    if (FileOpen()) CloseInput(g_decoder.stream);
    PrepareOnce();
    if (AttachFile(g_decoder.stream.source, path, false) != 0) {
        ClearDecoderMemories(g_decoder.frame);
        return -5;
    }
    const int32_t r = OpenDecoder(g_decoder, OpenRules{});
    const StreamDescription& d = g_decoder.description;
    if (r == -6) {
        // The description is written as far as the stream was read.
        g_stream_info.version = static_cast<int16_t>(d.version);
        g_stream_info.channels = static_cast<int16_t>(d.channels);
        g_stream_info.samples_per_frame = static_cast<int16_t>(d.samples_per_frame);
    }
    if (r != 0) return r;
    Describe(d, g_stream_info);
    g_decoder.open = 1;
    if (info != nullptr) *info = &g_stream_info;
    return 0;
}

int32_t Quv(int16_t* pcm) {
    // Without an open stream there is nothing to decode.
    if (!FileOpen()) return -4;
    quv3::DecodeInto(g_decoder, quv3::PcmOut{pcm});
    return g_decoder.frame.status;
}

// Both land on a frame as the stream's own frame boundaries give it, then
// restore the memories a straight decode has there: the next Quv delivers that
// frame's exact samples.
int32_t QuvOneBck(void) {
    if (!FileOpen()) return 0;
    quv3::StepBack(g_decoder.stream);
    quv3::SettleAfterMove(g_decoder);
    return 0;
}

int32_t SeekQuv(float fraction) {
    if (!FileOpen()) return -4;
    if (quv3::SeekFraction(g_decoder.stream, fraction) != 0) {
        g_decoder.frame.status = -4;
        return -4;
    }
    quv3::SettleAfterMove(g_decoder);
    return 0;
}

int32_t ResetQuv(void) {
    if (!FileOpen()) return -1;
    return quv3::RewindDecoder(g_decoder);
}

int32_t ExitQuv(void) {
    g_decoder.open = 0;
    return quv3::DetachSource(g_decoder.stream.source);
}

}  // extern "C"
