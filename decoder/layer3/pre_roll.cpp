#include "decoder/layer3/frame_decoder.h"

namespace quv3 {
namespace {

// The farthest a frame's main data can begin before its own frame:
// main_data_begin is 9 bits in MPEG-1, 8 in LSF.
int32_t LongestReachBack(const FrameHeader& h) { return IsMpeg1(h) ? 511 : 255; }

// Frames decoded silently before the landing frame. The last granule before it
// leaves the overlap that frame adds and the 16 slots of synthesis history it
// reads; that granule's own output needs the overlap of the granule before.
// Two granules: one MPEG-1 frame, two LSF frames.
int32_t FramesToDecode(const FrameHeader& h) { return IsMpeg1(h) ? 1 : 2; }

// More frames than the reach back can need: an LSF frame can carry as little
// as one byte of main data.
constexpr int32_t kMostFramesBack = 300;

// The backward walk reads its headers from one buffer fill that starts this
// far before the landing frame.
constexpr int64_t kWalkWindow = 12288;

}  // namespace

// After a seek or a step back has read the landing frame's header, brings the
// decoder into the state a straight decode from the start has there, so that
// the next Quv delivers exactly that frame's samples:
// - the frames before it are found by their lengths, back to the main data that
//   the frames about to be decoded reach back to;
// - their main data goes into an emptied reservoir without decoding, then the
//   last one (MPEG-1) or two (LSF) of them are decoded into scratch, which
//   leaves the overlap and synthesis memories of a straight decode;
// - when the walk reaches the first frame, the stream is decoded from its start
//   as InitQuv leaves it, the reservoir rule of the first frames included
//   (call_count becomes the landing frame's number).
// Where no frame ends where the walk stands (a damaged header in between), the
// main data missing before it reads as zeros: frames that reach back to it may
// hold noise, as they do in a straight decode. status is not touched.
void PreRoll(const Kernels& k, Stream& in, FrameDecoder& d) {
    const Damage damage = in.damage;
    const int32_t status = d.status;
    const int64_t landing = PendingFramePosition(in);
    const int32_t reach = LongestReachBack(in.header);
    const int32_t decode = FramesToDecode(in.header);

    PrefetchInput(in, landing - kWalkWindow > in.data_start ? landing - kWalkWindow : in.data_start);
    int32_t frames = 0;  // found before the landing frame
    int32_t older_bytes = 0;  // main data of those before the ones to decode
    int64_t earliest = landing;
    bool at_start = landing == in.data_start;
    while (!at_start && frames < kMostFramesBack && (frames < decode || older_bytes < reach)) {
        FrameHeader h;
        const int64_t before = PreviousFramePosition(in, earliest, h);
        if (before < 0) break;
        earliest = before;
        at_start = before == in.data_start;
        if (++frames > decode) older_bytes += MainDataBytes(h, in.free_format_bytes);
    }

    if (at_start) {
        ClearDecoderMemories(d);
        SeekInputTo(in, in.data_start);
        ReadHeaderAndCrc(in);
        d.status = 0;
        for (int32_t i = 0; i < frames; ++i) DecodeNextFrame(k, in, d, PcmOut{});
        d.status = status;
        in.damage = damage;
        return;
    }

    d.main_data.fill = 0;
    d.main_data.bit_pos = 0;
    if (older_bytes < reach) AppendZeros(d.main_data, reach - older_bytes);
    int64_t pos = earliest;
    for (int32_t i = 0; i < frames; ++i) {
        SeekInputTo(in, pos);
        ReadHeaderAndCrc(in);
        pos += FrameLength(in.header, in.free_format_bytes);
        if (i < frames - decode) {
            SeekInputBy(in, SideInfoByteCount(in.header));
            AppendMainData(in, d.main_data, MainDataBytes(in.header, in.free_format_bytes));
        } else {
            DecodeFrame(k, in, d, PcmOut{});
        }
    }
    SeekInputTo(in, landing);
    ReadHeaderAndCrc(in);
}

}  // namespace quv3
