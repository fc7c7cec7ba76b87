// The re-entrant API: every call works on the caller's decoder alone.
#include "decoder/api/quv3_decoder.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "decoder/api/decoder.h"

namespace quv3 {
namespace {

bool Ready(const quv3_decoder* d) { return d != nullptr && d->ready == kDecoderReady; }
bool Open(const quv3_decoder* d) { return Ready(d) && d->open != 0; }

int32_t Finish(quv3_decoder* d, int32_t r) {
    if (r != 0) {
        d->open = 0;
        return r;
    }
    d->open = 1;
    return 0;
}

int32_t OpenOn(quv3_decoder* d, uint32_t flags) {
    d->format = (flags & QUV3_OPEN_F32) ? QUV3_F32 : QUV3_S16;
    const int32_t r = Finish(d, OpenDecoder(*d, OpenRules{true, true, true}));
    if (r == 0) DescribePositions(*d, (flags & QUV3_OPEN_GAPLESS) != 0);
    return r;
}

// The mean of a left and a right sample: for 16-bit samples rounded toward
// zero; for floats the exact mean (formed in double) rounded to float.
int16_t Mean(int16_t a, int16_t b) { return static_cast<int16_t>((a + b) / 2); }
float Mean(float a, float b) { return static_cast<float>((static_cast<double>(a) + b) * 0.5); }

// A frame in another channel count than the stream's first is delivered in
// the first one's: one channel twice, or the mean of two.
template <class T>
void MatchChannels(T* pcm, int32_t samples, int32_t from, int32_t to) {
    if (from == to) return;
    if (to == 2) {
        for (int32_t k = samples; k-- > 0;) pcm[2 * k] = pcm[2 * k + 1] = pcm[k];
    } else {
        for (int32_t k = 0; k < samples; ++k) pcm[k] = Mean(pcm[2 * k], pcm[2 * k + 1]);
    }
}

template <class T>
int32_t DecodeFrameAs(quv3_decoder& d, T* pcm, PcmFormat format) {
    const int32_t n = DecodeOutput(d, PcmOut{pcm, format}, sizeof(T));
    if (pcm != nullptr && n > 0) MatchChannels(pcm, n, d.frame.channel_count, d.description.channels);
    return n;
}

static_assert(QUV3_TAG_TEXT_BYTES == kTagTextBytes && sizeof(quv3_tags) == kTagFieldCount * kTagTextBytes);

quv3_range Range(int64_t offset, int64_t bytes) { return quv3_range{bytes != 0 ? offset : 0, bytes}; }

}  // namespace
}  // namespace quv3

using namespace quv3;

extern "C" {

size_t quv3_decoder_size(void) { return sizeof(quv3_decoder); }

size_t quv3_decoder_alignment(void) { return alignof(quv3_decoder); }

quv3_decoder* quv3_decoder_init(void* memory, size_t bytes) {
    if (memory == nullptr || bytes < sizeof(quv3_decoder) ||
        reinterpret_cast<uintptr_t>(memory) % alignof(quv3_decoder) != 0)
        return nullptr;
    auto* d = static_cast<quv3_decoder*>(memory);
    InitDecoder(*d);
    return d;
}

int32_t quv3_open_file(quv3_decoder* d, const char* path, uint32_t flags) {
    if (!Ready(d)) return QUV3_BAD_CALL;
    if (d->open) quv3_close(d);
    if (AttachFile(d->stream.source, path, true) != 0) return QUV3_CANNOT_OPEN;
    return OpenOn(d, flags);
}

int32_t quv3_open_memory(quv3_decoder* d, const void* data, size_t bytes, uint32_t flags) {
    if (!Ready(d)) return QUV3_BAD_CALL;
    if (d->open) quv3_close(d);
    // A size beyond a 64-bit position (only possible for a 64-bit size_t) is
    // refused: it turns negative, and AttachMemory refuses a negative size.
    const auto size = static_cast<int64_t>(static_cast<uint64_t>(bytes));
    if (AttachMemory(d->stream.source, data, size) != 0) return QUV3_CANNOT_OPEN;
    return OpenOn(d, flags);
}

int32_t quv3_open_reader(quv3_decoder* d, const quv3_reader* reader, uint32_t flags) {
    if (!Ready(d)) return QUV3_BAD_CALL;
    if (d->open) quv3_close(d);
    if (reader == nullptr) return QUV3_CANNOT_OPEN;
    const ReaderCallbacks callbacks{reader->read, reader->seek, reader->size, reader->user};
    if (AttachReader(d->stream.source, callbacks) != 0) return QUV3_CANNOT_OPEN;
    return OpenOn(d, flags);
}

int32_t quv3_decode_frame(quv3_decoder* d, void* pcm, int32_t format, int32_t* samples) {
    if (samples != nullptr) *samples = 0;
    if (!Open(d)) return QUV3_BAD_CALL;
    if (format == QUV3_FORMAT_AS_OPENED) format = d->format;
    int32_t n;
    if (format == QUV3_S16) {
        n = DecodeFrameAs(*d, static_cast<int16_t*>(pcm), PcmFormat::kS16);
    } else if (format == QUV3_F32) {
        n = DecodeFrameAs(*d, static_cast<float*>(pcm), PcmFormat::kF32);
    } else {
        return QUV3_BAD_CALL;
    }
    if (samples != nullptr) *samples = n;
    return d->frame.status;
}

int32_t quv3_seek_fraction(quv3_decoder* d, double fraction) {
    if (!Open(d)) return QUV3_BAD_CALL;
    Stream& s = d->stream;
    if (!SourceCanSeek(s.source) || s.stream_length < 0) return QUV3_CANNOT_SEEK;
    // A NaN or negative fraction means the first frame.
    const double f = fraction > 0.0 ? (fraction < 1.0 ? fraction : 1.0) : 0.0;
    const double offset = static_cast<double>(s.data_start) + std::trunc(static_cast<double>(s.stream_length) * f);
    if (SeekToOffset(*d, static_cast<int64_t>(offset)) != 0) {
        d->frame.status = QUV3_END;
        return QUV3_END;
    }
    return 0;
}

int32_t quv3_seek_sample(quv3_decoder* d, int64_t n) {
    if (!Open(d)) return QUV3_BAD_CALL;
    if (!SourceCanSeek(d->stream.source)) return QUV3_CANNOT_SEEK;
    if (SeekToSample(*d, n) == 0) return 0;
    d->frame.status = QUV3_END;
    return QUV3_END;
}

int64_t quv3_tell(const quv3_decoder* d) { return Open(d) ? d->next_sample : QUV3_BAD_CALL; }

int32_t quv3_step_back(quv3_decoder* d) {
    if (!Open(d)) return QUV3_BAD_CALL;
    if (!SourceCanSeek(d->stream.source)) return QUV3_CANNOT_SEEK;
    if (StepBackFrame(*d) != 0) d->frame.status = QUV3_END;
    return 0;
}

int32_t quv3_rewind(quv3_decoder* d) {
    if (!Open(d)) return QUV3_BAD_CALL;
    if (!SourceCanSeek(d->stream.source)) return QUV3_CANNOT_SEEK;
    if (RewindDecoder(*d) == 0) return 0;
    // No header where the first one was: nothing to decode until a move finds one.
    d->frame.status = QUV3_END;
    return QUV3_NO_SYNC;
}

int32_t quv3_close(quv3_decoder* d) {
    if (!Open(d)) return QUV3_BAD_CALL;
    CloseInput(d->stream);
    d->open = 0;
    return 0;
}

int32_t quv3_get_info(const quv3_decoder* d, quv3_info* info) {
    if (!Open(d) || info == nullptr) return QUV3_BAD_CALL;
    const StreamDescription& s = d->description;
    const Stream& in = d->stream;
    quv3_info i{};
    i.version = s.version;
    i.layer = 3;
    i.channels = s.channels;
    i.sample_rate = s.sample_rate;
    i.bitrate = s.bitrate;
    i.samples_per_frame = s.samples_per_frame;
    i.vbr = s.vbr;
    i.seekable = SourceCanSeek(in.source) ? 1 : 0;
    i.total_samples = d->total_samples;
    i.total_kind = d->total_kind;
    i.gapless = d->trimmed;
    i.encoder_delay = d->encoder.delay;
    i.encoder_padding = d->encoder.padding;
    i.encoder_frames = d->encoder.frames;
    i.frames = quv3_range{in.data_start, in.stream_length};
    i.id3v2 = Range(in.tags.id3v2_offset, in.tags.id3v2_bytes);
    i.ape = Range(in.tags.ape_offset, in.tags.ape_bytes);
    i.id3v1 = Range(in.tags.id3v1_offset, in.tags.id3v1_bytes);
    *info = i;
    return 0;
}

int32_t quv3_get_tags(const quv3_decoder* d, quv3_tags* tags) {
    if (!Open(d) || tags == nullptr) return QUV3_BAD_CALL;
    const TagText& t = d->stream.text;
    std::memcpy(tags->title, t.field[kTagTitle].data(), sizeof tags->title);
    std::memcpy(tags->artist, t.field[kTagArtist].data(), sizeof tags->artist);
    std::memcpy(tags->album, t.field[kTagAlbum].data(), sizeof tags->album);
    std::memcpy(tags->year, t.field[kTagYear].data(), sizeof tags->year);
    std::memcpy(tags->track, t.field[kTagTrack].data(), sizeof tags->track);
    std::memcpy(tags->genre, t.field[kTagGenre].data(), sizeof tags->genre);
    std::memcpy(tags->comment, t.field[kTagComment].data(), sizeof tags->comment);
    return 0;
}

int32_t quv3_get_damage(const quv3_decoder* d, quv3_damage* damage) {
    if (!Open(d) || damage == nullptr) return QUV3_BAD_CALL;
    damage->skipped_bytes = d->stream.damage.skipped_bytes;
    damage->lost_frames = d->stream.damage.lost_frames;
    return 0;
}

int16_t quv3_f32_to_s16(float value) {
    double x = static_cast<double>(value) * 32767.0;
    x = x > -32767.0 ? x : -32767.0;  // a NaN gives -32767, as in the synthesis
    x = x < 32767.0 ? x : 32767.0;
    return static_cast<int16_t>(std::lrint(x));
}

}  // extern "C"
