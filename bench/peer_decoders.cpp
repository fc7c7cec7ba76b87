#include "bench/peer_decoders.h"

#include <mpg123.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <vector>

#include "quv3.h"
#include "quv3_decoder.h"
#ifdef QUV3_BENCH_MAD
#include <mad.h>
#endif

namespace bench {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]));
}

Result DecodeQuv(const char* path) {
    Result r;
    StreamInfo* info = nullptr;
    if (InitQuv(path, &info) != 0) return r;
    static int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    uint64_t frames = 0;
    for (int rc = 0; rc == 0;) {
        rc = Quv(pcm);
        r.checksum += static_cast<uint16_t>(pcm[100]);
        ++frames;
    }
    r.audio_seconds = static_cast<double>(frames) * info->samples_per_frame / info->sample_rate;
    ExitQuv();
    return r;
}

// The re-entrant API, 16-bit, not gapless: the same frames as the exports.
Result DecodeQuvApi(const char* path) {
    Result r;
    static void* memory = std::aligned_alloc(quv3_decoder_alignment(), quv3_decoder_size());
    quv3_decoder* d = quv3_decoder_init(memory, quv3_decoder_size());
    if (!d || quv3_open_file(d, path, 0) != 0) return r;
    quv3_info info;
    quv3_get_info(d, &info);
    static int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    uint64_t samples = 0;
    for (;;) {
        int32_t n = 0;
        if (quv3_decode_frame(d, pcm, QUV3_S16, &n) != 0) break;
        r.checksum += static_cast<uint16_t>(pcm[100]);
        samples += static_cast<uint64_t>(n);
    }
    r.audio_seconds = static_cast<double>(samples) / info.sample_rate;
    quv3_close(d);
    return r;
}

Result DecodeMpg123(const char* path) {
    Result r;
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return r;
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    for (long rate : {16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path) != MPG123_OK) {
        mpg123_delete(h);
        return r;
    }
    long rate = 0;
    int channels = 0, enc = 0;
    mpg123_getformat(h, &rate, &channels, &enc);
    static unsigned char buf[1 << 16];
    uint64_t bytes = 0;
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(h, buf, sizeof buf, &done);
        bytes += done;
        if (done > 200) r.checksum += buf[200];
        if (rc == MPG123_NEW_FORMAT) {
            mpg123_getformat(h, &rate, &channels, &enc);
            continue;
        }
        if (rc != MPG123_OK) break;
    }
    r.audio_seconds = rate > 0 && channels > 0 ? static_cast<double>(bytes) / (2.0 * channels * rate) : 0;
    mpg123_close(h);
    mpg123_delete(h);
    return r;
}

#ifdef QUV3_BENCH_MAD
namespace {

int16_t MadScale(mad_fixed_t s) {
    s += 1L << (MAD_F_FRACBITS - 16);
    if (s >= MAD_F_ONE) s = MAD_F_ONE - 1;
    if (s < -MAD_F_ONE) s = -MAD_F_ONE;
    return static_cast<int16_t>(s >> (MAD_F_FRACBITS + 1 - 16));
}

}  // namespace

Result DecodeMad(const char* path) {
    Result r;
    FILE* f = std::fopen(path, "rb");
    if (!f) return r;
    std::vector<unsigned char> data;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    data.resize(data.size() + MAD_BUFFER_GUARD, 0);
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, data.data(), data.size());
    static int16_t out[1152 * 2];
    uint64_t samples = 0;
    unsigned rate = 0;
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error)) continue;
            break;
        }
        mad_synth_frame(&synth, &frame);
        const mad_pcm& pcm = synth.pcm;
        for (unsigned i = 0; i < pcm.length; ++i) {
            out[2 * i] = MadScale(pcm.samples[0][i]);
            if (pcm.channels == 2) out[2 * i + 1] = MadScale(pcm.samples[1][i]);
        }
        r.checksum += static_cast<uint16_t>(out[100]);
        samples += pcm.length;
        rate = pcm.samplerate;
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    r.audio_seconds = rate ? static_cast<double>(samples) / rate : 0;
    return r;
}
#endif

}  // namespace bench
