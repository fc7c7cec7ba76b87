// Decodes every ISO/IEC 11172-3 / 13818-3 compliance bitstream and compares
// the PCM with the reference output delivered with it.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decoder/stream/stream.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

std::vector<std::string> Vectors() {
    std::vector<std::string> names;
    if (DIR* d = opendir(QUV3_ISO_VECTORS)) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".bit") == 0) names.push_back(n.substr(0, n.size() - 4));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string VectorPath(const std::string& name, const char* ext) {
    return std::string(QUV3_ISO_VECTORS) + "/" + name + ext;
}

Pcm ReadPcm(const std::string& path) {
    const Bytes b = ReadFileBytes(path);
    Pcm p(b.size() / 2);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return p;
}

bool StartsWithFrameHeader(const std::string& path) {
    const Bytes b = ReadFileBytes(path);
    return b.size() >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0;
}

TEST(IsoCompliance, EveryVectorMatchesItsReferencePcm) {
    const auto names = Vectors();
    if (names.empty()) GTEST_SKIP() << "no ISO vectors at " << QUV3_ISO_VECTORS;
    std::printf("%-24s %10s %8s %10s\n", "vector", "PSNR dB", "max diff", "samples");
    int compared = 0;
    for (const auto& name : names) {
        const std::string bit = VectorPath(name, ".bit");
        const Decoded ours = DecodeWithQuv(bit);
        if (!StartsWithFrameHeader(bit)) {
            // Nothing but a frame (or a RIFF "data" chunk) may start the file.
            EXPECT_EQ(ours.init_result, -1) << name;
            std::printf("%-24s %10s\n", name.c_str(), "refused (-1): no header at byte 0");
            continue;
        }
        ASSERT_EQ(ours.init_result, 0) << name;
        const Pcm ref = ReadPcm(VectorPath(name, ".pcm"));
        // The reference may lack a first frame that only fed the bit reservoir,
        // and may stop one frame early; align on the better of the two offsets.
        const size_t frame = static_cast<size_t>(ours.samples_per_frame) * ours.channels;
        Comparison best = Compare(ours.pcm, ref);
        const Comparison shifted = Compare(ours.pcm, ref, frame, 0);
        if (shifted.samples > 0 && shifted.psnr > best.psnr) best = shifted;
        std::printf("%-24s %10.2f %8d %10zu\n", name.c_str(), best.psnr, best.max_diff, best.samples);
        EXPECT_GE(best.psnr, 96.0) << name;
        EXPECT_LE(best.max_diff, 1) << name;
        EXPECT_GE(best.samples + frame, ref.size()) << name << ": reference samples left uncompared";
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace quv3::test
