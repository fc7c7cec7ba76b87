#include "decoder/stream/encoder_info.h"

#include <cstring>

namespace quv3 {
namespace {

// The Xing header's flags: which of its fields follow.
constexpr uint32_t kHasFrames = 1, kHasBytes = 2, kHasToc = 4, kHasQuality = 8;

// The LAME extension: 36 bytes behind the Xing fields. Its delay and padding
// are 12 bits each at bytes 21..23; its last two bytes are the CRC of every
// byte of the frame before them.
constexpr int32_t kLameBytes = 36;
constexpr int32_t kLameDelayAt = 21;
constexpr int32_t kLameCrcAt = 34;

}  // namespace

uint16_t LameTagCrc(const uint8_t* bytes, int32_t n) {
    uint32_t crc = 0;
    for (int32_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

EncoderInfo ParseEncoderInfo(const FrameHeader& h, const uint8_t* frame, int32_t frame_length) {
    EncoderInfo e{};
    e.frames = e.bytes = -1;
    e.delay = e.padding = -1;
    int32_t at = 4 + CrcBytes(h) + SideInfoByteCount(h);
    if (at + 8 > frame_length) return e;
    const bool xing = std::memcmp(frame + at, "Xing", 4) == 0;
    if (!xing && std::memcmp(frame + at, "Info", 4) != 0) return e;
    e.tag = true;
    e.vbr = xing;
    const uint32_t flags = LoadBigEndian32(frame + at + 4);
    at += 8;
    auto take = [&](uint32_t flag, int32_t n) {
        const bool there = (flags & flag) != 0 && at + n <= frame_length;
        const int32_t from = at;
        if (flags & flag) at += n;
        return there ? from : -1;
    };
    if (const int32_t p = take(kHasFrames, 4); p >= 0) e.frames = LoadBigEndian32(frame + p);
    if (const int32_t p = take(kHasBytes, 4); p >= 0) e.bytes = LoadBigEndian32(frame + p);
    if (const int32_t p = take(kHasToc, 100); p >= 0) {
        e.has_toc = true;
        std::memcpy(e.toc, frame + p, 100);
    }
    take(kHasQuality, 4);
    if (at + kLameBytes > frame_length) return e;
    const uint8_t* lame = frame + at;
    // An extension begins with its encoder's name and version ("LAME3.100",
    // "Lavc59.37"); zeros or other bytes there mean there is none.
    for (int i = 0; i < 4; ++i)
        if (lame[i] < 0x21 || lame[i] > 0x7E) return e;
    const uint16_t stored = static_cast<uint16_t>((lame[kLameCrcAt] << 8) | lame[kLameCrcAt + 1]);
    e.crc_ok = LameTagCrc(frame, at + kLameCrcAt) == stored;
    const uint8_t* d = lame + kLameDelayAt;
    e.delay = (d[0] << 4) | (d[1] >> 4);
    e.padding = ((d[1] & 0x0F) << 8) | d[2];
    return e;
}

EncoderInfo ReadEncoderInfo(Stream& in) {
    uint8_t frame[2 * 1441 + 2];  // the longest frame: free format may double the usual 1441 bytes
    const int64_t back = TellInput(in);
    int32_t length = FrameLength(in.header, in.free_format_bytes);
    if (length <= 0) length = 0;
    if (length > static_cast<int32_t>(sizeof frame)) length = static_cast<int32_t>(sizeof frame);
    int32_t got = 0;
    if (SeekInputTo(in, in.data_start) == 0) got = ReadInput(in, frame, length);
    SeekInputTo(in, back);
    return ParseEncoderInfo(in.header, frame, got);
}

}  // namespace quv3
