// CMP and CP8 conversion, byte-exact against values derived from the formats.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/stream_builder.h"
#include "updater/sample_convert.h"

namespace updater {
namespace {

using quv3::test::Bytes;
using quv3::test::FileExists;
using quv3::test::ReadFileBytes;

void Put16(Bytes& b, int v) {
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void Put32(Bytes& b, int64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A coded block: each residual as one byte when it fits (and is not 0x80), else escaped.
Bytes CodedBlock(const std::vector<int>& r) {
    Bytes codes;
    for (int v : r) {
        if (v >= -128 && v <= 127 && v != -128) {
            codes.push_back(static_cast<uint8_t>(static_cast<int8_t>(v)));
        } else {
            codes.push_back(0x80);
            Put16(codes, v);
        }
    }
    Bytes b;
    Put16(b, static_cast<int>(codes.size()) + 2);
    quv3::test::Append(b, codes);
    return b;
}

Bytes StoredBlock(const std::vector<int>& r) {
    Bytes b;
    Put16(b, -1);
    for (int v : r) Put16(b, v);
    return b;
}

// x[0] = r[0], x[1] = r[0] + r[1], x[k] = 2 x[k-1] - x[k-2] + r[k], all modulo 2^16.
std::vector<int16_t> Integrate(const std::vector<int>& r) {
    std::vector<int16_t> x(8192);
    x[0] = static_cast<int16_t>(r[0]);
    x[1] = static_cast<int16_t>(r[0] + r[1]);
    for (int k = 2; k < 8192; ++k) x[k] = static_cast<int16_t>(2 * x[k - 1] - x[k - 2] + r[k]);
    return x;
}

std::vector<int> Residuals(int first, int second, int rest = 0) {
    std::vector<int> r(8192, rest);
    r[0] = first;
    r[1] = second;
    return r;
}

struct Paths {
    char source[kPathBytes];
    char destination[kPathBytes];
    std::string output;
};

std::string TempDir() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// Files whose path begins with prefix (a file of that name, or a temporary beside it).
int FilesStartingWith(const std::string& prefix) {
    const std::string dir = prefix.substr(0, prefix.rfind('/')), base = prefix.substr(prefix.rfind('/') + 1);
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) n += std::string(e->d_name).rfind(base, 0) == 0;
        closedir(d);
    }
    return n;
}

// The samples written and the outputs they may give, removed when the tests end.
struct WrittenFiles {
    std::vector<std::string> paths;
    ~WrittenFiles() {
        for (const std::string& path : paths) std::remove(path.c_str());
    }
};
WrittenFiles g_written;

Paths WriteSample(const std::string& name, const Bytes& content) {
    Paths p;
    const std::string source = TempDir() + "/" + std::to_string(getpid()) + "_" + name;
    g_written.paths.push_back(source);
    g_written.paths.push_back(source.substr(0, source.size() - 3) + "wav");
    std::snprintf(p.source, sizeof p.source, "%s", source.c_str());
    std::snprintf(p.destination, sizeof p.destination, "/install/%s", name.c_str());
    FILE* f = std::fopen(p.source, "wb");
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    p.output = source.substr(0, source.size() - 3) + "wav";
    std::remove(p.output.c_str());
    return p;
}

void ExpectSamples(const Bytes& out, size_t offset, const std::vector<int16_t>& left,
                   const std::vector<int16_t>& right) {
    ASSERT_GE(out.size(), offset + 4 * left.size());
    for (size_t k = 0; k < left.size(); ++k) {
        const int16_t l = static_cast<int16_t>(out[offset + 4 * k] | (out[offset + 4 * k + 1] << 8));
        const int16_t r = static_cast<int16_t>(out[offset + 4 * k + 2] | (out[offset + 4 * k + 3] << 8));
        ASSERT_EQ(l, left[k]) << k;
        ASSERT_EQ(r, right[k]) << k;
    }
}

TEST(WaveHeader, FieldsAtTheirOffsets) {
    uint8_t h[44];
    WriteWaveHeader(40000, 22050, 2, h);
    EXPECT_EQ(std::memcmp(h, "RIFF", 4), 0);
    EXPECT_EQ(h[4] | (h[5] << 8) | (h[6] << 16), 40036);
    EXPECT_EQ(std::memcmp(h + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(h[16], 16);
    EXPECT_EQ(h[20], 1);
    EXPECT_EQ(h[22], 2);
    EXPECT_EQ(h[24] | (h[25] << 8), 22050);
    EXPECT_EQ(h[28] | (h[29] << 8) | (h[30] << 16), 88200);
    EXPECT_EQ(h[32], 4);
    EXPECT_EQ(h[34], 16);
    EXPECT_EQ(std::memcmp(h + 36, "data", 4), 0);
    EXPECT_EQ(h[40] | (h[41] << 8) | (h[42] << 16), 40000);
}

TEST(CmpConvert, OneCodedPairNoTail) {
    const auto rl = Residuals(0, 1);  // a ramp 0, 1, 2, ...
    const auto rr = Residuals(-7, 0);  // constant -7
    Bytes file;
    Put32(file, 32768);
    const Bytes left = CodedBlock(rl);
    EXPECT_EQ(left[0] | (left[1] << 8), 8194) << "all single-byte codes";
    quv3::test::Append(file, left);
    quv3::test::Append(file, CodedBlock(rr));
    Paths p = WriteSample("ramp.cmp", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCmp);
    EXPECT_EQ(p.source, p.output);
    EXPECT_STREQ(p.destination, "/install/ramp.wav");
    const Bytes out = ReadFileBytes(p.output);
    EXPECT_EQ(out.size(), 32768u);
    ExpectSamples(out, 0, Integrate(rl), Integrate(rr));
    std::remove(p.output.c_str());
}

TEST(CmpConvert, EscapesStoredBlocksWrapAroundAndTail) {
    auto rl = Residuals(1000, 5);  // slope 5 wraps past 32767
    rl[100] = 3000;  // escaped
    rl[101] = -128;  // escaped: 0x80 is the escape byte
    const auto rr = Residuals(-32768, 7, 1);  // stored block, same sums
    Bytes file;
    Put32(file, 32768 + 10);
    const Bytes coded = CodedBlock(rl);
    EXPECT_EQ(coded[0] | (coded[1] << 8), 8194 + 6);  // three escapes (1000, 3000, -128) cost two bytes each
    quv3::test::Append(file, coded);
    quv3::test::Append(file, StoredBlock(rr));
    const Bytes tail = {'t', 'a', 'i', 'l', 0, 1, 2, 3, 4, 5};
    quv3::test::Append(file, tail);
    Paths p = WriteSample("wrap.cmp", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCmp);
    const Bytes out = ReadFileBytes(p.output);
    ASSERT_EQ(out.size(), 32768u + 10);
    const auto xl = Integrate(rl);
    EXPECT_LT(xl[8000], 0) << "the ramp wrapped";
    ExpectSamples(out, 0, xl, Integrate(rr));
    EXPECT_EQ(Bytes(out.end() - 10, out.end()), tail);
    std::remove(p.output.c_str());
}

TEST(CmpConvert, UnpairedLeftBlockIsDropped) {
    Bytes file;
    Put32(file, 65536);
    for (int i = 0; i < 3; ++i) quv3::test::Append(file, CodedBlock(Residuals(i, 1)));
    Paths p = WriteSample("odd.cmp", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCmp);
    EXPECT_EQ(ReadFileBytes(p.output).size(), 32768u);
    std::remove(p.output.c_str());
}

TEST(CmpConvert, InvalidBlockLengthFailsWithoutOutput) {
    for (int bad : {8191, 16401, 0, -2}) {
        Bytes file;
        Put32(file, 65536);
        quv3::test::Append(file, CodedBlock(Residuals(0, 1)));
        quv3::test::Append(file, CodedBlock(Residuals(0, 2)));
        Put16(file, bad);
        file.resize(file.size() + 9000, 0);
        Paths p = WriteSample("bad.cmp", file);
        const std::string source = p.source;
        EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kBadBlockLength) << bad;
        EXPECT_EQ(source, p.source) << "the source path is unchanged";
        EXPECT_STREQ(p.destination, "/install/bad.wav");
        EXPECT_FALSE(FileExists(p.output)) << "no partial WAVE file is left";
        EXPECT_EQ(FilesStartingWith(p.output), 0) << "nor a temporary one";
    }
}

TEST(CmpConvert, ShortOrMissingSourceFails) {
    Bytes file;
    Put32(file, 32768);
    Bytes block = CodedBlock(Residuals(0, 1));
    block.resize(block.size() - 100);  // the block is cut short
    quv3::test::Append(file, block);
    Paths p = WriteSample("short.cmp", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kUnreadableSource);
    EXPECT_FALSE(FileExists(p.output));
    Paths tiny = WriteSample("tiny.cmp", {1, 2});
    EXPECT_EQ(ConvertSampleFile(tiny.source, tiny.destination), kUnreadableSource);
    // Codes that end before 8192 values.
    Bytes lying;
    Put32(lying, 32768);
    Put16(lying, 8192);
    lying.resize(lying.size() + 8190, 1);
    Paths l = WriteSample("lying.cmp", lying);
    EXPECT_EQ(ConvertSampleFile(l.source, l.destination), kBadBlockLength);
    char source[kPathBytes] = "/nonexistent/dir/x.cmp";
    char destination[kPathBytes] = "/install/x.cmp";
    EXPECT_LT(ConvertSampleFile(source, destination), 0);
    // A good WAVE file of the same name from before survives a failed conversion.
    Paths keep = WriteSample("keep.cmp", {1, 2});
    FILE* f = std::fopen(keep.output.c_str(), "wb");
    std::fputs("good", f);
    std::fclose(f);
    EXPECT_EQ(ConvertSampleFile(keep.source, keep.destination), kUnreadableSource);
    EXPECT_EQ(ReadFileBytes(keep.output).size(), 4u);
    std::remove(keep.output.c_str());
}

TEST(Cp8Convert, TwentyThousandBytes) {
    Bytes file(20000);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
    Paths p = WriteSample("s.cp8", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCp8);
    EXPECT_STREQ(p.destination, "/install/s.wav");
    const Bytes out = ReadFileBytes(p.output);
    ASSERT_EQ(out.size(), 44u + 40000);
    EXPECT_EQ(out[40] | (out[41] << 8) | (out[42] << 16), 40000);
    auto map = [](uint8_t b) { return static_cast<int16_t>((static_cast<int8_t>(b) - 128) * 255); };
    std::vector<int16_t> left(10000), right(10000);
    for (int k = 0; k < 10000; ++k) left[k] = map(file[k]), right[k] = map(file[10000 + k]);
    ExpectSamples(out, 44, left, right);
    std::remove(p.output.c_str());
}

TEST(Cp8Convert, ByteMapping) {
    Paths p = WriteSample("m.cp8", {0x00, 0x7F, 0x80, 0xFF, 0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCp8);
    const Bytes out = ReadFileBytes(p.output);
    ASSERT_EQ(out.size(), 44u + 16);
    ExpectSamples(out, 44, {-32640, -255, 256, 32641}, {-32385, -32130, -31875, -31620});
    std::remove(p.output.c_str());
}

TEST(Cp8Convert, OddLengthHeaderMatchesTheData) {
    Paths p = WriteSample("o.cp8", {0x80, 0x80, 0x81, 0x82, 0x83});
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCp8);
    const Bytes out = ReadFileBytes(p.output);
    ASSERT_EQ(out.size(), 44u + 12);  // N - H = 3 frames
    EXPECT_EQ(out[40], 12);
    EXPECT_EQ(out[4], 48);
    std::remove(p.output.c_str());
}

TEST(SampleNames, OnlyLowerCaseLastThreeLettersCount) {
    for (const char* name : {"x.CMP", "x.Cp8", "x.wav", "readme", "cm"}) {
        Paths p = WriteSample(name, {1, 2, 3, 4});
        const std::string before = p.source;
        EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kNotSampleFile) << name;
        EXPECT_EQ(before, p.source);
    }
    Bytes file;
    Put32(file, 32768);
    quv3::test::Append(file, CodedBlock(Residuals(0, 1)));
    quv3::test::Append(file, CodedBlock(Residuals(0, 1)));
    Paths p = WriteSample("nodotcmp", file);
    EXPECT_EQ(ConvertSampleFile(p.source, p.destination), kConvertedCmp);
    EXPECT_STREQ(p.destination, "/install/nodotwav");
    EXPECT_TRUE(FileExists(p.output));
    std::remove(p.output.c_str());
}

}  // namespace
}  // namespace updater
