// Every optimisation keeps the output bit-identical: the PCM of the ISO
// vectors and our fixtures, 16-bit and float, hashes to what the plain kernel
// level recorded, at every level. QUV3_WRITE_GOLDEN=1 rewrites the record from
// the plain level: "fixture/NAME" and "iso/NAME" for the 16-bit samples,
// "fixture/NAME.f32" and "iso/NAME.f32" for the floats. The streams are
// opened as the re-entrant API opens them (tags skipped, MPEG 2.5 taken) and
// decoded frame for frame, without trimming; for every stream the six
// exports open, that is their output (DecoderInputs checks it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "decoder/api/exports.h"
#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/kernels/kernels.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/state_builder.h"

namespace quv3::test {
namespace {

// FNV-1a of the samples' bytes as they lie in memory (little-endian).
template <class T>
uint64_t Fnv1a(const std::vector<T>& samples) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < samples.size() * sizeof(T); ++i) {
        h ^= bytes[i];
        h *= 1099511628211ull;
    }
    return h;
}

// Every stream's path by "fixture/NAME" or "iso/NAME".
std::map<std::string, std::string> Streams() { return TestStreams(QUV3_FIXTURES, QUV3_ISO_VECTORS); }

std::map<std::string, std::string> RecordedHashes() {
    std::map<std::string, std::string> want;
    std::ifstream in(std::string(QUV3_FIXTURES) + "/../golden_hashes.txt");
    std::string name, hash;
    while (in >> name >> hash) want[name] = hash;
    return want;
}

// A stream's samples as T (int16_t or float), decoded with the given kernels
// through the frame loop the exports drive: what every call wrote, in order.
template <class T>
std::vector<T> DecodeAs(const std::string& path, const Kernels& kernels) {
    std::vector<T> samples;
    auto s = OpenLocal(path, OpenRules{true, true, true});
    if (s->open_result != 0) return samples;
    s->kernels = &kernels;
    const PcmFormat format = std::is_same_v<T, float> ? PcmFormat::kF32 : PcmFormat::kS16;
    T buf[2304];
    size_t n = 0;
    int32_t r;
    do {
        r = s->Next(PcmOut{buf, format}, n);
        samples.insert(samples.end(), buf, buf + n);
    } while (r == 0);
    return samples;
}

// The hash of every stream's samples, by its name in Streams() (with ".f32"
// for floats), decoded in name order or in reverse, with the given kernels; the
// 16-bit samples through the exports without them (the streams they refuse
// hash as empty).
std::map<std::string, std::string> CurrentHashes(bool reverse = false, const Kernels* kernels = nullptr,
                                                 PcmFormat format = PcmFormat::kS16) {
    const bool floats = format == PcmFormat::kF32;
    std::vector<std::pair<std::string, std::string>> order;
    for (const auto& entry : Streams()) order.push_back(entry);
    if (reverse) std::reverse(order.begin(), order.end());
    std::map<std::string, std::string> got;
    for (const auto& [name, path] : order) {
        uint64_t h;
        if (floats) {
            h = Fnv1a(DecodeAs<float>(path, kernels ? *kernels : KernelsAt(0)));
        } else {
            h = Fnv1a(kernels ? DecodeAs<int16_t>(path, *kernels) : DecodeWithQuv(path).pcm);
        }
        char buf[32];
        std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
        got[floats ? name + ".f32" : name] = buf;
    }
    return got;
}

// Every level this processor runs, then the widest level's vector shapes in
// portable vector code.
std::vector<const Kernels*> EveryLevel() {
    std::vector<const Kernels*> levels;
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) levels.push_back(&KernelsAt(level));
    levels.push_back(&kWideKernels);
    return levels;
}

// Every instruction-set level this processor runs gives the recorded samples.
TEST(Golden, OutputHashesUnchanged) {
    const std::string record = std::string(QUV3_FIXTURES) + "/../golden_hashes.txt";
    if (std::getenv("QUV3_WRITE_GOLDEN")) {
        std::map<std::string, std::string> hashes = CurrentHashes(false, &KernelsAt(0));
        hashes.merge(CurrentHashes(false, &KernelsAt(0), PcmFormat::kF32));
        std::ofstream out(record);
        for (const auto& [name, hash] : hashes) out << name << " " << hash << "\n";
        GTEST_SKIP() << "recorded";
    }
    const std::map<std::string, std::string> want = RecordedHashes();
    for (int32_t level = 0; level <= CpuKernelLevel(); ++level) {
        int compared = 0;
        for (const auto& [name, hash] : CurrentHashes(false, &KernelsAt(level))) {
            auto it = want.find(name);
            if (it == want.end()) {
                ADD_FAILURE() << name << " has no recorded hash";
                continue;
            }
            EXPECT_EQ(hash, it->second) << name << " at kernel level " << level;
            ++compared;
        }
        std::printf("kernel level %d (%s): %d outputs bit-identical to the record\n", level, KernelsAt(level).name,
                    compared);
        EXPECT_GE(compared, 13);
    }
}

// The widest level's vector shapes (eight doubles, sixteen floats), written in
// portable vector code, give the record on any processor.
TEST(Golden, WidestVectorShapesGiveTheRecord) {
    const std::map<std::string, std::string> want = RecordedHashes();
    int compared = 0;
    for (const auto& [name, hash] : CurrentHashes(false, &kWideKernels)) {
        auto it = want.find(name);
        if (it == want.end()) continue;
        EXPECT_EQ(hash, it->second) << name;
        ++compared;
    }
    EXPECT_GE(compared, 13);
}

// The float samples too: every level and the widest vector shapes give the
// plain level's floats bit for bit, zeros included (always +0.0).
TEST(Golden, FloatOutputHashesUnchanged) {
    const std::map<std::string, std::string> want = RecordedHashes();
    for (const Kernels* kernels : EveryLevel()) {
        int compared = 0;
        for (const auto& [name, hash] : CurrentHashes(false, kernels, PcmFormat::kF32)) {
            auto it = want.find(name);
            if (it == want.end()) {
                ADD_FAILURE() << name << " has no recorded hash";
                continue;
            }
            EXPECT_EQ(hash, it->second) << name << " at kernel level " << kernels->name;
            ++compared;
        }
        std::printf("kernel level %s: %d float outputs bit-identical to the record\n", kernels->name, compared);
        EXPECT_GE(compared, 13);
    }
}

// Rounded and clipped by the library's rule, every float sample of every
// stream is its 16-bit sample, at every level.
TEST(Golden, FloatSamplesRoundToTheSixteenBitSamples) {
    for (const Kernels* kernels : EveryLevel()) {
        size_t checked = 0;
        for (const auto& [name, path] : Streams()) {
            const std::vector<int16_t> s16 = DecodeAs<int16_t>(path, *kernels);
            const std::vector<float> f32 = DecodeAs<float>(path, *kernels);
            ASSERT_EQ(f32.size(), s16.size()) << name << " at kernel level " << kernels->name;
            size_t wrong = 0, first = 0;
            for (size_t i = 0; i < s16.size(); ++i) {
                if (quv3_f32_to_s16(f32[i]) == s16[i]) continue;
                if (wrong++ == 0) first = i;
            }
            EXPECT_EQ(wrong, 0u) << name << " at kernel level " << kernels->name << ", first at " << first << ": "
                                 << f32[first] << " gives " << quv3_f32_to_s16(f32[first]) << ", not " << s16[first];
            checked += s16.size();
        }
        std::printf("kernel level %s: %zu float samples give their 16-bit samples\n", kernels->name, checked);
        EXPECT_GT(checked, 1000000u);
    }
}

// A stream's samples depend on the stream alone, not on what the exports'
// decoder of the process decoded before it.
TEST(Golden, SamplesDoNotDependOnDecodingOrder) {
    const auto forward = CurrentHashes();
    const auto backward = CurrentHashes(true);
    EXPECT_GE(forward.size(), 12u);
    EXPECT_EQ(forward, backward);
}

}  // namespace
}  // namespace quv3::test
