// The text of the tags through quv3_get_tags: every encoding delivered as
// UTF-8, the frame layouts of ID3v2.2, 2.3 and 2.4, APEv2 and ID3v1 and their
// precedence, and tags that lie about their sizes. Leading tags are read from
// memory and through a pipe, which delivers their bytes once.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "decoder/api/quv3_decoder.h"
#include "tests/support/api_decode.h"

namespace quv3::test {
namespace {

using namespace std::string_literals;

const Bytes& Bare() {
    static const Bytes b = ReadFileBytes(std::string(QUV3_FIXTURES) + "/j44_128.mp3");
    return b;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::vector<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) Append(out, p);
    return out;
}

// A number in big-endian bytes, 7 bits a byte when sync-safe.
Bytes Number(uint32_t v, int bytes, bool sync_safe = false) {
    Bytes b;
    for (int k = bytes - 1; k >= 0; --k)
        b.push_back(static_cast<uint8_t>(sync_safe ? (v >> (7 * k)) & 0x7F : v >> (8 * k)));
    return b;
}

// An ID3v2 frame: v2.2 a 3-character ID and 3-byte size, v2.3 a 4-byte size,
// v2.4 a sync-safe one; then (v2.3, v2.4) the flags.
Bytes Frame(int version, const std::string& id, const Bytes& body, uint8_t format_flags = 0) {
    if (version == 2) return Cat({Str(id), Number(static_cast<uint32_t>(body.size()), 3), body});
    return Cat({Str(id), Number(static_cast<uint32_t>(body.size()), 4, version == 4), {0, format_flags}, body});
}

// A tag of the frames, with 50 bytes of padding.
Bytes Tag(int version, const std::vector<Bytes>& frames, uint8_t flags = 0) {
    Bytes body = Cat(frames);
    body.resize(body.size() + 50, 0);
    return Cat({{'I', 'D', '3', static_cast<uint8_t>(version), 0, flags},
                Number(static_cast<uint32_t>(body.size()), 4, true),
                body});
}

Bytes Text(uint8_t encoding, const Bytes& s) { return Cat({{encoding}, s}); }
Bytes Comment(uint8_t encoding, const Bytes& description, const Bytes& s) {
    return Cat({{encoding, 'e', 'n', 'g'}, description, s});
}
// UTF-16 with a byte-order mark (both orders) or big-endian without.
enum Order { kLittle, kBig, kBigNoMark };
Bytes Utf16(const std::u16string& s, Order order, bool terminated = false) {
    Bytes b;
    if (order == kLittle) b = {0xFF, 0xFE};
    if (order == kBig) b = {0xFE, 0xFF};
    for (char16_t c : terminated ? s + u'\0' : s) {
        const uint8_t hi = static_cast<uint8_t>(c >> 8), lo = static_cast<uint8_t>(c);
        Append(b, order == kLittle ? Bytes{lo, hi} : Bytes{hi, lo});
    }
    return b;
}

const std::string kText = "Für Elise – Ünïcødé 𝄞";        // 2-, 3- and 4-byte characters
const std::u16string kText16 = u"Für Elise – Ünïcødé 𝄞";  // the last one a surrogate pair

// Opens front + stream + back from memory, or through a pipe, checks the
// frames start behind the leading tags, and gives the fields as one line:
// title|artist|album|year|track|genre|comment.
std::string TagsOf(const Bytes& front, const Bytes& back = {}, bool pipe = false) {
    const Bytes file = Cat({front, Bare(), back});
    OwnedDecoder dec;
    std::optional<Pipe> p;
    quv3_reader reader{};
    if (pipe) reader = p.emplace(file).Reader();
    const int32_t r = pipe ? quv3_open_reader(dec.d, &reader, 0) : quv3_open_memory(dec.d, file.data(), file.size(), 0);
    quv3_tags t{};
    quv3_info i{};
    EXPECT_EQ(r, 0);
    EXPECT_EQ(quv3_get_info(dec.d, &i), 0);
    EXPECT_EQ(i.frames.offset, static_cast<int64_t>(front.size()));
    EXPECT_EQ(quv3_get_tags(dec.d, &t), 0);
    std::string line = t.title;
    for (const char* f : {t.artist, t.album, t.year, t.track, t.genre, t.comment}) line += "|"s + f;
    return line;
}

TEST(TagText, Id3v24Utf8ThroughMemoryAndPipe) {
    // A comment of 200 bytes: its sync-safe size 0x01 0x48 read plainly is 328.
    const std::string long_comment(200 - 5, 'c');
    const Bytes tag =
        Tag(4, {Frame(4, "TIT2", Text(3, Str(kText))), Frame(4, "COMM", Comment(3, {0}, Str(long_comment))),
                Frame(4, "TPE1", Text(3, Str("Ludwig"))), Frame(4, "TDRC", Text(3, Str("1810-04-27"))),
                Frame(4, "TRCK", Text(3, Str("3/12"))), Frame(4, "TCON", Text(3, Str("13")))});
    for (bool pipe : {false, true})
        EXPECT_EQ(TagsOf(tag, {}, pipe), kText + "|Ludwig||1810-04-27|3/12|Pop|" + long_comment) << pipe;
}

TEST(TagText, Id3v23Utf16BothOrdersAndLatin1) {
    // A frame of 144 bytes first: its size byte 0x90 is no sync-safe byte.
    const Bytes priv = Frame(3, "PRIV", Bytes(144, 'x'));
    for (Order order : {kLittle, kBig}) {
        // A described comment, then the one without description that wins.
        const Bytes tag = Tag(3, {priv, Frame(3, "TIT2", Text(1, Utf16(kText16, order))),
                                  Frame(3, "COMM", Comment(1, Utf16(u"iTunNORM", order, true), Utf16(u"norm", order))),
                                  Frame(3, "COMM", Comment(1, Utf16(u"", order, true), Utf16(u"é", order))),
                                  Frame(3, "TALB", Text(2, Utf16(u"Bagatellen", kBigNoMark))),
                                  Frame(3, "TCON", Text(1, Utf16(u"(32)Klassik – Romantik", order)))});
        EXPECT_EQ(TagsOf(tag), kText + "||Bagatellen|||Klassik – Romantik|é") << order;
    }
    const Bytes latin1 =
        Tag(3, {Frame(3, "TIT2", Text(0, Str("F\xFCr Elise \xD6\xDF"))), Frame(3, "TYER", Text(0, Str("1867")))});
    EXPECT_EQ(TagsOf(latin1, {}, true), "Für Elise Öß|||1867|||");
}

// ID3v2.2: three-character IDs and 3-byte sizes (a 300-byte picture first).
TEST(TagText, Id3v22) {
    const Bytes tag = Tag(2, {Frame(2, "PIC", Bytes(300, 0xFF)), Frame(2, "TT2", Text(0, Str("Eroica"))),
                              Frame(2, "TCO", Text(0, Str("(4)Eurodisco"))), Frame(2, "TRK", Text(0, Str("7"))),
                              Frame(2, "COM", Comment(0, {0}, Str("first")))});
    for (bool pipe : {false, true}) EXPECT_EQ(TagsOf(tag, {}, pipe), "Eroica||||7|Eurodisco|first") << pipe;
}

// Tag-level unsynchronisation (v2.3: every 0xFF is followed by a 0x00 the
// reader drops, sizes count the bytes without them, also of a frame passed
// over), and v2.4's per frame with a data length indicator; both with the
// extended header of their version.
TEST(TagText, Unsynchronisation) {
    const Bytes frames = Cat({{0, 0, 0, 6, 0, 0, 0, 0, 0, 0},  // the extended header, its size not counted
                              Frame(3, "PRIV", Bytes(40, 0xFF)),
                              Frame(3, "TIT2", Text(0, {0xFF, 0xFF, 'a', 0xFF})),
                              Frame(3, "TPE1", Text(1, Utf16(u"ÿ", kLittle)))});
    Bytes stuffed;
    for (uint8_t b : frames) {
        stuffed.push_back(b);
        if (b == 0xFF) stuffed.push_back(0);
    }
    stuffed.resize(stuffed.size() + 50, 0);
    const Bytes v23 =
        Cat({{'I', 'D', '3', 3, 0, 0xC0}, Number(static_cast<uint32_t>(stuffed.size()), 4, true), stuffed});
    for (bool pipe : {false, true}) EXPECT_EQ(TagsOf(v23, {}, pipe), "ÿÿaÿ|ÿ|||||") << pipe;
    // v2.4, flags 0x03: the data length (4), then Latin-1 "\xFF" "A\xFF" stuffed to 6 bytes.
    Bytes v24 = Tag(4, {Frame(4, "TALB", Cat({Number(4, 4, true), {0, 0xFF, 0, 'A', 0xFF, 0}}), 0x03)}, 0x40);
    v24.insert(v24.begin() + 10, {0, 0, 0, 6, 1, 0});  // the extended header, its size counted
    v24[9] += 6;
    EXPECT_EQ(TagsOf(v24), "||ÿAÿ||||");
}

// A frame may not reach past its tag: one ending at the tag's last byte is
// read, one reaching a byte further ends the reading of that tag.
TEST(TagText, FrameSizesBeyondTheTag) {
    const Bytes exact =
        Cat({{'I', 'D', '3', 3, 0, 0}, Number(20, 4, true), Frame(3, "TIT2", Text(0, Str("abcdefghi")))});
    EXPECT_EQ(TagsOf(exact), "abcdefghi||||||");
    Bytes over = exact;
    over[17] = 11;  // one byte into the stream
    EXPECT_EQ(TagsOf(over), "||||||");
    Bytes huge = Tag(3, {Frame(3, "TIT2", Text(0, Str("kept"))), Frame(3, "TPE1", Text(0, Str("x")))});
    huge[10 + 15 + 4] = 0x7F;  // TPE1's size: 2 GB
    EXPECT_EQ(TagsOf(huge, {}, true), "kept||||||");
}

// A picture far larger than the input buffer, holding what looks like
// frames, is passed over; the text frames after it are read.
TEST(TagText, LargePictureBeforeTheText) {
    Bytes picture;
    while (picture.size() < 100000) Append(picture, Frame(4, "TIT2", Text(0, Str("inside the picture"))));
    const Bytes tag = Tag(4, {Frame(4, "APIC", picture), Frame(4, "TIT2", Text(0, Str("Mondschein")))});
    for (bool pipe : {false, true}) EXPECT_EQ(TagsOf(tag, {}, pipe), "Mondschein||||||") << pipe;
}

// 255 bytes at most, cut before the character that does not fit: a later,
// shorter one does not slip in. The body beyond what is read is passed over.
TEST(TagText, LongValuesAreCutAtACharacterBoundary) {
    const std::string a253(253, 'a');
    EXPECT_EQ(TagsOf(Tag(4, {Frame(4, "TIT2", Text(3, Str(a253 + "€b" + std::string(3000, 'z')))),
                             Frame(4, "TPE1", Text(1, Utf16(std::u16string(252, u'a') + u"𝄞b", kBig)))})),
              a253 + "|" + std::string(252, 'a') + "|||||");
}

Bytes Id3v1(const std::string& title, uint8_t track, uint8_t genre) {
    Bytes t = Cat({Str("TAG"), Str(title)});
    t.resize(33, ' ');
    Append(t, Str("Beethoven"));
    t.resize(63, 0);
    Append(t, Str("Op. 126"));
    t.resize(93, 0);
    Append(t, Str("1810Bagatelle"));
    t.resize(128, 0);
    t[126] = track, t[127] = genre;
    return t;
}

Bytes Ape(const std::vector<std::pair<std::string, Bytes>>& items, const std::vector<uint32_t>& flags) {
    auto le = [](uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    Bytes body;
    for (size_t i = 0; i < items.size(); ++i)
        Append(body, Cat({le(static_cast<uint32_t>(items[i].second.size())),
                          le(flags[i]),
                          Str(items[i].first),
                          {0},
                          items[i].second}));
    auto block = [&](uint32_t f) {
        return Cat({Str("APETAGEX"), le(2000), le(static_cast<uint32_t>(body.size() + 32)),
                    le(static_cast<uint32_t>(items.size())), le(f), Bytes(8, 0)});
    };
    return Cat({block(0xA0000000u), body, block(0x80000000u)});
}

TEST(TagText, Id3v1AndApeAtTheEnd) {
    EXPECT_EQ(TagsOf({}, Id3v1("Bagatelle \xE9  ", 12, 13)), "Bagatelle é|Beethoven|Op. 126|1810|12|Pop|Bagatelle");
    // Keys in any case; a binary item (flags 2) is no text; of two values the first.
    EXPECT_EQ(TagsOf({}, Ape({{"Cover Art (Front)", Bytes(5000, 0xFF)},
                              {"ALBUM", Str("binary")},
                              {"TITLE", Str(kText)},
                              {"genre", Str(std::string("Rock\0Pop", 8))},
                              {"Album", Str("Opus 59")}},
                             {2, 2, 0, 0, 0})),
              kText + "||Opus 59|||Rock|");
}

// ID3v2 before APEv2 before ID3v1, field by field; of two ID3v2 tags the
// first, also for the comment the second would otherwise win by its rule.
TEST(TagText, Precedence) {
    const Bytes two = Cat(
        {Tag(3, {Frame(3, "TIT2", Text(0, Str("v2 first"))), Frame(3, "COMM", Comment(0, Str("d\0"s), Str("one")))}),
         Tag(4, {Frame(4, "TIT2", Text(0, Str("v2 second"))), Frame(4, "COMM", Comment(0, {0}, Str("two"))),
                 Frame(4, "TRCK", Text(0, Str("9")))})});
    const Bytes ape = Ape({{"Title", Str("ape")}, {"Artist", Str("ape")}}, {0, 0});
    EXPECT_EQ(TagsOf(two, Cat({ape, Id3v1("v1", 1, 0)})), "v2 first|ape|Op. 126|1810|9|Blues|one");
    // Through a pipe the end is not looked at.
    EXPECT_EQ(TagsOf(two, Cat({ape, Id3v1("v1", 1, 0)}), true), "v2 first||||9||one");
}

TEST(TagText, BadCallsAndReopening) {
    OwnedDecoder dec;
    quv3_tags t;
    EXPECT_EQ(quv3_get_tags(dec.d, &t), QUV3_BAD_CALL);
    const Bytes file = Cat({Tag(4, {Frame(4, "TIT2", Text(0, Str("old")))}), Bare()});
    ASSERT_EQ(quv3_open_memory(dec.d, file.data(), file.size(), 0), 0);
    EXPECT_EQ(quv3_get_tags(dec.d, nullptr), QUV3_BAD_CALL);
    EXPECT_EQ(quv3_get_tags(nullptr, &t), QUV3_BAD_CALL);
    ASSERT_EQ(quv3_open_memory(dec.d, Bare().data(), Bare().size(), 0), 0);
    ASSERT_EQ(quv3_get_tags(dec.d, &t), 0);
    EXPECT_EQ(std::string(t.title), "") << "a reopened decoder kept the last stream's text";
}

}  // namespace
}  // namespace quv3::test
