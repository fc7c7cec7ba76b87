#pragma once

#include <cstdint>

#include "decoder/api/decoder_state.h"

// Stream handling: opening, frame headers, side-information bytes, sync search.
namespace quv3 {

// Buffered reading of the open stream (stream_input.cpp). Positions are those
// of the file; SeekInputTo and SeekInputBy refuse a target before its start
// (-1, position unchanged).
int32_t OpenInput(DecoderState& s, const char* path);  // 0, or -5 when it cannot be opened
void CloseInput(DecoderState& s);
int32_t ReadInput(DecoderState& s, void* buffer, int32_t n);  // bytes delivered, fewer at the end
int32_t SeekInputTo(DecoderState& s, int64_t offset);
int32_t SeekInputBy(DecoderState& s, int64_t delta);
void DropInputBuffer(DecoderState& s);
void PrefetchInput(DecoderState& s, int64_t offset);
int64_t TellInput(const DecoderState& s);
int64_t InputLength(DecoderState& s);

// Frame header and side-information bytes (frame_header.cpp).
uint32_t ReadHeaderBits(HeaderBitReader& r, int n);
// The 4 header bytes into h: 0, or -1 (no sync word) or -2 (MPEG 2.5) with h unchanged.
int32_t ParseFrameHeader(const uint8_t* bytes, FrameHeader& h);
int32_t ReadFrameHeader(DecoderState& s);
void SkipCrc(DecoderState& s);
void ReadSideInfoBytes(DecoderState& s);
// ReadFrameHeader, then SkipCrc when the frame carries a CRC word.
int32_t ReadHeaderAndCrc(DecoderState& s);
int32_t HeaderBitrate(const FrameHeader& h);  // kbit/s of the header's own layer row
int32_t HeaderSampleRate(const FrameHeader& h);  // Hz, 0 for the reserved index 3
int32_t SideInfoByteCount(const FrameHeader& h);
// A frame this decoder can size and decode: Layer III with a rate and a table
// bitrate, or free format when the stream's free-format frame length is known.
bool HeaderIsDecodable(const FrameHeader& h, int32_t free_format_bytes = 0);
// Frame length without padding; 0 when it cannot be formed.
int32_t FrameBytes(const FrameHeader& h, int32_t free_format_bytes = 0);
// Header, CRC word and side information; and the main data, the rest of the frame.
int32_t NonMainDataBytes(const FrameHeader& h);
int32_t MainDataBytes(const FrameHeader& h, int32_t free_format_bytes = 0);
// The free-format frame length of a stream whose first header is at data_start, or 0.
int32_t MeasureFreeFormat(DecoderState& s);

// Stream opening (stream_open.cpp).
int32_t FindXingHeader(const uint8_t* probe, int32_t probe_len, int32_t& frames, int32_t& bytes);
void SetSyncPattern(DecoderState& s, const uint8_t header_bytes[4]);
int32_t OpenStream(DecoderState& s, const char* path);

// Sync search, step back, seek and rewind (sync_search.cpp).
bool MatchesSyncPattern(const DecoderState& s, const uint8_t* b);
int32_t SyncForward(DecoderState& s);
int32_t SyncBackward(DecoderState& s);
int32_t StepBack(DecoderState& s);
int32_t SeekFraction(DecoderState& s, float fraction);
int32_t Rewind(DecoderState& s);
int32_t ReadNextHeader(DecoderState& s);
// Where the frame whose header was just read (with its CRC word) begins.
int64_t PendingFramePosition(const DecoderState& s);
// The start of the frame that ends exactly at frame_start: a decodable header of
// this stream one frame length before it; -1 when there is none.
int64_t PreviousFramePosition(DecoderState& s, int64_t frame_start);

}  // namespace quv3
