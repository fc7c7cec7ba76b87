// quvbench: decodes the same files with quv3 and with libmpg123 (and libmad
// when built with it) alternately, several rounds, and reports audio seconds
// decoded per CPU second, the median ratio ours/peer, and with --callgrind the
// instructions per audio second counted by valgrind.
//
// quvbench [--rounds N] [--callgrind] FILE...
// quvbench --single quv3|mpg123|mad FILE     (one decode; used under callgrind)
#include <mpg123.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quv3.h"
#ifdef QUV3_BENCH_MAD
#include <mad.h>
#endif

namespace {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Result {
    double audio_seconds = 0;  // per channel
    uint64_t checksum = 0;
};

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
int16_t MadScale(mad_fixed_t s) {
    s += 1L << (MAD_F_FRACBITS - 16);
    if (s >= MAD_F_ONE) s = MAD_F_ONE - 1;
    if (s < -MAD_F_ONE) s = -MAD_F_ONE;
    return static_cast<int16_t>(s >> (MAD_F_FRACBITS + 1 - 16));
}

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

using DecodeFn = Result (*)(const char*);

struct Peer {
    const char* name;
    DecodeFn fn;
};

const Peer kDecoders[] = {
    {"quv3", DecodeQuv},
    {"mpg123", DecodeMpg123},
#ifdef QUV3_BENCH_MAD
    {"mad", DecodeMad},
#endif
};
constexpr int kDecoderCount = sizeof kDecoders / sizeof kDecoders[0];

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]));
}

// Instructions of one decode under callgrind, or 0 when it cannot be counted.
double CallgrindInstructions(const char* self, const char* decoder, const char* file) {
    char out[] = "/tmp/quvbench_cg_XXXXXX";
    const int fd = mkstemp(out);
    if (fd < 0) return 0;
    close(fd);
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string arg = std::string("--callgrind-out-file=") + out;
        std::freopen("/dev/null", "w", stderr);
        execlp("valgrind", "valgrind", "--tool=callgrind", arg.c_str(), self, "--single", decoder, file, nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    double total = 0;
    if (FILE* f = std::fopen(out, "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "summary:", 8) == 0) total = std::atof(line + 8);
        }
        std::fclose(f);
    }
    std::remove(out);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? total : 0;
}

}  // namespace

int main(int argc, char** argv) {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    int rounds = 5;
    bool callgrind = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--callgrind")) {
            callgrind = true;
        } else if (!std::strcmp(argv[i], "--single") && i + 2 < argc) {
            for (const Peer& p : kDecoders)
                if (!std::strcmp(p.name, argv[i + 1])) return p.fn(argv[i + 2]).audio_seconds > 0 ? 0 : 1;
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: quvbench [--rounds N] [--callgrind] FILE...\n");
        return 2;
    }
    std::printf("%-28s %8s", "file", "audio s");
    for (const Peer& p : kDecoders) std::printf(" %12s", (std::string(p.name) + " x rt").c_str());
    for (int d = 1; d < kDecoderCount; ++d) std::printf(" %14s", (std::string("quv3/") + kDecoders[d].name).c_str());
    if (callgrind)
        for (const Peer& p : kDecoders) std::printf(" %14s", (std::string(p.name) + " Mi/s").c_str());
    std::printf("\n");

    std::vector<std::vector<double>> all_ratios(kDecoderCount);
    double total_audio = 0, total_cpu[kDecoderCount] = {};
    for (const char* file : files) {
        std::vector<std::vector<double>> speed(kDecoderCount), ratios(kDecoderCount);
        double audio = 0;
        for (int r = 0; r < rounds; ++r) {
            double s[kDecoderCount];
            for (int d = 0; d < kDecoderCount; ++d) {
                const double t0 = CpuSeconds();
                const Result res = kDecoders[d].fn(file);
                const double t = CpuSeconds() - t0;
                audio = d == 0 ? res.audio_seconds : audio;
                s[d] = t > 0 ? res.audio_seconds / t : 0;
                speed[d].push_back(s[d]);
                total_cpu[d] += t;
            }
            for (int d = 1; d < kDecoderCount; ++d) ratios[d].push_back(s[d] > 0 ? s[0] / s[d] : 0);
        }
        total_audio += audio * rounds;
        const char* base = std::strrchr(file, '/');
        std::printf("%-28s %8.1f", base ? base + 1 : file, audio);
        for (int d = 0; d < kDecoderCount; ++d) std::printf(" %12.0f", Median(speed[d]));
        for (int d = 1; d < kDecoderCount; ++d) {
            const double m = Median(ratios[d]);
            std::printf(" %14.3f", m);
            all_ratios[d].push_back(m);
        }
        if (callgrind) {
            for (const Peer& p : kDecoders) {
                const double ins = CallgrindInstructions(argv[0], p.name, file);
                std::printf(" %14.1f", audio > 0 && ins > 0 ? ins / audio / 1e6 : 0.0);
            }
        }
        std::printf("\n");
    }
    std::printf("%-28s %8s", "overall", "");
    for (int d = 0; d < kDecoderCount; ++d) std::printf(" %12.0f", total_cpu[d] > 0 ? total_audio / total_cpu[d] : 0);
    for (int d = 1; d < kDecoderCount; ++d) std::printf(" %14.3f", Median(all_ratios[d]));
    std::printf("\n(x rt: audio seconds per CPU second, median of %d rounds; quv3/peer: median ratio)\n", rounds);
    return 0;
}
