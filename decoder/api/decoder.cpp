// What the re-entrant API and the exports share: a decoder's making ready,
// opening, frame loop and moves.
#include "decoder/api/decoder.h"

#include <atomic>
#include <cstring>
#include <new>

namespace quv3 {
namespace {

// Longer than any frame (free format included), for what the end of a
// stream may hold beyond its last frame.
constexpr int64_t kLongestFrame = 2881;

// The synthesis filter's delay: a decoder's output lags the encoder's input
// by this many samples, on top of the delay the encoder reports.
constexpr int64_t kDecoderDelay = 529;

// The header walk counts a stream's frames for its exact length when it
// plays for less than this (by its size and bitrate): 10 minutes at 320
// kbit/s take 12 ms from memory (a Zen 3 core), an hour about 80 ms of
// reading; a longer stream's total is an estimate.
constexpr double kCountedSeconds = 3600.0;

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
    d.frame_number = 0;
    d.skip = 0;
    d.next_sample = 0;
    return Rewind(d.stream);
}

namespace {

int64_t SamplesPerFrame(const quv3_decoder& d) { return d.description.samples_per_frame; }

// Silent frames come only among the first 128 (those that write nothing at
// the start); the walk has seen them once it has passed them.
int64_t SilentBefore(const quv3_decoder& d, int64_t k) {
    int64_t n = 0;
    for (int64_t i = 0; i < k && i < 128; ++i) n += FrameIsSilent(d.index, i) ? 1 : 0;
    return n;
}

// The output number of frame k's first decoded sample: with the trim, from
// the first sample kept; otherwise counting what the frames before write.
int64_t OutputStart(const quv3_decoder& d, int64_t k) {
    if (d.trimmed) return k * SamplesPerFrame(d) - d.trim_first;
    return (k - SilentBefore(d, k)) * SamplesPerFrame(d);
}

// An encoder may write its tag frame with other flags than the audio frames
// (the original bit, say): the sync search looks for the audio frames, as the
// second frame's header gives them.
void FollowAudioFrames(Stream& in) {
    const int64_t back = TellInput(in);
    const int32_t length = FrameLength(in.header, in.free_format_bytes);
    uint8_t b[4];
    FrameHeader second{};
    if (length > 0 && SeekInputTo(in, in.data_start + length) == 0 && ReadInput(in, b, 4) == 4 &&
        ParseFrameHeader(b, second, in.rules.mpeg25) == 0 && second.ID == in.header.ID &&
        second.mpeg25 == in.header.mpeg25 && second.layer == in.header.layer &&
        second.sampling_frequency == in.header.sampling_frequency)
        SetSyncPattern(in, b);
    SeekInputTo(in, back);
}

void SetTotal(quv3_decoder& d, int64_t total, int32_t kind) {
    d.total_samples = total > 0 ? total : 0;
    d.total_kind = total > 0 ? kind : QUV3_TOTAL_UNKNOWN;
}

}  // namespace

void DescribePositions(quv3_decoder& d, bool gapless) {
    Stream& in = d.stream;
    StreamDescription& s = d.description;
    const int64_t spf = s.samples_per_frame;
    d.encoder = ReadEncoderInfo(in);
    const EncoderInfo& e = d.encoder;
    if (e.tag) FollowAudioFrames(in);
    ResetFrameIndex(d.index, in);
    d.frame_number = 0;
    d.skip = 0;
    d.next_sample = 0;
    // Only a header where the standard puts it counts: "Xing" for variable
    // bitrate, "Info" for constant.
    s.vbr = e.vbr ? 1 : 0;
    s.bitrate = StreamBitrate(in.header, in.free_format_bytes);
    if (e.vbr && e.frames > 0 && e.bytes > 0 && s.sample_rate > 0) {
        s.bitrate = static_cast<int32_t>(
            static_cast<double>(e.bytes) * s.sample_rate * 0.008 / (static_cast<double>(e.frames) * spf) + 0.5);
    }
    // Gapless output: the tag frame is no audio, the encoder's delay and the
    // decoder's go at the start, its padding at the end. An extension whose
    // CRC does not match (some encoders compute it wrongly for single-channel
    // streams) is believed only where the stream has the frames it counts.
    const int64_t tag_frames = e.tag ? 1 : 0;
    d.trimmed = 0;
    // The counts describe the stream unless it holds more than their byte
    // count (files joined one after another, each with its own tag frame).
    // (An input read forward only is not searched for tags at its end, which
    // its length then holds: there the decode finds joined files as they come.)
    if (e.frames > 0 && e.bytes > 0 && SourceCanSeek(in.source) && in.stream_length > e.bytes + kLongestFrame)
        d.encoder.frames = -1;
    bool numbers = e.frames > 0 && e.delay >= 0 && e.padding >= 0 && e.frames * spf > e.delay + e.padding;
    if (numbers && !e.crc_ok) {
        numbers = SourceCanSeek(in.source) && in.stream_length >= 0 &&
                  static_cast<double>(e.frames) * spf < kCountedSeconds * s.sample_rate &&
                  CountFrames(in, d.index) == e.frames + tag_frames;
        if (!numbers) d.encoder.delay = d.encoder.padding = -1;
    }
    if (gapless && numbers) {
        d.trimmed = 1;
        d.trim_first = tag_frames * spf + e.delay + kDecoderDelay;
        d.trim_end = d.trim_first + e.frames * spf - e.delay - e.padding;
        d.trim_last_frame = tag_frames + e.frames - 1;
        SetTotal(d, d.trim_end - d.trim_first, QUV3_TOTAL_EXACT);
        return;
    }
    if (e.frames > 0) {
        SetTotal(d, (e.frames + tag_frames) * spf, QUV3_TOTAL_EXACT);
        return;
    }
    const double estimate = s.bitrate > 0 && in.stream_length >= 0
                                ? static_cast<double>(in.stream_length) * s.sample_rate / (s.bitrate * 125.0)
                                : 0.0;
    if (SourceCanSeek(in.source) && in.stream_length >= 0 &&
        (s.sample_rate <= 0 || estimate < kCountedSeconds * s.sample_rate)) {
        const int64_t frames = CountFrames(in, d.index);
        SetTotal(d, (frames - SilentBefore(d, frames)) * spf, QUV3_TOTAL_COUNTED);
        return;
    }
    // A reader's size is the caller's word: one beyond any real stream gives no total.
    SetTotal(d, estimate < 9.0e18 ? static_cast<int64_t>(estimate) : 0, QUV3_TOTAL_ESTIMATED);
}

int32_t DecodeOutput(quv3_decoder& d, PcmOut out, int32_t value_bytes) {
    const int64_t k = d.frame_number;
    const int64_t spf = SamplesPerFrame(d);
    const bool decodes = d.frame.status == 0;
    const int32_t decoded = DecodeInto(d, out);
    if (decodes) ++d.frame_number;
    if (d.frame.status == 0) NoteFramePosition(d.index, d.frame_number, PendingFramePosition(d.stream));
    // The samples of this frame the output holds.
    int64_t begin = 0, end = decoded;
    if (d.trimmed) {
        const int64_t first = k * spf;
        begin = d.trim_first > first ? d.trim_first - first : 0;
        end = d.trim_end - first < end ? d.trim_end - first : end;
        // The encoder's last counted frame ends the output, unless frames
        // follow it: then its counts do not describe the stream (files
        // joined one after another, read as they come, so that their size
        // could not tell), and the rest is delivered as it is. Frames after
        // the last sample and before that frame write nothing.
        if (k >= d.trim_last_frame && d.frame.status == 0) {
            d.trim_end = INT64_MAX;
            end = decoded;
        }
    }
    if (decoded > 0 && d.skip > 0) {
        if (d.skip > begin) begin = d.skip;
        d.skip = 0;
    }
    if (end < begin) end = begin;
    const int64_t kept = end - begin;
    if (out.samples != nullptr && kept > 0 && begin > 0) {
        const size_t value = static_cast<size_t>(value_bytes) * static_cast<size_t>(d.frame.channel_count);
        auto* bytes = reinterpret_cast<unsigned char*>(out.samples);
        std::memmove(bytes, bytes + static_cast<size_t>(begin) * value, static_cast<size_t>(kept) * value);
    }
    d.next_sample += kept;
    return static_cast<int32_t>(kept);
}

namespace {

// Onto frame k, which starts at `at`, through the pre-roll; the output
// continues from the frame's first sample.
void MoveToFrame(quv3_decoder& d, int64_t k, int64_t at) {
    DropInputBuffer(d.stream);
    SeekInputTo(d.stream, at);
    ReadHeaderAndCrc(d.stream);
    d.frame.status = 0;
    SettleAfterMove(d);
    d.frame_number = k;
    d.skip = 0;
    const int64_t start = OutputStart(d, k);
    d.next_sample = start > 0 ? start : 0;
    if (d.trimmed && k * SamplesPerFrame(d) >= d.trim_end) d.frame.status = -4;
}

}  // namespace

int32_t SeekToOffset(quv3_decoder& d, int64_t offset) {
    int64_t at = 0;
    const int64_t k = FirstFrameFrom(d.stream, d.index, offset, &at);
    if (k < 0) return -4;
    MoveToFrame(d, k, at);
    return d.frame.status;
}

int32_t StepBackFrame(quv3_decoder& d) {
    const int64_t k = d.frame_number > 0 ? d.frame_number - 1 : 0;
    const int64_t at = FindFrame(d.stream, d.index, k);
    if (at < 0) return -4;
    MoveToFrame(d, k, at);
    return 0;
}

int32_t SeekToSample(quv3_decoder& d, int64_t n) {
    const int64_t spf = SamplesPerFrame(d);
    if (n < 0) n = 0;
    int64_t k, offset;
    if (d.trimmed) {
        if (n >= d.trim_end - d.trim_first) return -4;
        k = (d.trim_first + n) / spf;
        offset = (d.trim_first + n) % spf;
    } else {
        // The first frames that write nothing shift the frames' numbers.
        FindFrame(d.stream, d.index, 128);
        k = 0;
        while (k < 128 && (FrameIsSilent(d.index, k) || OutputStart(d, k) + spf <= n)) ++k;
        if (k == 128) k += (n - OutputStart(d, 128)) / spf;
        offset = n - OutputStart(d, k);
    }
    const int64_t at = FindFrame(d.stream, d.index, k);
    if (at < 0) return -4;
    MoveToFrame(d, k, at);
    d.frame.status = 0;
    d.skip = offset;
    d.next_sample = n;
    return 0;
}

}  // namespace quv3
