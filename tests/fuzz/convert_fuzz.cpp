// Arbitrary CMP and CP8 sample files through the conversion. The first byte
// picks the extension; the rest is the file.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tests/fuzz/fuzz_io.h"
#include "updater/sample_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool cmp = (data[0] & 1) == 0;
    const std::string source = fuzz::ScratchDir() + (cmp ? "/sample.cmp" : "/sample.cp8");
    const std::string output = fuzz::ScratchDir() + "/sample.wav";
    if (!fuzz::WriteFile(source, data + 1, size - 1)) return 0;
    char src[updater::kPathBytes], dst[updater::kPathBytes];
    std::snprintf(src, sizeof src, "%s", source.c_str());
    std::snprintf(dst, sizeof dst, "/install/%s", cmp ? "sample.cmp" : "sample.cp8");
    const int r = updater::ConvertSampleFile(src, dst);
    if (r > 0 && std::strcmp(src, output.c_str()) != 0) __builtin_trap();
    if (r < 0) {
        // A failed conversion leaves no output behind.
        if (FILE* f = std::fopen(output.c_str(), "rb")) {
            std::fclose(f);
            __builtin_trap();
        }
    }
    if (r < -3 || r > 2) __builtin_trap();
    std::remove(output.c_str());
    return 0;
}
