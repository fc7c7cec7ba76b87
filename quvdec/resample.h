#pragma once

#include <memory>
#include <string>
#include <vector>

// Sample-rate conversion through libsoxr (the resampler of sox and ffmpeg) at
// its very high quality, as sox's "rate -v". Builds without libsoxr have none.
namespace quvdec {

struct ResamplerState;

struct Resampler {
    std::unique_ptr<ResamplerState> state;
    // nullptr after saying why.
    static std::unique_ptr<Resampler> Create(int from_rate, int to_rate, int channels, std::string& why);
    // Samples per channel of interleaved floats in; the output so far in out.
    // No input (nullptr) ends the stream: the rest comes out.
    void Process(const float* in, size_t samples, std::vector<float>& out);
    ~Resampler();
};

}  // namespace quvdec
