#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quv3::test {

// Writes bit fields most significant bit first, as the bitstream stores them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    size_t bits = 0;

    void Put(uint32_t value, int n);
    void PutString(const std::string& bits01);  // "0110 1" (spaces ignored)
    void PadToByte();
};

}  // namespace quv3::test
