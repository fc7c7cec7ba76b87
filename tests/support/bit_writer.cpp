#include "tests/support/bit_writer.h"

namespace quv3::test {

void BitWriter::Put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (bits % 8 == 0) bytes.push_back(0);
        if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
        ++bits;
    }
}

void BitWriter::PutString(const std::string& s) {
    for (char c : s) {
        if (c == '0' || c == '1') Put(c == '1', 1);
    }
}

void BitWriter::PadToByte() {
    while (bits % 8) Put(0, 1);
}

}  // namespace quv3::test
