#include "quvdec/resample.h"

#if defined(QUVDEC_SOXR)
#include <soxr.h>
#endif

namespace quvdec {

#if defined(QUVDEC_SOXR)
struct ResamplerState {
    soxr_t soxr = nullptr;
    int channels = 0;
    double ratio = 1;
    ~ResamplerState() { soxr_delete(soxr); }
};

std::unique_ptr<Resampler> Resampler::Create(int from_rate, int to_rate, int channels, std::string& why) {
    auto r = std::make_unique<Resampler>();
    r->state = std::make_unique<ResamplerState>();
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    r->state->soxr = soxr_create(from_rate, to_rate, static_cast<unsigned>(channels), &error, &io, &quality, nullptr);
    if (error != nullptr || r->state->soxr == nullptr) {
        why = std::string("cannot resample: ") + (error != nullptr ? error : "no resampler");
        return nullptr;
    }
    r->state->channels = channels;
    r->state->ratio = static_cast<double>(to_rate) / from_rate;
    return r;
}

void Resampler::Process(const float* in, size_t samples, std::vector<float>& out) {
    const size_t ch = static_cast<size_t>(state->channels);
    out.clear();
    // Room for what this input gives, plus what the filter still holds.
    size_t room = static_cast<size_t>(static_cast<double>(samples) * state->ratio) + 4096;
    size_t used_total = 0;
    for (;;) {
        const size_t before = out.size();
        out.resize(before + room * ch);
        size_t used = 0, made = 0;
        soxr_process(state->soxr, in != nullptr ? in + used_total * ch : nullptr, in != nullptr ? samples - used_total : 0,
                     &used, out.data() + before, room, &made);
        out.resize(before + made * ch);
        used_total += used;
        // Done when the input is taken and the output did not fill the room.
        if ((in == nullptr || used_total >= samples) && made < room) break;
    }
}
#else
struct ResamplerState {};

std::unique_ptr<Resampler> Resampler::Create(int, int, int, std::string& why) {
    why = "--rate is not available in this build (it has no libsoxr)";
    return nullptr;
}

void Resampler::Process(const float*, size_t, std::vector<float>& out) { out.clear(); }
#endif

Resampler::~Resampler() = default;

}  // namespace quvdec
