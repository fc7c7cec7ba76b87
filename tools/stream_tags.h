#pragma once

#include <cstdint>

// The tags music files carry around their MPEG audio stream: an ID3v2 tag at
// the start (with its footer and the padding after it), an APEv2 tag and an
// ID3v1 tag at the end. quvdec hands the library the bare stream between them.
namespace quvdec {

struct StreamTags {
    int64_t id3v2_bytes = 0;  // at the start, padding included
    int64_t ape_bytes = 0;  // before the ID3v1 tag, or at the end
    int64_t id3v1_bytes = 0;  // 128 at the very end, or 0
    int64_t stream_start = 0;
    int64_t stream_end = 0;  // exclusive
    bool Any() const { return id3v2_bytes > 0 || ape_bytes > 0 || id3v1_bytes > 0; }
};

// The file as the scan reads it: its size and a reader of n bytes at an
// offset (returning the count delivered).
struct FileView {
    int64_t size;
    void* context;
    int64_t (*read_at)(void* context, int64_t offset, uint8_t* out, int64_t n);
};

StreamTags FindStreamTags(const FileView& file);

}  // namespace quvdec
