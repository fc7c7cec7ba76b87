#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/layer3/side_info.h"
#include "decoder/stream/stream.h"

namespace quv3::test {

using Bytes = std::vector<uint8_t>;

struct HeaderSpec {
    int id = 1;  // 1 MPEG-1, 0 LSF (and MPEG 2.5)
    int mpeg25 = 0;  // 1: the 12th sync bit 0 (with id 0, an MPEG 2.5 header)
    int layer = 1;  // 1 = Layer III
    int protection_bit = 1;  // 1 = no CRC
    int bitrate_index = 9;
    int sampling_frequency = 0;
    int padding_bit = 0;
    int private_bit = 0;
    int mode = 1;
    int mode_extension = 0;
    int copyright = 0;
    int original_copy = 1;
    int emphasis = 0;
};

// sync12 -1: 0xFFE for an MPEG 2.5 header, 0xFFF otherwise.
Bytes HeaderBytes(const HeaderSpec& h, int sync12 = -1);
int FrameLength(const HeaderSpec& h);  // including padding

// Side information in bitstream terms; packed to 9, 17 or 32 bytes.
Bytes SideInfoBytes(const HeaderSpec& h, const SideInfo& si);

// A whole frame: header, CRC word (zeros) when protected, side information,
// then main data, padded with zeros (or cut) to the frame length.
Bytes BuildFrame(const HeaderSpec& h, const SideInfo& si, const Bytes& main_data);

// A frame whose granules are all silent (every part2_3_length 0).
Bytes SilentFrame(const HeaderSpec& h);

void Append(Bytes& to, const Bytes& from);

// A file in the test's temporary directory, removed when the object goes.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& content, const std::string& suffix = ".mp3");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace quv3::test
