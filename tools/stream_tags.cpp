#include "tools/stream_tags.h"

#include <cstring>

namespace quvdec {
namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// An ID3v2 tag: "ID3", version (major below 0xFF), flags, a 28-bit sync-safe
// size of what follows the 10-byte header; a footer of 10 more bytes when flag
// 0x10 is set.
int64_t Id3v2Bytes(const uint8_t* h) {
    if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
    const int64_t size = (int64_t{h[6]} << 21) | (int64_t{h[7]} << 14) | (int64_t{h[8]} << 7) | h[9];
    return 10 + size + ((h[5] & 0x10) ? 10 : 0);
}

// An APEv2 footer ("APETAGEX", version, size of items and footer, item count,
// flags): the whole tag, with its header when flag bit 31 says there is one.
int64_t ApeBytes(const uint8_t* footer) {
    if (std::memcmp(footer, "APETAGEX", 8) != 0) return 0;
    const uint32_t size = Le32(footer + 12);
    const uint32_t flags = Le32(footer + 20);
    if (size < 32) return 0;
    return int64_t{size} + ((flags & 0x80000000u) ? 32 : 0);
}

}  // namespace

StreamTags FindStreamTags(const FileView& file) {
    StreamTags t;
    t.stream_end = file.size;
    uint8_t head[10];
    if (file.size >= 10 && file.read_at(file.context, 0, head, 10) == 10) {
        const int64_t bytes = Id3v2Bytes(head);
        if (bytes > 0 && bytes <= file.size) {
            // Padding some taggers leave after the tag: zero bytes up to the first frame.
            int64_t at = bytes;
            uint8_t buf[4096];
            for (;;) {
                const int64_t got = file.read_at(file.context, at, buf, sizeof buf);
                int64_t k = 0;
                while (k < got && buf[k] == 0) ++k;
                at += k;
                if (k < got || got <= 0) break;
            }
            t.id3v2_bytes = at;
        }
    }
    uint8_t tail[3];
    if (file.size - t.id3v2_bytes >= 128 && file.read_at(file.context, file.size - 128, tail, 3) == 3 &&
        std::memcmp(tail, "TAG", 3) == 0) {
        t.id3v1_bytes = 128;
    }
    const int64_t ape_end = file.size - t.id3v1_bytes;
    uint8_t footer[32];
    if (ape_end - t.id3v2_bytes >= 32 && file.read_at(file.context, ape_end - 32, footer, 32) == 32) {
        const int64_t bytes = ApeBytes(footer);
        if (bytes > 0 && bytes <= ape_end - t.id3v2_bytes) t.ape_bytes = bytes;
    }
    t.stream_start = t.id3v2_bytes;
    t.stream_end = file.size - t.id3v1_bytes - t.ape_bytes;
    return t;
}

}  // namespace quvdec
