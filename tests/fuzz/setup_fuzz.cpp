// Arbitrary setup.ins scripts through the whole update run, over a platform
// that finds every key, answers Yes and copies nothing.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tests/fuzz/fuzz_io.h"
#include "updater/update_run.h"

namespace {

int ModulePath(char* buffer, int capacity) {
    const std::string path = fuzz::ScratchDir() + "/updater";
    return std::snprintf(buffer, static_cast<size_t>(capacity), "%s", path.c_str()) < capacity
               ? static_cast<int>(path.size())
               : -1;
}
int Registry(const char* subkey, char* value, int capacity) {
    if (std::strlen(subkey) >= 300) __builtin_trap();
    std::snprintf(value, static_cast<size_t>(capacity), "/install/dir/%s", subkey);
    return subkey[0] != 'X';
}
int Box(const char* text, const char* caption, int) {
    if (std::strlen(text) >= 100 || caption[0] == '\0') __builtin_trap();
    return updater::kAnswerYes;
}
int Copy(const char*, const char* to) {
    if (std::strncmp(to, "/install/", 9) != 0) {
        std::fprintf(stderr, "copy to [%s]\n", to);
        __builtin_trap();
    }
    return 1;
}

const updater::Platform kPlatform = {'/', ModulePath, Registry, Box, Copy};
updater::RunState g_run;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::WriteFile(fuzz::ScratchDir() + "/setup.ins", data, size)) return 0;
    std::memset(&g_run, 0, sizeof g_run);
    updater::RunUpdate(g_run, kPlatform);
    return 0;
}
