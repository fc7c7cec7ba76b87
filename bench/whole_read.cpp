// The C library decoding a whole file into memory of its own, as quv3.read
// does for Python: one buffer for every sample (2 MiB aligned, huge pages
// asked for where Linux gives them on request), each frame decoded in place.
// It decodes the file ROUNDS times in one process and prints the median CPU
// seconds (user + system) of one decode, opening and allocation included:
// the reference for the Python package's overhead (bench/python_bench.py).
// Usage: whole_read FILE s16|f32 ROUNDS
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "quv3_decoder.h"

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The samples of one decode; -1 when the file cannot be decoded.
int64_t DecodeWhole(quv3_decoder* d, const char* path, int32_t format) {
    if (quv3_open_file(d, path, QUV3_OPEN_GAPLESS) != 0) return -1;
    quv3_info info{};
    quv3_get_info(d, &info);
    const size_t frame_bytes = static_cast<size_t>(info.channels) * (format == QUV3_F32 ? 4 : 2);
    const size_t bytes = (static_cast<size_t>(info.total_samples) + QUV3_MAX_FRAME_SAMPLES) * frame_bytes;
    void* out = nullptr;
    if (posix_memalign(&out, size_t{1} << 21, bytes) != 0) return -1;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(out, bytes & ~((size_t{1} << 21) - 1), MADV_HUGEPAGE);
#endif
    int64_t got = 0;
    int32_t r = 0;
    // Room for a whole frame is left at every call: the buffer holds the
    // total and one frame more.
    while (r == 0 && got <= info.total_samples) {
        int32_t n = 0;
        r = quv3_decode_frame(d, static_cast<char*>(out) + static_cast<size_t>(got) * frame_bytes, format, &n);
        got += n;
    }
    quv3_close(d);
    std::free(out);
    return got;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: whole_read FILE s16|f32 ROUNDS\n");
        return 2;
    }
    const int32_t format = std::strcmp(argv[2], "f32") == 0 ? QUV3_F32 : QUV3_S16;
    const int rounds = std::max(1, std::atoi(argv[3]));
    const size_t align = quv3_decoder_alignment();
    std::unique_ptr<unsigned char[]> memory(new unsigned char[quv3_decoder_size() + align]);
    unsigned char* at = memory.get() + (align - reinterpret_cast<uintptr_t>(memory.get()) % align) % align;
    quv3_decoder* d = quv3_decoder_init(at, quv3_decoder_size());
    std::vector<double> seconds;
    for (int k = 0; k < rounds; ++k) {
        const double start = CpuSeconds();
        if (DecodeWhole(d, argv[1], format) < 0) {
            std::fprintf(stderr, "whole_read: cannot decode %s\n", argv[1]);
            return 1;
        }
        seconds.push_back(CpuSeconds() - start);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.6f\n", seconds[seconds.size() / 2]);
    return 0;
}
