#include "decoder/stream/tag_text.h"

#include <cstring>

#include "decoder/tables/genre_table.h"

namespace quv3 {
namespace {

// The most of a frame's or item's body that is read. A field holds 255 bytes
// of UTF-8, at most 255 characters: 2 KiB carries them in any encoding, with
// a comment's language and a description of some length before them.
constexpr int32_t kBodyBytes = 2048;

using Field = std::array<char, kTagTextBytes>;

// A value being written as UTF-8 into a field-sized buffer, NUL-terminated
// throughout. The first character that does not fit ends it: a cut never
// splits a character, nor lets a shorter one after it in.
struct TextOut {
    char* bytes;
    int32_t length;
    int32_t characters;
    bool full;
};

TextOut Begin(Field& f) {
    f[0] = 0;
    return TextOut{f.data(), 0, 0, false};
}

void Put(TextOut& out, uint32_t c) {
    if (out.full) return;
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    uint8_t u[4];
    int32_t n = 1;
    if (c < 0x80) {
        u[0] = static_cast<uint8_t>(c);
    } else if (c < 0x800) {
        u[0] = static_cast<uint8_t>(0xC0 | (c >> 6));
        n = 2;
    } else if (c < 0x10000) {
        u[0] = static_cast<uint8_t>(0xE0 | (c >> 12));
        n = 3;
    } else {
        u[0] = static_cast<uint8_t>(0xF0 | (c >> 18));
        n = 4;
    }
    for (int32_t k = 1; k < n; ++k) u[k] = static_cast<uint8_t>(0x80 | ((c >> (6 * (n - 1 - k))) & 0x3F));
    if (out.length + n > kTagTextBytes - 1) {
        out.full = true;
        return;
    }
    std::memcpy(out.bytes + out.length, u, static_cast<size_t>(n));
    out.length += n;
    out.bytes[out.length] = 0;
    ++out.characters;
}

// The text encodings of ID3v2 (the byte before a frame's strings).
enum Encoding : int32_t { kLatin1 = 0, kUtf16 = 1, kUtf16BigEndian = 2, kUtf8 = 3 };

// A UTF-8 character at p (n bytes left): its code point and length, or
// U+FFFD for one byte where the bytes are no character (a stray continuation
// byte, a truncated, overlong or surrogate form): the field stays UTF-8.
uint32_t NextUtf8(const uint8_t* p, int32_t n, int32_t& length) {
    length = 1;
    const uint8_t b = p[0];
    if (b < 0x80) return b;
    const int32_t need = b >= 0xF0 ? 4 : (b >= 0xE0 ? 3 : (b >= 0xC0 ? 2 : 0));
    if (need == 0 || b > 0xF4 || need > n) return 0xFFFD;
    uint32_t c = b & (0x7F >> need);
    for (int32_t k = 1; k < need; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (p[k] & 0x3Fu);
    }
    constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[need] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0xFFFD;
    length = need;
    return c;
}

// One string of a tag in its encoding, from p up to its terminator (a zero
// byte; in UTF-16 a zero code unit) or the end of the n bytes, into out.
// Returns the bytes it spans with the terminator. Each UTF-16 string may
// begin with its own byte-order mark; one without is read little-endian.
int32_t DecodeString(const uint8_t* p, int32_t n, int32_t encoding, TextOut& out) {
    if (encoding == kUtf16 || encoding == kUtf16BigEndian) {
        bool big = encoding == kUtf16BigEndian;
        int32_t i = 0;
        if (encoding == kUtf16 && n >= 2 && ((p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE))) {
            big = p[0] == 0xFE;
            i = 2;
        }
        auto unit = [&](int32_t at) { return big ? (p[at] << 8) | p[at + 1] : p[at] | (p[at + 1] << 8); };
        while (i + 2 <= n) {
            const uint32_t u = static_cast<uint32_t>(unit(i));
            i += 2;
            if (u == 0) return i;
            if (u >= 0xD800 && u < 0xDC00 && i + 2 <= n) {
                const uint32_t low = static_cast<uint32_t>(unit(i));
                if (low >= 0xDC00 && low < 0xE000) {
                    Put(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                    i += 2;
                    continue;
                }
            }
            Put(out, u);  // a lone surrogate becomes U+FFFD
        }
        return n;
    }
    for (int32_t i = 0; i < n;) {
        if (p[i] == 0) return i + 1;
        if (encoding == kUtf8) {
            int32_t length = 1;
            Put(out, NextUtf8(p + i, n - i, length));
            i += length;
        } else {
            Put(out, p[i++]);
        }
    }
    return n;
}

// A NUL-terminated UTF-8 string (a genre name, or a value already decoded).
void PutText(TextOut& out, const char* s) {
    DecodeString(reinterpret_cast<const uint8_t*>(s), static_cast<int32_t>(std::strlen(s)), kUtf8, out);
}

// Where a field's value stands in the fields kept: written only where the
// field is still empty, and only when not empty itself.
void Keep(TagText& text, int32_t field, const Field& value) {
    if (value[0] != 0 && text.field[field][0] == 0) text.field[field] = value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An ID3v1 genre number (up to three digits) at s, ending at end: the index
// into kGenreNames, or -1.
int32_t GenreNumber(const char* s, const char* end) {
    if (end <= s || end - s > 3) return -1;
    int32_t n = 0;
    for (const char* c = s; c < end; ++c) {
        if (!IsDigit(*c)) return -1;
        n = n * 10 + (*c - '0');
    }
    return n < static_cast<int32_t>(kGenreNames.size()) ? n : -1;
}

// An ID3v2 genre as a name: "13" and "(13)" stand for ID3v1 genre 13, "(RX)"
// and "(CR)" for remix and cover; text after a reference refines it and is
// the genre ("(4)Eurodisco"), "((" opens text that starts with "(". Anything
// else is the name itself.
void ResolveGenre(const char* s, TextOut& out) {
    const char* end = s + std::strlen(s);
    if (const int32_t n = GenreNumber(s, end); n >= 0) return PutText(out, kGenreNames[n]);
    if (s[0] == '(' && s[1] == '(') return PutText(out, s + 1);
    const char* close = s[0] == '(' ? std::strchr(s, ')') : nullptr;
    if (close == nullptr) return PutText(out, s);
    const char* rest = close + 1;
    if (*rest != 0 && !(rest[0] == '(' && rest[1] != '(')) return PutText(out, rest[0] == '(' ? rest + 1 : rest);
    const int32_t n = GenreNumber(s + 1, close);
    if (n >= 0) return PutText(out, kGenreNames[n]);
    if (close - s == 3 && std::strncmp(s, "(RX", 3) == 0) return PutText(out, "Remix");
    if (close - s == 3 && std::strncmp(s, "(CR", 3) == 0) return PutText(out, "Cover");
    PutText(out, s);
}

// --- ID3v2

uint32_t BigEndian(const uint8_t* p, int32_t bytes) {
    uint32_t v = 0;
    for (int32_t k = 0; k < bytes; ++k) v = (v << 8) | p[k];
    return v;
}

// A 28-bit sync-safe number (7 bits a byte), or -1 where a byte has its top
// bit set: no sync-safe number, so nothing after it can be trusted.
int64_t SyncSafe(const uint8_t* p) {
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return -1;
    return (int64_t{p[0]} << 21) | (int64_t{p[1]} << 14) | (int64_t{p[2]} << 7) | p[3];
}

struct FrameKind {
    char id[5];
    TagField field;
};

// Frames whose text is taken; the date frame of v2.4 (TDRC) gives the year as
// the tag writes it ("2004" or a longer timestamp). Some taggers write either
// year frame in either version.
constexpr FrameKind kFrames[] = {
    {"TIT2", kTagTitle}, {"TPE1", kTagArtist}, {"TALB", kTagAlbum}, {"TYER", kTagYear},
    {"TDRC", kTagYear},  {"TRCK", kTagTrack},  {"TCON", kTagGenre}, {"COMM", kTagComment},
};
constexpr FrameKind kFrames22[] = {
    {"TT2", kTagTitle}, {"TP1", kTagArtist}, {"TAL", kTagAlbum},   {"TYE", kTagYear},
    {"TRK", kTagTrack}, {"TCO", kTagGenre},  {"COM", kTagComment},
};

int32_t FieldOf(const uint8_t* id, int32_t id_bytes) {
    const auto find = [&](const auto& kinds) {
        for (const FrameKind& k : kinds)
            if (std::memcmp(k.id, id, static_cast<size_t>(id_bytes)) == 0) return static_cast<int32_t>(k.field);
        return -1;
    };
    return id_bytes == 3 ? find(kFrames22) : find(kFrames);
}

// The bytes of an ID3v2 tag after its header, read through the stream up to
// end. With the tag's unsynchronisation (v2.2, v2.3) undone: the 0x00 a
// writer put after each 0xFF is dropped, so sizes count the bytes delivered.
struct TagBytes {
    Stream* in;
    int64_t end;
    bool unsync;
    bool after_ff;  // the last byte read was 0xFF
};

int32_t TagRead(TagBytes& t, uint8_t* to, int32_t n) {
    int32_t got = 0;
    while (got < n) {
        const int64_t left = t.end - TellInput(*t.in);
        const int32_t want = left < n - got ? static_cast<int32_t>(left) : n - got;
        if (want <= 0) break;
        const int32_t r = ReadInput(*t.in, to + got, want);
        if (r <= 0) break;
        if (!t.unsync) {
            got += r;
            continue;
        }
        int32_t kept = got;
        for (int32_t i = got; i < got + r; ++i) {
            const uint8_t b = to[i];
            if (!(t.after_ff && b == 0)) to[kept++] = b;
            t.after_ff = b == 0xFF;
        }
        got = kept;
    }
    return got;
}

// Passes over n bytes as TagRead delivers them: a move forward (an input that
// cannot seek reads on), or with unsynchronisation a read through them, as
// their count in the input is not known beforehand.
void TagSkip(TagBytes& t, int64_t n) {
    if (!t.unsync) {
        const int64_t to = TellInput(*t.in) + n;
        SeekInputTo(*t.in, to < t.end ? to : t.end);
        return;
    }
    uint8_t chunk[512];
    while (n > 0) {
        const int32_t r = TagRead(t, chunk, n < 512 ? static_cast<int32_t>(n) : 512);
        if (r == 0) return;
        n -= r;
    }
}

// v2.4 unsynchronisation of one frame, undone in place: the new length.
int32_t Resynchronise(uint8_t* p, int32_t n) {
    int32_t kept = 0;
    bool after_ff = false;
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        if (!(after_ff && b == 0)) p[kept++] = b;
        after_ff = b == 0xFF;
    }
    return kept;
}

// Within one tag the first frame of a kind gives its field, but a comment
// without description replaces one with a description (those are mostly a
// program's notes); fields an earlier tag gave keep its value.
struct TagState {
    bool earlier[kTagFieldCount];
    int32_t comment_rank;  // 0 none yet, 1 one with a description, 2 one without
};

bool Wanted(const TagText& text, const TagState& s, int32_t field) {
    if (field < 0 || s.earlier[field]) return false;
    return field == kTagComment ? s.comment_rank < 2 : text.field[field][0] == 0;
}

// A text frame: the encoding, then the text; of several values (v2.4
// separates them by terminators) the first.
void TakeTextFrame(const uint8_t* p, int32_t n, int32_t field, TagText& text) {
    if (n < 1 || p[0] > kUtf8) return;
    Field value;
    TextOut out = Begin(value);
    DecodeString(p + 1, n - 1, p[0], out);
    if (field == kTagGenre) {
        Field name;
        TextOut resolved = Begin(name);
        ResolveGenre(value.data(), resolved);
        value = name;
    }
    Keep(text, field, value);
}

// A comment: the encoding, a 3-byte language, a description, the text.
void TakeComment(const uint8_t* p, int32_t n, TagText& text, TagState& s) {
    if (n < 4 || p[0] > kUtf8) return;
    Field description, value;
    TextOut d = Begin(description), out = Begin(value);
    const int32_t skip = 4 + DecodeString(p + 4, n - 4, p[0], d);
    DecodeString(p + skip, n - skip, p[0], out);
    const int32_t rank = d.characters == 0 ? 2 : 1;
    if (value[0] == 0 || rank <= s.comment_rank) return;
    text.field[kTagComment] = value;
    s.comment_rank = rank;
}

// --- APEv2

struct ApeKey {
    const char* key;
    TagField field;
};

constexpr ApeKey kApeKeys[] = {
    {"title", kTagTitle}, {"artist", kTagArtist}, {"album", kTagAlbum},     {"year", kTagYear},
    {"track", kTagTrack}, {"genre", kTagGenre},   {"comment", kTagComment},
};

// The field an item key names, compared without regard to ASCII case; -1.
int32_t ApeFieldOf(const char* key) {
    for (const ApeKey& k : kApeKeys) {
        size_t i = 0;
        while (k.key[i] != 0 && (key[i] | 0x20) == k.key[i]) ++i;
        if (k.key[i] == 0 && key[i] == 0) return k.field;
    }
    return -1;
}

}  // namespace

void ReadId3v2Text(Stream& in, const uint8_t* h, int64_t frames_end, TagText& text) {
    const int32_t version = h[3];
    const uint8_t flags = h[5];
    // v2.2's flag 0x40 marks a compressed tag, for which no scheme was ever
    // defined: nothing in it can be read.
    if (version < 2 || version > 4 || (version == 2 && (flags & 0x40))) return;
    // v2.4 marks unsynchronisation per frame; its tag flag says every frame has it.
    TagBytes t{&in, frames_end, version < 4 && (flags & 0x80) != 0, false};
    if (flags & 0x40) {
        // The extended header: v2.3 counts its bytes after the size field,
        // v2.4 (sync-safe) with it.
        uint8_t b[4];
        if (TagRead(t, b, 4) != 4) return;
        const int64_t size = version == 3 ? int64_t{BigEndian(b, 4)} : SyncSafe(b) - 4;
        if (size < 0 || size > frames_end - TellInput(in)) return;
        TagSkip(t, size);
    }
    TagState s{};
    for (int32_t f = 0; f < kTagFieldCount; ++f) s.earlier[f] = text.field[f][0] != 0;
    const int32_t id_bytes = version == 2 ? 3 : 4;
    const int32_t header_bytes = version == 2 ? 6 : 10;
    uint8_t body[kBodyBytes];
    for (;;) {
        uint8_t fh[10];
        if (TagRead(t, fh, header_bytes) != header_bytes) return;
        // Padding (zero bytes), or anything that is no frame ID, ends the frames.
        for (int32_t k = 0; k < id_bytes; ++k)
            if (!((fh[k] >= 'A' && fh[k] <= 'Z') || (fh[k] >= '0' && fh[k] <= '9'))) return;
        const int64_t size = version == 2   ? int64_t{BigEndian(fh + 3, 3)}
                             : version == 3 ? int64_t{BigEndian(fh + 4, 4)}
                                            : SyncSafe(fh + 4);
        // A frame that would reach past the tag ends its reading.
        if (size < 0 || size > frames_end - TellInput(in)) return;
        const int32_t field = FieldOf(fh, id_bytes);
        bool wanted = Wanted(text, s, field);
        // Bytes the format flags put before the body: a group byte, v2.4's
        // data length; compressed and encrypted frames are passed over.
        int32_t prefix = 0;
        bool frame_unsync = false;
        if (version == 3) {
            if (fh[9] & 0xC0) wanted = false;
            prefix = (fh[9] & 0x20) ? 1 : 0;
        } else if (version == 4) {
            if (fh[9] & 0x0C) wanted = false;
            prefix = ((fh[9] & 0x40) ? 1 : 0) + ((fh[9] & 0x01) ? 4 : 0);
            frame_unsync = (fh[9] & 0x02) || (flags & 0x80);
        }
        if (!wanted) {
            TagSkip(t, size);
            continue;
        }
        const int32_t take = size < kBodyBytes ? static_cast<int32_t>(size) : kBodyBytes;
        if (TagRead(t, body, take) != take) return;
        TagSkip(t, size - take);
        if (take <= prefix) continue;
        uint8_t* p = body + prefix;
        int32_t n = take - prefix;
        if (frame_unsync) n = Resynchronise(p, n);
        if (field == kTagComment) {
            TakeComment(p, n, text, s);
        } else {
            TakeTextFrame(p, n, field, text);
        }
    }
}

void ReadApeText(Stream& in, int64_t items_start, int64_t items_end, uint32_t count, uint32_t version, TagText& text) {
    const int32_t encoding = version < 2000 ? kLatin1 : kUtf8;
    uint8_t body[kBodyBytes];
    int64_t at = items_start;
    // An item: the value's size, flags, a key of 2..255 characters with a
    // zero byte, the value. Each takes 9 bytes at least, so the walk ends.
    for (uint32_t i = 0; i < count && items_end - at >= 9; ++i) {
        const int32_t want = items_end - at < 8 + 256 ? static_cast<int32_t>(items_end - at) : 8 + 256;
        if (SeekInputTo(in, at) != 0 || ReadInput(in, body, want) != want) return;
        const auto* key = reinterpret_cast<const char*>(body + 8);
        const auto* nul = static_cast<const uint8_t*>(std::memchr(body + 8, 0, static_cast<size_t>(want - 8)));
        if (nul == nullptr) return;
        const int64_t value_at = at + (nul + 1 - body);
        const int64_t size = LoadLittleEndian32(body);
        if (size > items_end - value_at) return;
        const int32_t field = ApeFieldOf(key);
        // Flag bits 1 and 2 give the item's kind: 0 is text (1 binary, 2 a link).
        const bool is_text = ((LoadLittleEndian32(body + 4) >> 1) & 3) == 0;
        if (field >= 0 && is_text && text.field[field][0] == 0) {
            const int32_t take = size < kBodyBytes ? static_cast<int32_t>(size) : kBodyBytes;
            if (SeekInputTo(in, value_at) != 0 || ReadInput(in, body, take) != take) return;
            Field value;
            TextOut out = Begin(value);
            DecodeString(body, take, encoding, out);  // of several values (zero-separated) the first
            Keep(text, field, value);
        }
        at = value_at + size;
    }
}

void ReadId3v1Text(const uint8_t* tag, TagText& text) {
    // A fixed-width Latin-1 field, ended by a zero byte or padded with spaces.
    const auto take = [&](int32_t field, int32_t offset, int32_t width) {
        Field value;
        TextOut out = Begin(value);
        DecodeString(tag + offset, width, kLatin1, out);
        while (out.length > 0 && value[static_cast<size_t>(out.length - 1)] == ' ') value[--out.length] = 0;
        Keep(text, field, value);
    };
    take(kTagTitle, 3, 30);
    take(kTagArtist, 33, 30);
    take(kTagAlbum, 63, 30);
    take(kTagYear, 93, 4);
    // ID3v1.1: a zero byte, then the track number, in the comment's last two bytes.
    const bool v11 = tag[125] == 0 && tag[126] != 0;
    take(kTagComment, 97, v11 ? 28 : 30);
    if (v11) {
        Field value;
        TextOut out = Begin(value);
        const int32_t track = tag[126];
        if (track >= 100) Put(out, static_cast<uint32_t>('0' + track / 100));
        if (track >= 10) Put(out, static_cast<uint32_t>('0' + track / 10 % 10));
        Put(out, static_cast<uint32_t>('0' + track % 10));
        Keep(text, kTagTrack, value);
    }
    // 255 means none; numbers past the table name no genre anyone agrees on.
    if (size_t{tag[127]} < kGenreNames.size()) {
        Field value;
        TextOut out = Begin(value);
        PutText(out, kGenreNames[tag[127]]);
        Keep(text, kTagGenre, value);
    }
}

}  // namespace quv3
