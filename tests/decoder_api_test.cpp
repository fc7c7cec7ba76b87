// The re-entrant API: every input gives the samples of the exports, tags are
// skipped and reported exactly, streams that cannot seek say so, and the
// decoder's own checks hold.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "decoder/api/quv3.h"
#include "decoder/api/quv3_decoder.h"
#include "decoder/layer3/kernels/kernels.h"
#include "tests/support/api_decode.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

// A seekable input in memory, read through the callbacks.
struct MemoryReader {
    const Bytes* bytes;
    int64_t at = 0;
    static int64_t Read(void* u, void* buffer, int64_t n) {
        auto* r = static_cast<MemoryReader*>(u);
        const int64_t left = static_cast<int64_t>(r->bytes->size()) - r->at;
        const int64_t take = n < left ? n : left;
        if (take > 0) std::memcpy(buffer, r->bytes->data() + r->at, static_cast<size_t>(take));
        r->at += take > 0 ? take : 0;
        return take > 0 ? take : 0;
    }
    static int32_t Seek(void* u, int64_t offset) {
        static_cast<MemoryReader*>(u)->at = offset;
        return 0;
    }
    static int64_t Size(void* u) { return static_cast<int64_t>(static_cast<MemoryReader*>(u)->bytes->size()); }
};

ApiDecoded FromMemory(const Bytes& b) {
    return DecodeWithApi([&](quv3_decoder* d) { return quv3_open_memory(d, b.data(), b.size(), 0); });
}

ApiDecoded FromReader(const Bytes& b) {
    MemoryReader r{&b};
    const quv3_reader callbacks{MemoryReader::Read, MemoryReader::Seek, MemoryReader::Size, &r};
    return DecodeWithApi([&](quv3_decoder* d) { return quv3_open_reader(d, &callbacks, 0); });
}

ApiDecoded FromPipe(const Bytes& b) {
    Pipe p(b);
    const quv3_reader callbacks = p.Reader();
    return DecodeWithApi([&](quv3_decoder* d) { return quv3_open_reader(d, &callbacks, 0); });
}

// What the exports deliver, each frame in the first frame's channel count as
// the API delivers it: a single-channel frame twice, a two-channel one as the
// mean of its channels.
Pcm ExportsInFirstChannelCount(const std::string& path) {
    StreamInfo* info = nullptr;
    Pcm out;
    if (InitQuv(path.c_str(), &info) != 0) return out;
    int16_t buf[QUV3_PCM_BUFFER_BYTES / 2];
    for (int32_t r = 0; r == 0;) {
        std::fill(std::begin(buf), std::end(buf), kSentinel);
        r = Quv(buf);
        const size_t n = WrittenSamples(buf, std::size(buf));
        const size_t frame = static_cast<size_t>(info->samples_per_frame);
        for (size_t k = 0; n == frame && info->channels == 2 && k < frame; ++k) out.insert(out.end(), 2, buf[k]);
        for (size_t k = 0; n == 2 * frame && info->channels == 1 && k < frame; ++k)
            out.push_back(static_cast<int16_t>((buf[2 * k] + buf[2 * k + 1]) / 2));
        if (n == frame * static_cast<size_t>(info->channels)) out.insert(out.end(), buf, buf + n);
    }
    ExitQuv();
    return out;
}

TEST(DecoderInputs, FileMemoryReaderAndPipeDeliverTheExportsSamples) {
    int compared = 0;
    for (const std::string& path : AllStreamPaths()) {
        const Pcm exports = ExportsInFirstChannelCount(path);
        if (exports.empty()) continue;  // streams the exports refuse have tests of their own
        const ApiDecoded file = DecodeFileWithApi(path);
        ASSERT_EQ(file.open_result, 0) << path;
        EXPECT_EQ(file.pcm, exports) << path;
        const Bytes bytes = ReadFileBytes(path);
        EXPECT_EQ(FromMemory(bytes).pcm, exports) << path;
        EXPECT_EQ(FromReader(bytes).pcm, exports) << path;
        EXPECT_EQ(FromPipe(bytes).pcm, exports) << path;
        ++compared;
    }
    EXPECT_GE(compared, 13);
}

TEST(DecoderInputs, AStreamThatCannotSeekSaysSo) {
    const Bytes bytes = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    Pipe p(bytes);
    const quv3_reader callbacks = p.Reader();
    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_reader(dec.d, &callbacks, 0), 0);
    quv3_info info{};
    ASSERT_EQ(quv3_get_info(dec.d, &info), 0);
    EXPECT_EQ(info.seekable, 0);
    EXPECT_EQ(info.frames.bytes, -1);
    int16_t pcm[QUV3_MAX_FRAME_VALUES];
    int32_t n = 0;
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, &n), 0);
    EXPECT_EQ(quv3_seek_fraction(dec.d, 0.5), QUV3_CANNOT_SEEK);
    EXPECT_EQ(quv3_step_back(dec.d), QUV3_CANNOT_SEEK);
    EXPECT_EQ(quv3_rewind(dec.d), QUV3_CANNOT_SEEK);
    // Refused moves leave the decode where it was: the rest equals the file's rest.
    ApiDecoded rest;
    rest.info = info;
    DecodeRestWithApi(dec.d, rest);
    const Pcm whole = DecodeWithQuv(std::string(QUV3_FIXTURES) + "/j44_128.mp3").pcm;
    ASSERT_EQ(rest.pcm.size() + static_cast<size_t>(n) * 2, whole.size());
    EXPECT_TRUE(std::equal(rest.pcm.begin(), rest.pcm.end(), whole.begin() + n * 2));
}

// ID3v2 tags with a body of 300 bytes (its size needs two of the four
// sync-safe bytes) and a footer; padding longer than one 4096-byte read.
Bytes Id3v2(size_t body, bool footer) {
    Bytes t = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(footer ? 0x10 : 0)};
    for (int shift : {21, 14, 7, 0}) t.push_back(static_cast<uint8_t>((body >> shift) & 0x7F));
    for (size_t i = 0; i < body; ++i) t.push_back(static_cast<uint8_t>('a' + i % 26));
    if (footer) {
        Bytes f(t.begin(), t.begin() + 10);
        f[0] = '3', f[1] = 'D', f[2] = 'I';
        Append(t, f);
    }
    return t;
}

Bytes Ape(size_t items, bool header) {
    auto le = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t size = static_cast<uint32_t>(items + 32);
    auto block = [&](uint32_t flags) {
        Bytes b = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        le(b, 2000), le(b, size), le(b, 1), le(b, flags);
        b.resize(32, 0);
        return b;
    };
    Bytes t = header ? block(0xA0000000u) : Bytes{};
    for (size_t i = 0; i < items; ++i) t.push_back(static_cast<uint8_t>(0xFF));  // sync-like bytes
    Append(t, block(header ? 0x80000000u : 0));
    return t;
}

Bytes Id3v1() {
    Bytes t = {'T', 'A', 'G'};
    t.resize(128, 0);
    return t;
}

TEST(DecoderTags, TaggedStreamsDecodeLikeTheBareOneAndReportTheirRanges) {
    const std::string path = std::string(QUV3_FIXTURES) + "/j44_128.mp3";
    const Bytes bare = ReadFileBytes(path);
    const Pcm want = DecodeWithQuv(path).pcm;
    struct Case {
        const char* name;
        Bytes front, back;
        int64_t id3v2, ape, id3v1;  // bytes expected
    };
    const Bytes tag = Id3v2(300, true);
    Bytes two = Id3v2(200, false);
    Append(two, Bytes(5000, 0));
    Append(two, Id3v2(130, true));
    Bytes padded = Id3v2(300, false);
    Append(padded, Bytes(5000, 0));
    Bytes ape_and_v1 = Ape(400, true);
    Append(ape_and_v1, Id3v1());
    const Case cases[] = {
        {"ID3v2 with footer", tag, {}, 320, 0, 0},
        {"ID3v2 and 5000 bytes of padding", padded, {}, 5310, 0, 0},
        {"two ID3v2 tags", two, {}, 210 + 5000 + 150, 0, 0},
        {"APEv2 with header", {}, Ape(400, true), 0, 464, 0},
        {"APEv2 without header", {}, Ape(400, false), 0, 432, 0},
        {"ID3v1", {}, Id3v1(), 0, 0, 128},
        {"ID3v2, APEv2 and ID3v1", tag, ape_and_v1, 320, 464, 128},
    };
    for (const Case& c : cases) {
        Bytes file = c.front;
        Append(file, bare);
        Append(file, c.back);
        TempFile f(file);
        EXPECT_EQ(InitQuv(f.path.c_str(), nullptr), c.front.empty() ? 0 : -1) << c.name;
        ExitQuv();
        const ApiDecoded got = FromMemory(file);
        ASSERT_EQ(got.open_result, 0) << c.name;
        EXPECT_EQ(got.pcm, want) << c.name;
        EXPECT_EQ(DecodeFileWithApi(f.path).pcm, want) << c.name;
        const quv3_info& i = got.info;
        EXPECT_EQ(i.id3v2.bytes, c.id3v2) << c.name;
        EXPECT_EQ(i.id3v2.offset, 0) << c.name;
        EXPECT_EQ(i.frames.offset, c.id3v2) << c.name;
        EXPECT_EQ(i.frames.bytes, static_cast<int64_t>(bare.size())) << c.name;
        EXPECT_EQ(i.ape.bytes, c.ape) << c.name;
        EXPECT_EQ(i.ape.offset, c.ape ? c.id3v2 + static_cast<int64_t>(bare.size()) : 0) << c.name;
        EXPECT_EQ(i.id3v1.bytes, c.id3v1) << c.name;
        if (c.id3v1) {
            EXPECT_EQ(i.id3v1.offset, static_cast<int64_t>(file.size()) - 128) << c.name;
        }
        // Through a pipe the tags at the end are not looked for; leading ones are skipped.
        if (c.back.empty()) {
            EXPECT_EQ(FromPipe(file).pcm, want) << c.name;
        }
    }
}

TEST(DecoderCalls, BadCallsAreRefused) {
    alignas(64) static unsigned char small[64];
    EXPECT_EQ(quv3_decoder_init(small, sizeof small), nullptr);
    EXPECT_EQ(quv3_decoder_init(nullptr, quv3_decoder_size()), nullptr);
    std::vector<unsigned char> block(quv3_decoder_size() + 128);
    unsigned char* at = block.data();
    while (reinterpret_cast<uintptr_t>(at) % quv3_decoder_alignment() != 1) ++at;
    EXPECT_EQ(quv3_decoder_init(at, quv3_decoder_size()), nullptr) << "misaligned";

    OwnedDecoder dec;
    int16_t pcm[QUV3_MAX_FRAME_VALUES];
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, nullptr), QUV3_BAD_CALL);
    EXPECT_EQ(quv3_close(dec.d), QUV3_BAD_CALL);
    EXPECT_EQ(quv3_open_file(dec.d, "/nonexistent/x.mp3", 0), QUV3_CANNOT_OPEN);
    EXPECT_EQ(quv3_open_memory(dec.d, nullptr, 10, 0), QUV3_CANNOT_OPEN);
    const Bytes zeros(5000, 0);
    EXPECT_EQ(quv3_open_memory(dec.d, zeros.data(), zeros.size(), 0), QUV3_NO_SYNC);
    EXPECT_EQ(quv3_seek_fraction(dec.d, 0.5), QUV3_BAD_CALL) << "no stream open after a failed open";
    EXPECT_EQ(quv3_decode_frame(nullptr, pcm, QUV3_S16, nullptr), QUV3_BAD_CALL);
}

// A small first frame, then one whose main data begins before the bytes the
// reservoir holds: a straight decode only feeds the reservoir with it. A seek
// or a step back that lands on it, after the whole stream was decoded, must
// do the same (its pre-roll starts over at the first frame).
TEST(DecoderMoves, FirstFramesRuleHoldsAfterAPreRoll) {
    HeaderSpec small;
    small.bitrate_index = 1;  // 32 kbit/s: 104 bytes, 68 of main data
    HeaderSpec h;
    Bytes file = SilentFrame(small);
    SideInfo reaching{};
    reaching.main_data_begin = 100;
    Append(file, BuildFrame(h, reaching, {}));
    for (int i = 0; i < 6; ++i) Append(file, SilentFrame(h));
    const ApiDecoded straight = FromMemory(file);
    ASSERT_EQ(straight.open_result, 0);
    ASSERT_EQ(straight.calls, 8);
    ASSERT_EQ(straight.empty_calls, 1);
    ASSERT_EQ(straight.pcm.size(), 7u * 2304);

    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_memory(dec.d, file.data(), file.size(), 0), 0);
    ApiDecoded all;
    all.info.channels = 2;
    DecodeRestWithApi(dec.d, all);
    ASSERT_EQ(quv3_seek_fraction(dec.d, 104.0 / static_cast<double>(file.size())), 0);
    int16_t pcm[QUV3_MAX_FRAME_VALUES];
    int32_t n = -1;
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, &n), 0);
    EXPECT_EQ(n, 0) << "the frame reaching before the stream's start was decoded after a seek";
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, &n), 0);
    EXPECT_EQ(n, 1152);
    // Two steps back after frame 2: frame 1 again, which again writes nothing.
    ASSERT_EQ(quv3_step_back(dec.d), 0);
    ASSERT_EQ(quv3_step_back(dec.d), 0);
    EXPECT_EQ(quv3_tell(dec.d), 1152);
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, &n), 0);
    EXPECT_EQ(n, 0) << "the same after two steps back";
    EXPECT_EQ(quv3_decode_frame(dec.d, pcm, QUV3_S16, &n), 0);
    EXPECT_EQ(n, 1152);
}

// The starts of the MPEG-1 Layer III frames of a bare stream of one rate.
std::vector<size_t> FrameStarts(const Bytes& b) {
    static const int kKbits[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kRates[] = {44100, 48000, 32000};
    std::vector<size_t> at;
    for (size_t p = 0; p + 4 <= b.size() && b[p] == 0xFF && (b[p + 1] & 0xFE) == 0xFA;) {
        at.push_back(p);
        const int index = b[p + 2] >> 4, rate = (b[p + 2] >> 2) & 3;
        if (index == 0 || index == 15 || rate == 3) break;
        p += 144000 * kKbits[index] / kRates[rate] + ((b[p + 2] >> 1) & 1);
    }
    return at;
}

// Bytes inside a frame's main data that read as a frame header are no frame:
// a seek that finds them first, and a step back after it, keep the output's
// count, and the positions learnt on the way stay right for later seeks.
TEST(DecoderMoves, AHeaderInsideAFrameIsNoFrame) {
    Bytes file = ReadFileBytes(std::string(QUV3_FIXTURES) + "/gapless44_cbr.mp3");
    const std::vector<size_t> at = FrameStarts(file);
    ASSERT_GT(at.size(), 100u);
    const size_t j = 55;
    std::copy(file.begin() + at[j], file.begin() + at[j] + 4, file.begin() + at[j] - 60);
    const ApiDecoded straight = DecodeWithApi(
        [&](quv3_decoder* d) { return quv3_open_memory(d, file.data(), file.size(), QUV3_OPEN_GAPLESS); });
    ASSERT_EQ(straight.open_result, 0);
    const int64_t trim = 1152 + 576 + 529;  // the Info frame, the encoder's delay and the decoder's
    ASSERT_EQ(straight.info.encoder_delay, 576);

    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_memory(dec.d, file.data(), file.size(), QUV3_OPEN_GAPLESS), 0);
    ASSERT_EQ(quv3_seek_fraction(dec.d, static_cast<double>(at[j] - 70) / static_cast<double>(file.size())), 0);
    EXPECT_EQ(quv3_tell(dec.d), static_cast<int64_t>(j) * 1152 - trim);
    int16_t pcm[QUV3_MAX_FRAME_VALUES];
    for (int i = 0; i < 2; ++i) quv3_decode_frame(dec.d, pcm, QUV3_S16, nullptr);
    ASSERT_EQ(quv3_step_back(dec.d), 0);
    EXPECT_EQ(quv3_tell(dec.d), static_cast<int64_t>(j + 1) * 1152 - trim);
    ApiDecoded rest;
    rest.info = straight.info;
    DecodeRestWithApi(dec.d, rest);
    const int64_t total = static_cast<int64_t>(straight.pcm.size()) / 2;
    const int64_t n = total * 3 / 4;
    ASSERT_EQ(quv3_seek_sample(dec.d, n), 0);
    int32_t got = 0;
    quv3_decode_frame(dec.d, pcm, QUV3_S16, &got);
    ASSERT_GT(got, 0);
    EXPECT_TRUE(std::equal(pcm, pcm + 2 * got, straight.pcm.begin() + 2 * n));
}

// SeekQuv reads the file as it is now, not the bytes buffered before: a file
// replaced by another stream of the same kind decodes as the new stream.
TEST(DecoderMoves, SeekReadsBytesChangedUnderTheBuffer) {
    const Bytes a = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    const Bytes b = ReadFileBytes(std::string(QUV3_FIXTURES) + "/dual44_128.mp3");
    ASSERT_GE(a.size(), 20000u);
    ASSERT_GE(b.size(), a.size());
    const Bytes b_cut(b.begin(), b.begin() + static_cast<ptrdiff_t>(a.size()));
    TempFile fb(b_cut);
    const Pcm want_b = DecodeWithQuv(fb.path).pcm;
    TempFile f(a);
    ASSERT_EQ(InitQuv(f.path.c_str(), nullptr), 0);
    int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    for (int i = 0; i < 3; ++i) Quv(pcm);  // the first 16 KiB are buffered now
    {
        std::ofstream out(f.path, std::ios::binary | std::ios::in);
        out.write(reinterpret_cast<const char*>(b_cut.data()), static_cast<std::streamsize>(b_cut.size()));
    }
    // A target inside the buffered bytes: frame 10 or so of the new content.
    ASSERT_EQ(SeekQuv(4200.0f / static_cast<float>(a.size())), 0);
    Pcm after;
    for (int i = 0; i < 4; ++i) {
        std::fill(std::begin(pcm), std::end(pcm), kSentinel);
        Quv(pcm);
        after.insert(after.end(), pcm, pcm + WrittenSamples(pcm, std::size(pcm)));
    }
    ExitQuv();
    ASSERT_EQ(after.size(), 4u * 2304);
    // The landing frame's samples appear in the new stream's straight decode.
    const auto at = std::search(want_b.begin(), want_b.end(), after.begin(), after.end());
    EXPECT_NE(at, want_b.end()) << "the seek decoded the bytes buffered before the file changed";
}

// A damaged header in the last 2000 bytes: the exports' sync search reads
// whole 2000-byte blocks and ends the stream there; the re-entrant library
// looks into the shorter last block too, decodes the frames after the damage
// and counts what it skipped.
TEST(DecoderDamage, FramesAfterDamageInTheLastBlockDecode) {
    Bytes file = ReadFileBytes(std::string(QUV3_FIXTURES) + "/m22_24_lsf.mp3");
    ASSERT_GT(file.size(), 4000u);
    const size_t from = file.size() - 1950;  // less than a block before the end
    for (size_t i = from; i < from + 300; ++i) file[i] = 0x55;
    TempFile f(file);
    const Decoded exports = DecodeWithQuv(f.path);
    OwnedDecoder dec;
    ASSERT_EQ(quv3_open_memory(dec.d, file.data(), file.size(), 0), 0);
    ApiDecoded api;
    api.info.channels = 1;
    DecodeRestWithApi(dec.d, api);
    quv3_damage damage{};
    quv3_get_damage(dec.d, &damage);
    EXPECT_GE(damage.lost_frames, 1);
    EXPECT_GT(damage.skipped_bytes, 0);
    // 1650 bytes of 78-byte frames after the damage: some 20 frames of 576.
    EXPECT_GE(api.pcm.size(), exports.pcm.size() + 15 * 576);
}

// The level chosen is the highest the processor's own flags allow: a machine
// with AVX-512 must not quietly run (and test) only AVX2.
TEST(DecoderKernels, LevelMatchesTheProcessorFlags) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, flags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0 || line.rfind("Features", 0) == 0) {
            flags = " " + line.substr(line.find(':') + 1) + " ";
            break;
        }
    }
    if (flags.empty()) GTEST_SKIP() << "no processor flags to compare with";
    auto has = [&](const char* f) { return flags.find(std::string(" ") + f + " ") != std::string::npos; };
    int want = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (has("sse2")) want = 1;
    if (has("avx2") && has("fma")) want = 2;
    if (has("avx512f")) want = 3;
#elif defined(__aarch64__)
    want = 1;
    (void)has;
#endif
    EXPECT_EQ(CpuKernelLevel(), want) << flags;
    EXPECT_EQ(KernelLevelCount() - 1 >= want, true);
}

}  // namespace
}  // namespace quv3::test
