// After SeekQuv and QuvOneBck the next Quv delivers exactly the samples a
// straight decode from the start delivers for the frame they land on, and so
// does every call after it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decoder/api/quv3.h"
#include "decoder/api/quv3_decoder.h"
#include "decoder/stream/stream.h"
#include "tests/support/api_decode.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/state_builder.h"
#include "tests/support/stream_builder.h"

namespace quv3::test {
namespace {

// What each Quv call wrote (empty when the call wrote nothing).
using Calls = std::vector<Pcm>;

Calls DecodeRest(int max_calls = 1 << 20) {
    Calls calls;
    int16_t buf[QUV3_PCM_BUFFER_BYTES / 2];
    for (int r = 0; r == 0 && static_cast<int>(calls.size()) < max_calls;) {
        std::fill(std::begin(buf), std::end(buf), kSentinel);
        r = Quv(buf);
        calls.emplace_back(buf, buf + WrittenSamples(buf, std::size(buf)));
    }
    return calls;
}

Calls Straight(const std::string& path) {
    EXPECT_EQ(InitQuv(path.c_str(), nullptr), 0);
    Calls c = DecodeRest();
    ExitQuv();
    return c;
}

// Every frame a straight decode walks through: where it starts, and whether the
// sync search can find it (its header matches the first frame's pattern).
struct Frames {
    std::vector<int64_t> at;
    std::vector<bool> findable;
};

Frames FramesOf(const std::string& path, const OpenRules& rules = OpenRules{}) {
    auto s = OpenLocal(path, rules);
    Frames f;
    if (s->open_result != 0) return f;
    const Bytes file = ReadFileBytes(path);
    int16_t pcm[2304];
    do {
        f.at.push_back(PendingFramePosition(s->in));
        f.findable.push_back(MatchesSyncPattern(s->in, &file[static_cast<size_t>(f.at.back())]));
    } while (s->Next(pcm) == 0);
    return f;
}

// The first kCompared calls after landing on frame `at` against the straight
// decode's calls from there.
constexpr int kCompared = 8;

bool SameCalls(const Calls& straight, size_t at, const Calls& after) {
    for (size_t i = 0; i < after.size(); ++i)
        if (at + i >= straight.size() || after[i] != straight[at + i]) return false;
    return true;
}

// After `decoded` calls and `steps` steps back the calls are the straight
// decode's from frame decoded - steps, more than 2008 bytes into the stream and
// with every frame between findable by the sync search; nearer its start the
// decoder goes back to the first frame, and the calls are some frame's.
// Whether the exact frame was checked.
bool ExpectStepsBack(const Calls& straight, const Frames& frames, int decoded, int steps, const Calls& after,
                     const std::string& what) {
    const int back = decoded - steps;
    if (back > 0 && frames.at[back] > 2100 &&
        std::all_of(frames.findable.begin() + back, frames.findable.begin() + decoded + 1, [](bool b) { return b; })) {
        EXPECT_TRUE(SameCalls(straight, static_cast<size_t>(back), after)) << what << ": not frame " << back
                                                                            << "'s samples";
        return true;
    }
    int landed = decoded;
    while (landed >= 0 && !SameCalls(straight, static_cast<size_t>(landed), after)) --landed;
    EXPECT_GE(landed, 0) << what << ": the samples of no frame";
    return false;
}

TEST(PreRoll, SeekLandsOnTheExactFrame) {
    const float fractions[] = {0.0f, 1e-6f, 0.001f, 0.01f, 0.25f, 0.5f, 0.77f, 0.99f, 0.999f};
    int seeks = 0;
    for (const std::string& path : AllStreamPaths()) {
        if (InitQuv(path.c_str(), nullptr) != 0) continue;  // a stream the library refuses
        ExitQuv();
        const Calls straight = Straight(path);
        const Frames frames = FramesOf(path);
        ASSERT_EQ(frames.at.size(), straight.size()) << path;
        const int64_t length = static_cast<int64_t>(ReadFileBytes(path).size());
        for (float f : fractions) {
            const int64_t target = static_cast<int64_t>(static_cast<double>(length) * static_cast<double>(f));
            size_t want = 0;
            while (want < frames.at.size() && (frames.at[want] < target || !frames.findable[want])) ++want;
            ASSERT_EQ(InitQuv(path.c_str(), nullptr), 0);
            DecodeRest(7);  // the memories and the reservoir now hold other frames
            const int32_t r = SeekQuv(f);
            const std::string what = path + " after SeekQuv(" + std::to_string(f) + ")";
            if (r != 0) {
                // No full 2000-byte block after the target holds a findable frame.
                EXPECT_TRUE(want == frames.at.size() || frames.at[want] + 4 > length - (length - target) % 2000)
                    << what;
                ExitQuv();
                continue;
            }
            const Calls after = DecodeRest(kCompared);
            ExitQuv();
            EXPECT_TRUE(SameCalls(straight, want, after)) << what << ": not frame " << want << "'s samples";
            ++seeks;
        }
    }
    EXPECT_GE(seeks, 80);  // the fixtures alone give more than 80
}

TEST(PreRoll, StepsBackToTheExactFrame) {
    for (const std::string& path : AllStreamPaths()) {
        if (InitQuv(path.c_str(), nullptr) != 0) continue;
        ExitQuv();
        const Calls straight = Straight(path);
        const Frames frames = FramesOf(path);
        for (int decoded : {1, 2, 3, 6, 40}) {
            for (int steps : {1, 2, 10}) {
                if (decoded + 2 > static_cast<int>(straight.size())) continue;
                ASSERT_EQ(InitQuv(path.c_str(), nullptr), 0);
                DecodeRest(decoded);
                for (int i = 0; i < steps; ++i) EXPECT_EQ(QuvOneBck(), 0);
                const Calls after = DecodeRest(kCompared);
                ExitQuv();
                const std::string what = path + " after " + std::to_string(decoded) + " calls and " +
                                         std::to_string(steps) + " steps back";
                ExpectStepsBack(straight, frames, decoded, steps, after, what);
            }
        }
    }
}

// The missing main data before a damaged header reads as zeros: no crash, the
// frames from the landing frame on are decoded, and from the first frame that
// does not reach back past the damage on, the samples are exact.
TEST(PreRoll, DamagedHeaderBeforeTheLandingFrame) {
    Bytes file = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j48_32.mp3");
    const std::string path = std::string(QUV3_FIXTURES) + "/j48_32.mp3";
    const Calls straight = Straight(path);
    const std::vector<int64_t> at = FramesOf(path).at;
    const size_t landing = at.size() / 2;
    file[static_cast<size_t>(at[landing - 1])] = 0;  // the frame before the landing frame
    TempFile damaged(file);
    ASSERT_EQ(InitQuv(damaged.path.c_str(), nullptr), 0);
    ASSERT_EQ(SeekQuv(static_cast<float>(at[landing] - 10) / static_cast<float>(file.size())), 0);
    const Calls after = DecodeRest();
    ExitQuv();
    ASSERT_EQ(after.size(), straight.size() - landing);
    for (const Pcm& call : after) EXPECT_EQ(call.size(), straight.back().size());
    EXPECT_EQ(after.back(), straight.back());
}

// A decoder of the re-entrant API and the calls it delivers.
struct CallsDecoder : OwnedDecoder {
    int32_t channels = 0;
    int32_t Open(const std::string& path) {
        const int32_t r = quv3_open_file(d, path.c_str(), 0);
        quv3_info info{};
        channels = quv3_get_info(d, &info) == 0 ? info.channels : 0;
        return r;
    }
    // What each quv3_decode_frame call wrote (empty when it wrote nothing).
    Calls DecodeRest(int max_calls = 1 << 20) {
        Calls calls;
        int16_t buf[QUV3_MAX_FRAME_VALUES];
        for (int32_t r = 0; r == 0 && static_cast<int>(calls.size()) < max_calls;) {
            int32_t n = 0;
            r = quv3_decode_frame(d, buf, QUV3_S16, &n);
            calls.emplace_back(buf, buf + n * channels);
        }
        return calls;
    }
};

// MPEG 2.5, which the exports refuse, through the re-entrant API:
// quv3_seek_fraction and quv3_step_back land on a frame and deliver exactly
// what the straight decode delivers there, as SeekQuv and QuvOneBck do above.
TEST(PreRoll, Mpeg25SeekAndStepBackThroughTheDecoderApi) {
    const double fractions[] = {0.0, 1e-6, 0.001, 0.01, 0.25, 0.5, 0.77, 0.99, 0.999};
    int seeks = 0, exact_steps = 0;
    for (const char* name : {"j8_16_mpeg25", "m11_24_mpeg25", "j12_32_mpeg25"}) {
        const std::string path = std::string(QUV3_FIXTURES) + "/" + name + ".mp3";
        ASSERT_EQ(InitQuv(path.c_str(), nullptr), -2) << name;
        CallsDecoder a;
        ASSERT_EQ(a.Open(path), 0) << name;
        quv3_info info{};
        ASSERT_EQ(quv3_get_info(a.d, &info), 0);
        EXPECT_EQ(info.version, 3);
        const int64_t length = static_cast<int64_t>(ReadFileBytes(path).size());
        ASSERT_EQ(info.frames.offset, 0) << name << ": no tags, the frames are the file";
        ASSERT_EQ(info.frames.bytes, length) << name;
        const Calls straight = a.DecodeRest();
        const Frames frames = FramesOf(path, OpenRules{true, true, true});
        ASSERT_EQ(frames.at.size(), straight.size()) << name;

        for (double f : fractions) {
            const int64_t target = static_cast<int64_t>(std::trunc(static_cast<double>(length) * f));
            size_t want = 0;
            while (want < frames.at.size() && (frames.at[want] < target || !frames.findable[want])) ++want;
            ASSERT_EQ(a.Open(path), 0);
            a.DecodeRest(7);  // the memories and the reservoir now hold other frames
            const int32_t r = quv3_seek_fraction(a.d, f);
            const std::string what = std::string(name) + " after quv3_seek_fraction(" + std::to_string(f) + ")";
            if (r != 0) {
                EXPECT_EQ(r, QUV3_END) << what;
                // No full 2000-byte block after the target holds a findable frame.
                EXPECT_TRUE(want == frames.at.size() || frames.at[want] + 4 > length - (length - target) % 2000)
                    << what;
                continue;
            }
            EXPECT_TRUE(SameCalls(straight, want, a.DecodeRest(kCompared)))
                << what << ": not frame " << want << "'s samples";
            ++seeks;
        }

        for (int decoded : {1, 2, 3, 6, 18, 21, 30}) {
            for (int steps : {1, 2, 10}) {
                if (decoded + 2 > static_cast<int>(straight.size())) continue;
                ASSERT_EQ(a.Open(path), 0);
                a.DecodeRest(decoded);
                for (int i = 0; i < steps; ++i) EXPECT_EQ(quv3_step_back(a.d), 0);
                const Calls after = a.DecodeRest(kCompared);
                const std::string what = std::string(name) + " after " + std::to_string(decoded) + " calls and " +
                                         std::to_string(steps) + " steps back";
                exact_steps += ExpectStepsBack(straight, frames, decoded, steps, after, what);
            }
        }
    }
    // Files of 3 to 7 KB: the late fractions leave no full 2000-byte block to search.
    EXPECT_GE(seeks, 15);
    EXPECT_GE(exact_steps, 10);
    std::printf("%d seeks and %d steps back landed exactly\n", seeks, exact_steps);
}

// Frames of a file over 2 GiB at chosen places, the rest a hole (no disk space).
TEST(PreRoll, SeekIntoAFileOver2GiB) {
    HeaderSpec h;
    const Bytes frame = SilentFrame(h);
    // 0.999 of this file is about 2,295,000,000; 0.999 of a length capped at
    // 2^31 - 1 would be 2,145,336,164, and a decoy frame stands between the two.
    const int64_t decoy = 2200000000LL, late = 2297000000LL;
    const int64_t size = late + 3 * static_cast<int64_t>(frame.size());
    const std::string path = ::testing::TempDir() + "quv3_sparse_" + std::to_string(getpid()) + ".mp3";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int64_t pos : {int64_t{0}, decoy, late, late + 417, late + 834}) {
        ASSERT_EQ(fseeko(f, pos, SEEK_SET), 0);
        std::fwrite(frame.data(), 1, frame.size(), f);
    }
    std::fclose(f);

    auto s = std::make_unique<Stream>();
    StreamDescription d{};
    ASSERT_EQ(OpenStream(*s, path.c_str(), d), 0);
    EXPECT_EQ(s->stream_length, size);
    EXPECT_EQ(d.total_samples, 0x7FFFFFFF) << "13.5 hours and more: capped";
    EXPECT_EQ(SeekFraction(*s, 0.999f), 0);
    EXPECT_EQ(PendingFramePosition(*s), late);
    CloseInput(*s);

    ASSERT_EQ(InitQuv(path.c_str(), nullptr), 0);
    EXPECT_EQ(SeekQuv(0.999f), 0);
    EXPECT_EQ(DecodeRest().size(), 3u) << "the three frames at the end";
    ExitQuv();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace quv3::test
