#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"

// Walking a stream's frames by their headers alone: no audio is decoded and
// nothing is allocated. The walk takes the frames exactly as the frame loop
// does (resynchronising past damage, skipping headers without a length), so
// frame k of a walk is the frame the k-th call of a decode from the start
// decodes. It gives frame counts and the frame at a sample, for exact
// durations and seeking by sample.
namespace quv3 {

// Where frames start: frame i x 2^stride_log2 for i below entries. The stride
// doubles whenever the table is full, so it covers any stream.
inline constexpr int32_t kFrameIndexEntries = 1024;
struct FrameIndex {
    int64_t position[kFrameIndexEntries];
    int32_t entries;
    int32_t stride_log2;
    // The first frames of a stream that write nothing: a header without a
    // frame length at the start, or the reservoir rule of the first frames
    // (frames up to number 127 can fall under it), and how many frames the
    // walk has seen (-1 before the first walk).
    uint64_t silent_start[2];
    int64_t frames_seen;
    int64_t frames_total;  // -1 until a walk has reached the end
};

// An empty index for the stream just opened (its first frame at data_start).
void ResetFrameIndex(FrameIndex& index, const Stream& in);

// Records that frame k starts at position, when it falls on the stride.
void NoteFramePosition(FrameIndex& index, int64_t k, int64_t position);

// Frame k's start, walking from the nearest recorded frame; -1 when the
// stream has fewer frames. Moves the stream's position; its damage counts
// and header stay as they were.
int64_t FindFrame(Stream& in, FrameIndex& index, int64_t k);

// The number of the first frame that starts at or after position, its start
// in *at; -1 when the stream ends before.
int64_t FirstFrameFrom(Stream& in, FrameIndex& index, int64_t position, int64_t* at);

// All frames of the stream (walking to its end once). As FindFrame.
int64_t CountFrames(Stream& in, FrameIndex& index);

// Whether frame k (below 128) writes nothing in a decode from the start;
// known once a walk has passed it.
bool FrameIsSilent(const FrameIndex& index, int64_t k);

}  // namespace quv3
