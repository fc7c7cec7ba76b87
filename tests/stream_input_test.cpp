#include <gtest/gtest.h>

#include <random>

#include "decoder/stream/stream.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

// A file larger than several buffers, every byte known.
Bytes Noise(size_t n) {
    std::mt19937 rng(17);
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

struct Input {
    TempFile file;
    std::unique_ptr<Stream> s = std::make_unique<Stream>();
    explicit Input(const Bytes& content) : file(content) { EXPECT_EQ(OpenInput(*s, file.path.c_str()), 0); }
    ~Input() { CloseInput(*s); }
    Bytes Read(int32_t n, int32_t* got = nullptr) {
        Bytes b(static_cast<size_t>(n));
        const int32_t r = ReadInput(*s, b.data(), n);
        if (got) *got = r;
        b.resize(static_cast<size_t>(r));
        return b;
    }
};

Bytes Slice(const Bytes& b, int64_t from, int64_t n) {
    if (n <= 0) return {};
    return Bytes(b.begin() + from, b.begin() + from + n);
}

TEST(StreamInput, SequentialReadsDeliverTheFileAcrossRefills) {
    const Bytes content = Noise(5 * kInputBufferBytes + 123);
    Input in(content);
    int64_t at = 0;
    // Sizes below, at and above the buffer, crossing its ends at odd places.
    for (int32_t n : {1, 4, 36, 417, kInputBufferBytes, 3, kInputBufferBytes + 5, 2 * kInputBufferBytes, 7000}) {
        const int64_t want = std::min<int64_t>(n, static_cast<int64_t>(content.size()) - at);
        ASSERT_EQ(in.Read(n), Slice(content, at, want)) << "read of " << n << " at " << at;
        at += want;
        EXPECT_EQ(TellInput(*in.s), at);
    }
}

TEST(StreamInput, SeeksInsideAndOutsideTheBufferReadTheRightBytes) {
    const Bytes content = Noise(3 * kInputBufferBytes);
    Input in(content);
    std::mt19937 rng(5);
    in.Read(100);
    for (int trial = 0; trial < 500; ++trial) {
        const int64_t here = TellInput(*in.s);
        int64_t target;
        if (trial % 2) {
            // Relative, often backwards a little as the step back does.
            const int64_t delta = static_cast<int64_t>(rng() % 6000) - 4000;
            target = here + delta;
            if (target < 0) {
                EXPECT_EQ(SeekInputBy(*in.s, delta), -1);
                EXPECT_EQ(TellInput(*in.s), here) << "a refused seek leaves the position";
                continue;
            }
            ASSERT_EQ(SeekInputBy(*in.s, delta), 0);
        } else {
            target = static_cast<int64_t>(rng() % content.size());
            ASSERT_EQ(SeekInputTo(*in.s, target), 0);
        }
        EXPECT_EQ(TellInput(*in.s), target);
        const int32_t n = static_cast<int32_t>(rng() % 3000);
        const int64_t want = std::max<int64_t>(0, std::min<int64_t>(n, static_cast<int64_t>(content.size()) - target));
        ASSERT_EQ(in.Read(n), Slice(content, target, want)) << "trial " << trial;
    }
}

TEST(StreamInput, TheEndDeliversWhatIsThereAndNothingAfter) {
    const Bytes content = Noise(1000);
    Input in(content);
    int32_t got = 0;
    EXPECT_EQ(in.Read(600, &got), Slice(content, 0, 600));
    EXPECT_EQ(in.Read(600, &got), Slice(content, 600, 400));
    EXPECT_EQ(got, 400);
    EXPECT_EQ(TellInput(*in.s), 1000);
    in.Read(4, &got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(TellInput(*in.s), 1000);
    // Past the end: nothing to read, and a seek back finds the bytes again.
    EXPECT_EQ(SeekInputTo(*in.s, 5000), 0);
    in.Read(10, &got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(SeekInputTo(*in.s, 990), 0);
    EXPECT_EQ(in.Read(20), Slice(content, 990, 10));
    EXPECT_EQ(SeekInputTo(*in.s, -1), -1);
    EXPECT_EQ(InputLength(*in.s), 1000);
}

TEST(StreamInput, ReopeningForgetsTheEarlierFile) {
    const Bytes first = Noise(4000), second = Bytes(4000, 0x5A);
    TempFile a(first), b(second);
    auto s = std::make_unique<Stream>();
    ASSERT_EQ(OpenInput(*s, a.path.c_str()), 0);
    Bytes got(100);
    ReadInput(*s, got.data(), 100);
    CloseInput(*s);
    ASSERT_EQ(OpenInput(*s, b.path.c_str()), 0);
    EXPECT_EQ(TellInput(*s), 0);
    ReadInput(*s, got.data(), 100);
    EXPECT_EQ(got, Slice(second, 0, 100));
    CloseInput(*s);
    EXPECT_EQ(OpenInput(*s, "/nonexistent/quv3/file.mp3"), -5);
}

}  // namespace
}  // namespace quv3::test
