// Runs a fuzz target's entry point over stored inputs, without libFuzzer:
// regression_main FILE_OR_DIRECTORY...
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 1;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 0, failures = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "missing: %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            DIR* d = opendir(argv[i]);
            while (dirent* e = readdir(d)) {
                if (e->d_name[0] == '.') continue;
                failures += RunFile(std::string(argv[i]) + "/" + e->d_name);
                ++files;
            }
            closedir(d);
        } else {
            failures += RunFile(argv[i]);
            ++files;
        }
    }
    std::printf("%d inputs ran, %d could not be read\n", files, failures);
    return failures ? 1 : 0;
}
