// quvlevels: decodes each file with quv3 at every instruction-set level of its
// vector kernels that this processor runs (plain, then SSE2, AVX2, AVX-512 or
// NEON), alternating
// with libmpg123, several rounds, and reports audio seconds decoded per CPU
// second per level and the median ratio of each level to libmpg123. It links
// the decoder's objects directly to select the level; the exports it decodes
// through are the library's own.
//
// quvlevels [--rounds N] FILE...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/peer_decoders.h"
#include "decoder/api/exports.h"
#include "decoder/layer3/kernels/kernels.h"

int main(int argc, char** argv) {
    int rounds = 5;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: quvlevels [--rounds N] FILE...\n");
        return 2;
    }
    const int levels = quv3::CpuKernelLevel() + 1;
    std::printf("%-28s", "file");
    for (int l = 0; l < levels; ++l) std::printf(" %12s", (std::string(quv3::KernelsAt(l).name) + " x rt").c_str());
    std::printf(" %12s", "mpg123 x rt");
    for (int l = 0; l < levels; ++l)
        std::printf(" %14s", (std::string(quv3::KernelsAt(l).name) + "/mpg123").c_str());
    std::printf("\n");
    for (const char* file : files) {
        std::vector<std::vector<double>> speed(levels + 1), ratios(levels);
        for (int r = 0; r < rounds; ++r) {
            std::vector<double> s(levels + 1);
            for (int d = 0; d <= levels; ++d) {
                if (d < levels) quv3::UseKernelLevel(d);
                const double t0 = bench::CpuSeconds();
                const bench::Result res = d < levels ? bench::DecodeQuv(file) : bench::DecodeMpg123(file);
                const double t = bench::CpuSeconds() - t0;
                s[d] = t > 0 ? res.audio_seconds / t : 0;
                speed[d].push_back(s[d]);
            }
            for (int l = 0; l < levels; ++l) ratios[l].push_back(s[levels] > 0 ? s[l] / s[levels] : 0);
        }
        const char* base = std::strrchr(file, '/');
        std::printf("%-28s", base ? base + 1 : file);
        for (int d = 0; d <= levels; ++d) std::printf(" %12.0f", bench::Median(speed[d]));
        for (int l = 0; l < levels; ++l) std::printf(" %14.3f", bench::Median(ratios[l]));
        std::printf("\n");
    }
    quv3::UseKernelLevel(quv3::CpuKernelLevel());
    std::printf("(x rt: audio seconds per CPU second, median of %d rounds; level/mpg123: median ratio)\n", rounds);
    return 0;
}
