#pragma once

#include <array>
#include <cstdint>

#include "decoder/stream/byte_order.h"
#include "decoder/stream/byte_source.h"

// The stream: its input read through a buffer, where its frames begin, the
// frame header read last and the bytes of its side information. Opening
// (stream_open.cpp), headers (frame_header.cpp), buffered reading
// (stream_input.cpp) and sync search, seeking and stepping back (sync_search.cpp).
namespace quv3 {

// Fields of the 4-byte frame header, in bitstream order, and whether it is an
// MPEG 2.5 header.
struct FrameHeader {
    int32_t ID;  // 1 = MPEG-1, 0 = MPEG-2 low sampling frequency (and MPEG 2.5)
    int32_t layer;  // 1 = Layer III, 2 = II, 3 = I
    int32_t protection_bit;  // 0 = a CRC word follows
    int32_t bitrate_index;
    int32_t sampling_frequency;
    int32_t padding_bit;
    int32_t private_bit;
    int32_t mode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t mode_extension;
    int32_t copyright;
    int32_t original_copy;
    int32_t emphasis;
    // 1: an MPEG 2.5 header (12th sync bit 0, ID 0). Its frames are LSF frames
    // (ID 0) at 11025, 12000 or 8000 Hz; only streams opened with the mpeg25
    // rule read such headers.
    int32_t mpeg25;
};
static_assert(sizeof(FrameHeader) == 52);

// What the header's fields mean, each said once.
inline bool IsMpeg1(const FrameHeader& h) { return h.ID == 1; }
inline int32_t ChannelCount(const FrameHeader& h) { return h.mode == 3 ? 1 : 2; }
inline int32_t CrcBytes(const FrameHeader& h) { return h.protection_bit == 0 ? 2 : 0; }
inline int32_t GranuleCount(const FrameHeader& h) { return IsMpeg1(h) ? 2 : 1; }
inline int32_t SamplesPerFrame(const FrameHeader& h) { return 576 * GranuleCount(h); }
// A frame holds bitrate x this / sampling rate bytes (bitrate in kbit/s,
// without padding): 1152 samples x 1000 / 8 bits for MPEG-1, half for LSF.
inline int32_t FrameBytesPerKbit(const FrameHeader& h) { return IsMpeg1(h) ? 144000 : 72000; }

// The row of the per-rate tables (sampling rates, scale-factor bands): ID x 3 +
// sampling_frequency, 6 + sampling_frequency for MPEG 2.5. The reserved
// sampling_frequency 3 takes index 0's row; no frame of that rate decodes.
inline int32_t RateRow(const FrameHeader& h) {
    const int32_t index = h.sampling_frequency % 3;
    return h.mpeg25 ? 6 + index : (h.ID & 1) * 3 + index;
}

inline constexpr int32_t kInputBufferBytes = 16384;

// The stream's bytes from offset start: length of them held, pos the next one
// to deliver. file_pos is where the source's own position stands.
struct InputBuffer {
    std::array<uint8_t, kInputBufferBytes> bytes;
    int64_t start;
    int64_t source_pos;
    int32_t length;
    int32_t pos;
};

// Header, CRC and side-information bytes; 3 spare bytes serve the 4-byte window.
struct HeaderBitReader {
    std::array<uint8_t, 32 + 3> bytes;
    int32_t bit_pos;
};

// What opening learns for the host's description of the stream.
struct StreamDescription {
    int32_t version;  // 1 MPEG-1, 2 LSF, 3 MPEG 2.5
    int32_t channels;
    int32_t bitrate;  // kbit/s
    int32_t sample_rate;
    int32_t samples_per_frame;
    int32_t total_samples;  // capped at 2^31 - 1
    int32_t vbr;
};

// What a stream accepts when it opens. The exports' streams take neither: a
// tag before the first frame is refused, and so is MPEG 2.5.
struct OpenRules {
    bool skip_tags;  // ID3v2 at the start, APEv2 and ID3v1 at the end
    bool mpeg25;  // MPEG 2.5 frames (8, 11.025 and 12 kHz)
    // The sync search also looks into the last block of the input, shorter
    // than 2000 bytes: a damaged header there does not end the stream.
    bool search_tail;
};

// Byte ranges of the tags around the frames; bytes 0 when absent.
struct TagRanges {
    int64_t id3v2_offset, id3v2_bytes;  // every ID3v2 tag at the start, with the padding after it
    int64_t ape_offset, ape_bytes;
    int64_t id3v1_offset, id3v1_bytes;
};

// The text of the tags, each field UTF-8 and NUL-terminated, empty where no
// tag gives it. A field takes the first value found, and the tags are read
// ID3v2 (at opening), APEv2, ID3v1, so that is the order of precedence.
enum TagField : int32_t {
    kTagTitle,
    kTagArtist,
    kTagAlbum,
    kTagYear,
    kTagTrack,
    kTagGenre,
    kTagComment,
    kTagFieldCount
};
inline constexpr int32_t kTagTextBytes = 256;  // with the NUL: longer values are cut at a character boundary
struct TagText {
    std::array<std::array<char, kTagTextBytes>, kTagFieldCount> field;
};

// What the stream met that it could not decode: the bytes the sync search
// passed over, and the frames lost with them or whose header had no length.
struct Damage {
    int64_t skipped_bytes;
    int64_t lost_frames;
};

struct Stream {
    ByteSource source;
    InputBuffer input;
    // What the stream was opened with; every header read honours its mpeg25
    // rule (the exports' streams: none, MPEG 2.5 headers are not headers).
    OpenRules rules;
    int64_t data_start;  // where the first frame begins
    int64_t stream_length;  // of the frames: to the input's end (or the tags there) from data_start
    // Reads stop here when tags follow the frames; -1: at the input's end.
    int64_t stream_end;
    TagRanges tags;
    TagText text;  // of the tags found, when opened with skip_tags
    Damage damage;
    // Free-format streams: the length of their frames without padding, measured
    // between the first two headers when the stream is opened; 0 otherwise.
    int32_t free_format_bytes;
    // Masked bytes of the first header: the pattern the sync search looks for.
    std::array<uint8_t, 4> sync_pattern;
    FrameHeader header;  // read last
    HeaderBitReader header_reader;
};

// Buffered reading (stream_input.cpp). Positions are those of the input; a
// target before its start is refused (-1, position unchanged), and so is one
// before the bytes still held when the input cannot seek.
void ResetInput(Stream& in);  // after a source was attached: nothing buffered, position 0
int32_t OpenInput(Stream& in, const char* path);  // a file attached and reset: 0, or -5
void CloseInput(Stream& in);  // detaches the source
int32_t ReadInput(Stream& in, void* buffer, int32_t n);  // bytes delivered, fewer at the end
int32_t SeekInputTo(Stream& in, int64_t offset);
int32_t SeekInputBy(Stream& in, int64_t delta);
int64_t TellInput(const Stream& in);
int64_t InputLength(const Stream& in);  // -1 when unknown
// Forgets the buffered bytes: the next read sees what the file holds now.
void DropInputBuffer(Stream& in);
// Moves to offset with the bytes from there on buffered.
void PrefetchInput(Stream& in, int64_t offset);

// The next n bits (1..24) of the header and side-information bytes. Inline: the
// side information alone reads some hundred fields a frame.
inline uint32_t ReadHeaderBits(HeaderBitReader& r, int n) {
    const uint8_t* b = &r.bytes[static_cast<uint32_t>(r.bit_pos) >> 3];
    uint32_t w = LoadBigEndian32(b);
    w <<= r.bit_pos & 7;
    r.bit_pos += n;
    return w >> (32 - n);
}
// Frame header bytes (frame_header.cpp).
// The 4 header bytes into h: 0, or -1 (no sync word) or -2 (MPEG 2.5) with h
// unchanged. With mpeg25 an MPEG 2.5 header (0xFFE, then ID 0) reads as one,
// and 0xFFE with ID 1, reserved, gives -1.
int32_t ParseFrameHeader(const uint8_t* bytes, FrameHeader& h, bool mpeg25);
int32_t ReadFrameHeader(Stream& in);  // into in.header, by the stream's rules
void SkipCrc(Stream& in);  // consumed, never verified
int32_t ReadHeaderAndCrc(Stream& in);  // ReadFrameHeader, then SkipCrc when the frame carries one
void ReadSideInfoBytes(Stream& in);  // into in.header_reader, from byte 0
int32_t HeaderBitrate(const FrameHeader& h);  // kbit/s of the header's own layer row
int32_t HeaderSampleRate(const FrameHeader& h);  // Hz (RateRow), 0 for the reserved index 3
int32_t SideInfoByteCount(const FrameHeader& h);
// Frame length without padding; 0 when it cannot be formed (bitrate index 15,
// a reserved rate or layer, free format of unknown length).
int32_t FrameBytes(const FrameHeader& h, int32_t free_format_bytes = 0);
// The frame's length in the stream: FrameBytes and the padding byte.
inline int32_t FrameLength(const FrameHeader& h, int32_t free_format_bytes = 0) {
    return FrameBytes(h, free_format_bytes) + h.padding_bit;
}
// kbit/s: the header's, or for free format what the measured length stands for.
int32_t StreamBitrate(const FrameHeader& h, int32_t free_format_bytes);
// A frame this decoder can size and decode.
bool HeaderIsDecodable(const FrameHeader& h, int32_t free_format_bytes = 0);
// The frame's bytes after its header, CRC word and side information.
int32_t MainDataBytes(const FrameHeader& h, int32_t free_format_bytes = 0);

// Tags (stream_tags.cpp). From the position, every ID3v2 tag and the zero
// padding after each: the position is left on the first other byte, the
// range goes into in.tags and the text into in.text.
void SkipLeadingTags(Stream& in);
// An ID3v1 tag ending at end and an APEv2 tag before it, neither reaching
// before first, into in.tags, their text into in.text; the position does not
// change.
void FindTrailingTags(Stream& in, int64_t first, int64_t end);

// Opening (stream_open.cpp), on the source attached to in: 0 with the first
// header read and the position behind it (and its CRC word), or -1, -2, -5,
// -6 (the source closed again; on -6 version, channels and samples_per_frame
// are already described). -2 only without the mpeg25 rule. The rules stay in
// in.rules for every later header read.
int32_t OpenStream(Stream& in, const OpenRules& rules, StreamDescription& description);
// The exports' way: the file at path, no tags, no MPEG 2.5.
int32_t OpenStream(Stream& in, const char* path, StreamDescription& description);

// The pattern the sync search looks for, from a header's 4 bytes.
void SetSyncPattern(Stream& in, const uint8_t* header_bytes);

// Moving between frames (sync_search.cpp).
// Four header bytes that match the first header but for bitrate, padding and mode.
bool MatchesSyncPattern(const Stream& in, const uint8_t* header_bytes);
// The header at the position; past a damaged or undecodable one, the next one
// the sync search finds. -4 at the end of the file.
int32_t ReadNextHeader(Stream& in);
// To the header before the pending one (the first frame within 2008 bytes of
// the start). Always 0.
int32_t StepBack(Stream& in);
// To the first frame at or after trunc(stream_length x fraction): 0, or -4.
int32_t SeekFraction(Stream& in, float fraction);
// To the first frame at or after offset (clamped to the end; a negative one
// searches from the position): 0, or -4.
int32_t SeekToFrameAt(Stream& in, double offset);
// To the first frame: the header reader's 0, -1 or -2.
int32_t Rewind(Stream& in);
// Where the frame whose header was just read (with its CRC word) begins.
int64_t PendingFramePosition(const Stream& in);
// The start of the frame that ends exactly at frame_start: a decodable header of
// this stream one frame length before it, parsed into found; -1 when there is none.
int64_t PreviousFramePosition(Stream& in, int64_t frame_start, FrameHeader& found);

}  // namespace quv3
