#include <cstring>

#include "decoder/stream/stream.h"
#include "decoder/stream/tag_text.h"

// The tags music files carry around their frames: ID3v2 at the start (with
// its footer and the zero padding some taggers leave after it; a second tag
// may follow the first), an APEv2 tag and an ID3v1 tag at the end.
namespace quv3 {
namespace {

// The whole tag an ID3v2 header announces: the 10-byte header, the 28-bit
// sync-safe size of what follows it and a 10-byte footer when flag 0x10 says
// there is one; 0 when h is no ID3v2 header.
int64_t Id3v2TagBytes(const uint8_t* h) {
    if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
    const int64_t size = (int64_t{h[6]} << 21) | (int64_t{h[7]} << 14) | (int64_t{h[8]} << 7) | h[9];
    return 10 + size + ((h[5] & 0x10) ? 10 : 0);
}

// From the position: zero bytes up to the first other one, which the position
// is left on. A read of at most 4096 bytes at a time stays within what an
// input that cannot seek keeps.
void SkipZeros(Stream& in) {
    uint8_t chunk[4096];
    for (;;) {
        const int32_t got = ReadInput(in, chunk, sizeof chunk);
        int32_t k = 0;
        while (k < got && chunk[k] == 0) ++k;
        if (k < got) {
            SeekInputBy(in, k - got);
            return;
        }
        if (got < static_cast<int32_t>(sizeof chunk)) return;
    }
}

}  // namespace

void SkipLeadingTags(Stream& in) {
    const int64_t start = TellInput(in);
    for (;;) {
        const int64_t at = TellInput(in);
        uint8_t h[10];
        const int64_t bytes = ReadInput(in, h, 10) == 10 ? Id3v2TagBytes(h) : 0;
        if (bytes == 0) {
            SeekInputTo(in, at);
            break;
        }
        // The text is read on the way over the tag: from an input that
        // cannot seek, these bytes come once.
        ReadId3v2Text(in, h, at + bytes - ((h[5] & 0x10) ? 10 : 0), in.text);
        SeekInputTo(in, at + bytes);
        SkipZeros(in);
    }
    in.tags.id3v2_offset = start;
    in.tags.id3v2_bytes = TellInput(in) - start;
}

void FindTrailingTags(Stream& in, int64_t first, int64_t end) {
    TagRanges& t = in.tags;
    const int64_t back = TellInput(in);
    uint8_t v1[128];
    if (end - first >= 128 && SeekInputTo(in, end - 128) == 0 && ReadInput(in, v1, 128) == 128 &&
        std::memcmp(v1, "TAG", 3) == 0) {
        t.id3v1_offset = end - 128;
        t.id3v1_bytes = 128;
        end -= 128;
    }
    uint8_t b[32];
    // An APEv2 footer: "APETAGEX", version, the size of the items and the
    // footer, the item count and the flags; bit 31 says a 32-byte header
    // stands before the items.
    if (end - first >= 32 && SeekInputTo(in, end - 32) == 0 && ReadInput(in, b, 32) == 32 &&
        std::memcmp(b, "APETAGEX", 8) == 0) {
        const int64_t size = LoadLittleEndian32(b + 12);
        const int64_t bytes = size + ((LoadLittleEndian32(b + 20) & 0x80000000u) ? 32 : 0);
        if (size >= 32 && bytes <= end - first) {
            t.ape_offset = end - bytes;
            t.ape_bytes = bytes;
            // APEv2 gives a field before ID3v1 does: its text is read first.
            ReadApeText(in, end - size, end - 32, LoadLittleEndian32(b + 16), LoadLittleEndian32(b + 8), in.text);
        }
    }
    if (t.id3v1_bytes != 0) ReadId3v1Text(v1, in.text);
    SeekInputTo(in, back);
}

}  // namespace quv3
