#include "updater/sample_convert.h"

#include <cstdio>
#include <cstring>

#include "updater/platform.h"

namespace updater {
namespace {

constexpr int kBlockValues = 8192;
constexpr int kPairBytes = 4 * kBlockValues;  // one left and one right block, interleaved
constexpr int kMaxCodedBlock = 16400;
constexpr int kCp8Block = 8192;

void PutLe(uint8_t* p, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool EndsWith3(const char* path, const char* ext) {
    const size_t n = std::strlen(path);
    return n >= 3 && std::memcmp(path + n - 3, ext, 3) == 0;
}

void ReplaceLast3(char* path, const char* ext) { std::memcpy(path + std::strlen(path) - 3, ext, 3); }

// Working storage of one conversion; static so nothing large sits on the stack.
struct Scratch {
    int16_t left[kBlockValues];
    int16_t right[kBlockValues];
    uint8_t bytes[kMaxCodedBlock];
    uint8_t out[kPairBytes];
};
Scratch g_scratch;

// Second-order prediction undone by two running sums with 16-bit wrap-around.
void RunningSums(int16_t* r) {
    for (int k = 2; k < kBlockValues; ++k) r[k] = static_cast<int16_t>(r[k] + r[k - 1]);
    for (int k = 1; k < kBlockValues; ++k) r[k] = static_cast<int16_t>(r[k] + r[k - 1]);
}

// One CMP block into 8192 values: 1 on success, kBadBlockLength or kUnreadableSource.
int ReadCmpBlock(FILE* in, int16_t length, int16_t* values) {
    uint8_t* b = g_scratch.bytes;
    if (length == -1) {
        if (std::fread(b, 1, 2 * kBlockValues, in) != 2 * kBlockValues) return kUnreadableSource;
        for (int k = 0; k < kBlockValues; ++k) values[k] = static_cast<int16_t>(b[2 * k] | (b[2 * k + 1] << 8));
        return 1;
    }
    if (length < kBlockValues || length > kMaxCodedBlock) return kBadBlockLength;
    const size_t code_bytes = static_cast<size_t>(length) - 2;
    if (std::fread(b, 1, code_bytes, in) != code_bytes) return kUnreadableSource;
    size_t pos = 0;
    for (int k = 0; k < kBlockValues; ++k) {
        // Codes that run out before 8192 values make the length field a lie.
        if (pos >= code_bytes) return kBadBlockLength;
        if (b[pos] != 0x80) {
            values[k] = static_cast<int8_t>(b[pos++]);
        } else {
            if (pos + 3 > code_bytes) return kBadBlockLength;
            values[k] = static_cast<int16_t>(b[pos + 1] | (b[pos + 2] << 8));
            pos += 3;
        }
    }
    return 1;
}

int ConvertCmp(FILE* in, FILE* out) {
    uint8_t head[4];
    if (std::fread(head, 1, 4, in) != 4) return kUnreadableSource;
    const int32_t total = static_cast<int32_t>(head[0] | (head[1] << 8) | (head[2] << 16) | (uint32_t{head[3]} << 24));
    const int64_t whole_pairs = total - total % kPairBytes;  // rounded toward zero
    int64_t written = 0;
    bool have_left = false;
    // One block is always read before the first comparison, even when the total is 0.
    do {
        uint8_t lf[2];
        if (std::fread(lf, 1, 2, in) != 2) break;
        const int16_t length = static_cast<int16_t>(lf[0] | (lf[1] << 8));
        int16_t* values = have_left ? g_scratch.right : g_scratch.left;
        const int r = ReadCmpBlock(in, length, values);
        if (r != 1) return r;
        RunningSums(values);
        if (!have_left) {
            have_left = true;
            continue;
        }
        have_left = false;
        for (int k = 0; k < kBlockValues; ++k) {
            PutLe(g_scratch.out + 4 * k, static_cast<uint16_t>(g_scratch.left[k]), 2);
            PutLe(g_scratch.out + 4 * k + 2, static_cast<uint16_t>(g_scratch.right[k]), 2);
        }
        if (std::fwrite(g_scratch.out, 1, kPairBytes, out) != kPairBytes) return kUnwritableOutput;
        written += kPairBytes;
    } while (written != whole_pairs);  // tested after every block, left ones too
    // The tail: the last (total mod 32768) bytes, stored as they are.
    const size_t tail = std::fread(g_scratch.out, 1, kPairBytes, in);
    if (std::ferror(in)) return kUnreadableSource;
    if (tail > 0 && std::fwrite(g_scratch.out, 1, tail, out) != tail) return kUnwritableOutput;
    return kConvertedCmp;
}

int16_t Cp8Sample(uint8_t byte) {
    const int s = static_cast<int8_t>(byte);
    return static_cast<int16_t>(static_cast<uint16_t>((s - 128) * 255));
}

int ConvertCp8(FILE* in, FILE* out) {
    if (std::fseek(in, 0, SEEK_END) != 0) return kUnreadableSource;
    const long n = std::ftell(in);
    if (n < 0) return kUnreadableSource;
    const long half = n / 2;
    // An odd length leaves the right half one byte longer: the header announces
    // the frames actually written, N - H of them.
    const uint32_t frames = static_cast<uint32_t>(n - half);
    uint8_t header[44];
    WriteWaveHeader(4 * frames, 22050, 2, header);
    if (std::fwrite(header, 1, 44, out) != 44) return kUnwritableOutput;
    uint8_t* left = g_scratch.bytes;
    uint8_t* right = g_scratch.bytes + kCp8Block;
    for (long k = 0; k <= n / (2 * kCp8Block); ++k) {
        if (std::fseek(in, kCp8Block * k, SEEK_SET) != 0) return kUnreadableSource;
        const size_t got_left = std::fread(left, 1, kCp8Block, in);
        if (std::fseek(in, half + kCp8Block * k, SEEK_SET) != 0) return kUnreadableSource;
        const size_t got = std::fread(right, 1, kCp8Block, in);
        if (got_left < got || std::ferror(in)) return kUnreadableSource;
        for (size_t i = 0; i < got; ++i) {
            PutLe(g_scratch.out + 4 * i, static_cast<uint16_t>(Cp8Sample(left[i])), 2);
            PutLe(g_scratch.out + 4 * i + 2, static_cast<uint16_t>(Cp8Sample(right[i])), 2);
        }
        if (got > 0 && std::fwrite(g_scratch.out, 4, got, out) != got) return kUnwritableOutput;
    }
    return kConvertedCp8;
}

}  // namespace

void WriteWaveHeader(uint32_t data_bytes, uint32_t sample_rate, uint32_t channels, uint8_t out[44]) {
    std::memcpy(out, "RIFF", 4);
    PutLe(out + 4, data_bytes + 36, 4);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    PutLe(out + 16, 16, 4);
    PutLe(out + 20, 1, 2);
    PutLe(out + 22, channels, 2);
    PutLe(out + 24, sample_rate, 4);
    PutLe(out + 28, sample_rate * channels * 2, 4);
    PutLe(out + 32, channels * 2, 2);
    PutLe(out + 34, 16, 2);
    std::memcpy(out + 36, "data", 4);
    PutLe(out + 40, data_bytes, 4);
}

namespace {

struct Conversion {
    const char* source;
    bool cmp;
    int result;  // ConvertSampleFile's result
};

// Converts the job's source into temp: 1 when the WAVE file is complete.
int ConvertInto(const char* temp, void* context) {
    Conversion& job = *static_cast<Conversion*>(context);
    FILE* in = std::fopen(job.source, "rb");
    if (in == nullptr) {
        job.result = kUnreadableSource;
        return 0;
    }
    FILE* out = std::fopen(temp, "wb");
    if (out == nullptr) {
        std::fclose(in);
        job.result = kUnwritableOutput;
        return 0;
    }
    job.result = job.cmp ? ConvertCmp(in, out) : ConvertCp8(in, out);
    std::fclose(in);
    if (std::fclose(out) != 0 && job.result > 0) job.result = kUnwritableOutput;
    return job.result > 0 ? 1 : 0;
}

}  // namespace

int ConvertSampleFile(char* source, char* destination) {
    const bool cmp = EndsWith3(source, "cmp");
    if (!cmp && !EndsWith3(source, "cp8")) return kNotSampleFile;
    char output[kPathBytes];
    std::memcpy(output, source, std::strlen(source) + 1);
    ReplaceLast3(output, "wav");
    if (std::strlen(destination) >= 3) ReplaceLast3(destination, "wav");

    // Written under a temporary name and renamed over the output when complete,
    // so a failure never leaves a WAVE file that a later step could take for good.
    Conversion job{source, cmp, kUnwritableOutput};
    if (WriteReplacing(output, ConvertInto, &job) != 1) return job.result > 0 ? kUnwritableOutput : job.result;
    const int r = job.result;
    std::memcpy(source, output, std::strlen(output) + 1);
    return r;
}

}  // namespace updater
