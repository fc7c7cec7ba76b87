#pragma once

#include <cstdint>

#include "decoder/stream/stream.h"

// The text of the tags (tag_text.cpp): title, artist, album, year, track,
// genre and comment, converted to UTF-8. Each reader fills only the fields
// still empty, so the tag read first wins.
namespace quv3 {

// From the position, just behind the 10-byte header h of an ID3v2 tag whose
// frames end at frames_end: the text frames of versions 2.2, 2.3 and 2.4.
// Only the bodies of wanted frames are read (at most 2 KiB of each); others
// are passed over by moving forward, so an input that cannot seek is read
// once. The position is left anywhere up to frames_end.
void ReadId3v2Text(Stream& in, const uint8_t* h, int64_t frames_end, TagText& text);

// The text items of an APEv2 tag: count items from items_start to items_end.
// Version 1000 (APEv1) text is Latin-1, later versions' UTF-8. The position
// is left anywhere.
void ReadApeText(Stream& in, int64_t items_start, int64_t items_end, uint32_t count, uint32_t version, TagText& text);

// The 128 bytes of an ID3v1 tag ("TAG" first), with ID3v1.1's track byte.
void ReadId3v1Text(const uint8_t* tag, TagText& text);

}  // namespace quv3
