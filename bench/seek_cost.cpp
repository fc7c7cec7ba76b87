// quvseek: what seeking to a sample costs through the re-entrant library, and
// libmpg123's seek to the same sample beside it. For each file: opening
// (with the header walk that counts a stream's frames when it has no
// encoder's numbers and plays for less than an hour), the first seek to the
// last sample (a walk through every frame header), a second one (from the
// frame index), and a seek to the middle.
//
// quvseek FILE...
#include <mpg123.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "quv3_decoder.h"

namespace {

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double Mpg123SeekMs(const char* path, int64_t sample) {
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    if (mpg123_open(h, path) != MPG123_OK) return -1;
    const double t0 = Now();
    mpg123_seek(h, static_cast<off_t>(sample), SEEK_SET);
    unsigned char buf[4608];
    size_t done = 0;
    mpg123_read(h, buf, sizeof buf, &done);
    const double ms = (Now() - t0) * 1e3;
    mpg123_close(h);
    mpg123_delete(h);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    std::vector<unsigned char> memory(quv3_decoder_size() + quv3_decoder_alignment());
    unsigned char* at = memory.data();
    while (reinterpret_cast<uintptr_t>(at) % quv3_decoder_alignment() != 0) ++at;
    quv3_decoder* d = quv3_decoder_init(at, quv3_decoder_size());
    std::printf("%-40s %9s %9s %11s %11s %11s %14s\n", "file", "audio s", "open ms", "1st end ms", "2nd end ms",
                "middle ms", "mpg123 end ms");
    for (int i = 1; i < argc; ++i) {
        double t0 = Now();
        if (quv3_open_file(d, argv[i], QUV3_OPEN_GAPLESS) != 0) continue;
        const double open_ms = (Now() - t0) * 1e3;
        quv3_info info;
        quv3_get_info(d, &info);
        const int64_t last = info.total_samples - 1;
        int16_t pcm[QUV3_MAX_FRAME_VALUES];
        double ms[3];
        const int64_t targets[3] = {last, last, info.total_samples / 2};
        for (int k = 0; k < 3; ++k) {
            t0 = Now();
            quv3_seek_sample(d, targets[k]);
            quv3_decode_frame(d, pcm, QUV3_S16, nullptr);
            ms[k] = (Now() - t0) * 1e3;
        }
        std::printf("%-40s %9.1f %9.2f %11.2f %11.2f %11.2f %14.2f\n", argv[i],
                    static_cast<double>(info.total_samples) / info.sample_rate, open_ms, ms[0], ms[1], ms[2],
                    Mpg123SeekMs(argv[i], last));
        quv3_close(d);
    }
    return 0;
}
