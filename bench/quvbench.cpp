// quvbench: decodes the same files with quv3 and with libmpg123 (and libmad
// when built with it) alternately, several rounds, and reports audio seconds
// decoded per CPU second, the median ratio ours/peer, and with --callgrind the
// instructions per audio second counted by valgrind.
//
// quvbench [--rounds N] [--callgrind] FILE...
// quvbench --single quv3|mpg123|mad FILE     (one decode; used under callgrind)
#include <mpg123.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/peer_decoders.h"

namespace {

using bench::CpuSeconds;
using bench::Median;
using bench::Result;

using DecodeFn = Result (*)(const char*);

struct Peer {
    const char* name;
    DecodeFn fn;
};

const Peer kDecoders[] = {
    {"quv3", bench::DecodeQuv},
    {"api", bench::DecodeQuvApi},
    {"mpg123", bench::DecodeMpg123},
#ifdef QUV3_BENCH_MAD
    {"mad", bench::DecodeMad},
#endif
};
constexpr int kDecoderCount = sizeof kDecoders / sizeof kDecoders[0];

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
