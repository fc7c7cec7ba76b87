#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"

// What an encoder writes about the stream into its first frame, in place of
// audio: a Xing header ("Xing" for variable bitrate, "Info" for constant) with
// the frame count, the byte count and a table of contents, and after it the
// LAME extension with the encoder's delay and padding, which make gapless
// decoding exact.
namespace quv3 {

struct EncoderInfo {
    bool tag;        // the first frame is a Xing or Info frame
    bool vbr;        // "Xing"
    int64_t frames;  // audio frames after the tag frame; -1 when not given
    int64_t bytes;   // -1 when not given
    bool has_toc;
    uint8_t toc[100];  // byte position (1/256 of the file) of each percent of the duration
    // From the LAME extension, when there is one (its encoder name in
    // printable characters): samples the encoder put before the audio, and
    // after it to fill the last frame; -1 otherwise. crc_ok tells whether the
    // CRC the extension carries matches the frame's bytes.
    int32_t delay;
    int32_t padding;
    bool crc_ok;
};

// The Xing or Info header of the frame whose bytes (frame_length of them,
// from its header on) are given: found only where the standard puts it, right
// after the side information.
EncoderInfo ParseEncoderInfo(const FrameHeader& h, const uint8_t* frame, int32_t frame_length);

// The encoder's information in the stream's first frame, read without
// moving the position (the first header has been read).
EncoderInfo ReadEncoderInfo(Stream& in);

// CRC-16 (polynomial 0x8005, reflected, initial value 0) as the LAME
// extension protects the frame's first bytes with it.
uint16_t LameTagCrc(const uint8_t* bytes, int32_t n);

}  // namespace quv3
