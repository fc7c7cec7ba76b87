#pragma once

#include <array>
#include <cstdint>

namespace quv3 {

// n^(4/3) for every magnitude the escape coding can produce: 15 + (2^13 - 1) = 8206.
inline constexpr int kPow43Size = 8207;
extern const std::array<float, kPow43Size> kPow43Table;

inline constexpr std::array<float, 4> kGainStepTable = {1.0f, 1.18920712f, 1.41421356f, 1.68179283f};
inline constexpr std::array<float, 4> kGainStepInverseTable = {1.0f, 0.840896415f, 0.707106781f,
                                                               0.594603558f};

// ISO/IEC 11172-3 pretab, added to long-band scale factors when preflag is set.
inline constexpr std::array<int32_t, 22> kPretabTable = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                         1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// MPEG-1 slen1 / slen2 by scalefac_compress.
inline constexpr std::array<std::array<int8_t, 16>, 2> kSlenTable = {{
    {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
    {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3},
}};

// ISO/IEC 13818-3 nr_of_sfb: [half][range][block kind: long, short, mixed][partition].
inline constexpr int8_t kLsfPartitionTable[2][3][3][4] = {
    {
        {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
        {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
        {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
    },
    {
        {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
        {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
        {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
    },
};

// LSF intensity: row 0 = 2^(-k/4), row 1 = 2^(-k/2), six significant digits as the
// reference decoder carries them; entries 16..31 are 0.
inline constexpr float kLsfIntensityTable[2][32] = {
    {1.0f, 0.840896f, 0.707107f, 0.594604f, 0.5f, 0.420448f, 0.353553f, 0.297302f, 0.25f,
     0.210224f, 0.176777f, 0.148651f, 0.125f, 0.105112f, 0.0883883f, 0.0743254f},
    {1.0f, 0.707107f, 0.5f, 0.353553f, 0.25f, 0.176777f, 0.125f, 0.0883883f, 0.0625f, 0.0441942f,
     0.03125f, 0.0220971f, 0.015625f, 0.0110485f, 0.0078125f, 0.00552427f},
};

inline constexpr double kMidSideScale = 0.707106781188;
inline constexpr int32_t kNoIntensity = 65261;  // 0xFEED

}  // namespace quv3
