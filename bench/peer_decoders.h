#pragma once

// The decoders the benchmarks run side by side: quv3 through its exports and
// through the re-entrant API, libmpg123 (its default decoder, 16-bit output,
// gapless off) and libmad when built with it. Each decodes a whole file and
// reports the audio it delivered.
#include <cstdint>
#include <vector>

namespace bench {

double CpuSeconds();  // of this process
double Median(std::vector<double> v);

struct Result {
    double audio_seconds = 0;  // per channel
    uint64_t checksum = 0;  // keeps the output observable
};

Result DecodeQuv(const char* path);
Result DecodeQuvApi(const char* path);
Result DecodeMpg123(const char* path);
#ifdef QUV3_BENCH_MAD
Result DecodeMad(const char* path);
#endif

}  // namespace bench
