// What the re-entrant API and the exports share: a decoder's making ready,
// opening, frame loop and moves.
#include <atomic>
#include <new>

#include "decoder/api/decoder.h"

namespace quv3 {
namespace {

// The one piece of state the library shares between decoders: which kernel
// level this processor runs. Every thread that asks first computes the same
// answer, so a race only stores it twice.
std::atomic<const Kernels*> g_chosen_kernels{nullptr};

}  // namespace

const Kernels& ChosenKernels() {
    const Kernels* k = g_chosen_kernels.load(std::memory_order_acquire);
    if (k == nullptr) {
        k = &KernelsAt(CpuKernelLevel());
        g_chosen_kernels.store(k, std::memory_order_release);
    }
    return *k;
}

void InitDecoder(quv3_decoder& d) {
    // Every record zeroed: a value a stream does not set reads the same
    // whatever the memory held before.
    new (&d) quv3_decoder{};
    d.ready = kDecoderReady;
    d.format = QUV3_S16;
    d.kernels = &ChosenKernels();
}

int32_t OpenDecoder(quv3_decoder& d, const OpenRules& rules) {
    ClearDecoderMemories(d.frame);
    d.description = StreamDescription{};
    const int32_t r = OpenStream(d.stream, rules, d.description);
    d.frame.status = 0;
    return r;
}

int32_t DecodeInto(quv3_decoder& d, PcmOut out) { return DecodeNextFrame(*d.kernels, d.stream, d.frame, out); }

void SettleAfterMove(quv3_decoder& d) { PreRoll(*d.kernels, d.stream, d.frame); }

int32_t RewindDecoder(quv3_decoder& d) {
    ClearDecoderMemories(d.frame);
    d.frame.status = 0;
    return Rewind(d.stream);
}

}  // namespace quv3

