#include "tests/support/stream_builder.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "decoder/tables/stream_tables.h"
#include "tests/support/bit_writer.h"

namespace quv3::test {

Bytes HeaderBytes(const HeaderSpec& h, int sync12) {
    BitWriter w;
    if (sync12 < 0) sync12 = h.mpeg25 ? 0xFFE : 0xFFF;
    w.Put(static_cast<uint32_t>(sync12), 12);
    w.Put(h.id, 1);
    w.Put(h.layer, 2);
    w.Put(h.protection_bit, 1);
    w.Put(h.bitrate_index, 4);
    w.Put(h.sampling_frequency, 2);
    w.Put(h.padding_bit, 1);
    w.Put(h.private_bit, 1);
    w.Put(h.mode, 2);
    w.Put(h.mode_extension, 2);
    w.Put(h.copyright, 1);
    w.Put(h.original_copy, 1);
    w.Put(h.emphasis, 2);
    return w.bytes;
}

int FrameLength(const HeaderSpec& h) {
    const int rate = kSamplingRateTable[h.mpeg25 ? 6 + h.sampling_frequency : h.id * 3 + h.sampling_frequency];
    const int kbps = kBitrateTable[h.id][3 - h.layer][h.bitrate_index];
    return kbps * (h.id ? 144000 : 72000) / rate + h.padding_bit;
}

Bytes SideInfoBytes(const HeaderSpec& h, const SideInfo& si) {
    const bool mpeg1 = h.id == 1;
    const int channels = h.mode == 3 ? 1 : 2;
    BitWriter w;
    w.Put(si.main_data_begin, mpeg1 ? 9 : 8);
    w.Put(0, mpeg1 ? (channels == 1 ? 5 : 3) : (channels == 1 ? 1 : 2));
    if (mpeg1) {
        for (int ch = 0; ch < channels; ++ch)
            for (int b = 0; b < 4; ++b) w.Put(si.scfsi[ch][b], 1);
    }
    for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            w.Put(si.part2_3_length[gr][ch], 12);
            w.Put(si.big_values[gr][ch], 9);
            w.Put(si.global_gain[gr][ch], 8);
            w.Put(si.scalefac_compress[gr][ch], mpeg1 ? 4 : 9);
            w.Put(si.window_switching_flag[gr][ch], 1);
            if (si.window_switching_flag[gr][ch]) {
                w.Put(si.block_type[gr][ch], 2);
                w.Put(si.mixed_block_flag[gr][ch], 1);
                w.Put(si.table_select[gr][ch][0], 5);
                w.Put(si.table_select[gr][ch][1], 5);
                for (int k = 0; k < 3; ++k) w.Put(si.subblock_gain[gr][ch][k], 3);
            } else {
                for (int k = 0; k < 3; ++k) w.Put(si.table_select[gr][ch][k], 5);
                w.Put(si.region0_count[gr][ch], 4);
                w.Put(si.region1_count[gr][ch], 3);
            }
            if (mpeg1) w.Put(si.preflag[gr][ch], 1);
            w.Put(si.scalefac_scale[gr][ch], 1);
            w.Put(si.count1table_select[gr][ch], 1);
        }
    }
    w.PadToByte();
    return w.bytes;
}

Bytes BuildFrame(const HeaderSpec& h, const SideInfo& si, const Bytes& main_data) {
    Bytes f = HeaderBytes(h);
    if (h.protection_bit == 0) f.insert(f.end(), {0, 0});
    Append(f, SideInfoBytes(h, si));
    Append(f, main_data);
    f.resize(static_cast<size_t>(FrameLength(h)), 0);
    return f;
}

Bytes SilentFrame(const HeaderSpec& h) {
    SideInfo si{};
    return BuildFrame(h, si, {});
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

TempFile::TempFile(const Bytes& content, const std::string& suffix) {
    static std::atomic<int> counter{0};
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/quv3_test_" + std::to_string(getpid()) + "_" +
           std::to_string(counter++) + suffix;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
}

TempFile::~TempFile() { std::remove(path.c_str()); }

Bytes ReadFileBytes(const std::string& path) {
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

bool FileExists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace quv3::test
