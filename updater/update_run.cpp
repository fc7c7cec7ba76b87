#include "updater/update_run.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace updater {
namespace {

// Bytes up to the first CR into buffer (the CR becomes the terminator), then
// everything up to and including the next LF is skipped. 0 at the end of the
// file, or when the line does not fit the buffer.
int ReadScriptLine(FILE* f, char* buffer, size_t max_chars) {
    size_t n = 0;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF) return 0;
        if (c == '\r') break;
        if (n == max_chars) return 0;  // longer than the buffer: the script is rejected
        buffer[n++] = static_cast<char>(c);
    }
    buffer[n] = '\0';
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF) return 0;
        if (c == '\n') return 1;
    }
}

// "%d": leading white space, an optional sign, decimal digits. 0 when no number
// is there (the value is then left alone), -1 when it leaves the 32-bit range.
int ReadDecimal(FILE* f, int32_t& value) {
    int c;
    do c = std::fgetc(f);
    while (c != EOF && std::isspace(c));
    const bool negative = c == '-';
    if (c == '-' || c == '+') c = std::fgetc(f);
    if (c == EOF || !std::isdigit(c)) return 0;
    int64_t v = 0;
    for (; c != EOF && std::isdigit(c); c = std::fgetc(f)) {
        v = v * 10 + (c - '0');
        if (v > 0x80000000LL) return -1;
    }
    if (c != EOF) std::ungetc(c, f);
    v = negative ? -v : v;
    if (v > 0x7FFFFFFF) return -1;
    value = static_cast<int32_t>(v);
    return 1;
}

// "%s" into a slot: leading white space, then the word. 0 at the end of the
// file or when the word does not fit the slot.
int ReadWord(FILE* f, char* slot, size_t max_chars) {
    int c;
    do c = std::fgetc(f);
    while (c != EOF && std::isspace(c));
    if (c == EOF) return 0;
    size_t n = 0;
    for (; c != EOF && !std::isspace(c); c = std::fgetc(f)) {
        if (n == max_chars) return 0;
        slot[n++] = static_cast<char>(c);
    }
    slot[n] = '\0';
    return 1;
}

// dir + separator + name into out (260 bytes); false when it does not fit.
bool JoinPath(char* out, const char* dir, char separator, const char* name) {
    const int n = std::snprintf(out, kPathBytes, "%s%c%s", dir, separator, name);
    return n > 0 && n < kPathBytes;
}

// a + b into out (kMessageBytes); the script limits guarantee the room.
void ComposeText(char* out, const char* a, const char* b) {
    const size_t na = std::strlen(a), nb = std::strlen(b);
    const size_t ka = na < kMessageBytes - 1 ? na : kMessageBytes - 1;
    const size_t kb = nb < kMessageBytes - 1 - ka ? nb : kMessageBytes - 1 - ka;
    std::memcpy(out, a, ka);
    std::memcpy(out + ka, b, kb);
    out[ka + kb] = '\0';
}

}  // namespace

int ModuleDirectory(RunState& run, const Platform& platform) {
    char* dir = run.ProgramDirectory;
    const int n = platform.module_path(dir, kMaxModulePath + 1);
    if (n < 0 || n > kMaxModulePath) {
        dir[0] = '\0';
        return 0;
    }
    int i = n > 0 ? n - 1 : 0;
    while (i > 0 && dir[i] != platform.separator) --i;
    // A drive root (C:\) keeps its separator.
    dir[i == 2 ? 3 : i] = '\0';
    return 1;
}

int ReadSetupScript(RunState& run, const Platform& platform) {
    char path[kDirectoryBytes];
    const int n = std::snprintf(path, sizeof path, "%s%csetup.ins", run.ProgramDirectory, platform.separator);
    if (n < 0 || n >= static_cast<int>(sizeof path)) return 0;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    // The limits follow from the box texts the lines go into.
    const bool ok = ReadScriptLine(f, run.ProductName, kMaxProductName) &&
                    ReadScriptLine(f, run.UpdateMessage, kMaxUpdateMessage) &&
                    ReadScriptLine(f, run.RegistrySubKey, sizeof run.RegistrySubKey - 1);
    if (!ok) {
        std::fclose(f);
        return 0;
    }
    // No number leaves the count as it was; one outside every range is rejected.
    const int counted = ReadDecimal(f, run.FileCount);
    if (counted < 0 || run.FileCount < 0 || run.FileCount > kMaxFiles) {
        std::fclose(f);
        return 0;
    }
    for (int i = 0; i < run.FileCount; ++i) {
        if (!ReadWord(f, run.FileNames[i], kNameBytes - 1)) {
            std::fclose(f);
            return 0;
        }
    }
    std::fclose(f);
    return 1;
}

int FindInstallDirectory(RunState& run, const Platform& platform) {
    char* dir = run.InstallDirectory;
    if (!platform.read_install_key(run.RegistrySubKey, dir, kDirectoryBytes - 1)) return 0;
    dir[kDirectoryBytes - 2] = '\0';
    // The value names a file in the installation directory: drop its last component.
    for (int i = static_cast<int>(std::strlen(dir)) - 1; i >= 1; --i) {
        if (dir[i] == platform.separator) {
            dir[i] = '\0';
            break;
        }
    }
    return 1;
}

bool SafeFileName(const char* name) {
    if (name[0] == '\0' || name[0] == '/' || name[0] == '\\') return false;
    if (std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') return false;
    for (const char* p = name; *p;) {
        const char* end = p;
        while (*end && *end != '/' && *end != '\\') ++end;
        if (end - p == 2 && p[0] == '.' && p[1] == '.') return false;
        p = *end ? end + 1 : end;
    }
    return true;
}

int InstallFiles(const RunState& run, const Platform& platform) {
    int installed = 0;
    for (int i = 0; i < run.FileCount; ++i) {
        const char* name = run.FileNames[i];
        // A name that could reach outside the two directories is not installed.
        if (!SafeFileName(name)) continue;
        char source[kPathBytes], destination[kPathBytes];
        if (!JoinPath(source, run.ProgramDirectory, platform.separator, name) ||
            !JoinPath(destination, run.InstallDirectory, platform.separator, name))
            continue;
        if (ConvertSampleFile(source, destination) < 0) continue;
        if (platform.copy_file(source, destination)) ++installed;
    }
    return installed;
}

int RunUpdate(RunState& run, const Platform& platform) {
    if (!ModuleDirectory(run, platform)) return 0;
    if (!ReadSetupScript(run, platform)) return 0;
    char text[kMessageBytes];
    if (!FindInstallDirectory(run, platform)) {
        ComposeText(text, run.ProductName, " is not installed on this computer. \nThe update process can not be continued. \n");
        platform.message_box(text, " Error:", kBoxError);
        return 0;
    }
    ComposeText(text, run.UpdateMessage, "\n Do you want to continue ?\n");
    const int answer = platform.message_box(text, "Update info:", kBoxYesNo);
    const int n = answer == kAnswerYes ? InstallFiles(run, platform) : 0;
    std::snprintf(text, sizeof text, n == 1 ? " %d file has been installed." : " %d files have been installed.", n);
    platform.message_box(text, "Ready: ", kBoxOk);
    return 0;
}

}  // namespace updater
