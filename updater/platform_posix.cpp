// Linux stand-ins for the Win32 services: the module path from /proc/self/exe,
// the registry from a .reg export file named by UPDATER_REGISTRY, message boxes
// on the terminal (or answered by UPDATER_ANSWER), and a copy that writes a
// temporary file beside the target and renames it over.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "updater/platform.h"

namespace updater {
namespace {

int ModulePath(char* buffer, int capacity) {
    const ssize_t n = readlink("/proc/self/exe", buffer, static_cast<size_t>(capacity));
    if (n < 0 || n >= capacity) return -1;
    buffer[n] = '\0';
    return static_cast<int>(n);
}

// One line of a .reg file, as ASCII: UTF-16LE exports (version 5 files with a
// byte-order mark) are narrowed, other characters kept. 0 at the end.
struct RegReader {
    FILE* f;
    bool utf16;
};

int NextChar(RegReader& r) {
    const int a = std::fgetc(r.f);
    if (!r.utf16 || a == EOF) return a;
    const int b = std::fgetc(r.f);
    if (b == EOF) return EOF;
    return b == 0 ? a : '?';
}

// A line without its line end; over-long lines are cut (and cannot match).
int ReadRegLine(RegReader& r, char* line, size_t capacity) {
    size_t n = 0;
    int c = NextChar(r);
    if (c == EOF) return 0;
    for (; c != EOF && c != '\n'; c = NextChar(r)) {
        if (c != '\r' && n + 1 < capacity) line[n++] = static_cast<char>(c);
    }
    line[n] = '\0';
    return 1;
}

// A quoted .reg string with its \\ and \" escapes, into value.
bool UnquoteRegString(const char* p, char* value, int capacity) {
    if (*p != '"') return false;
    int n = 0;
    for (++p; *p && *p != '"'; ++p) {
        if (*p == '\\' && (p[1] == '\\' || p[1] == '"')) ++p;
        if (n + 1 >= capacity) return false;
        value[n++] = *p;
    }
    if (*p != '"') return false;
    value[n] = '\0';
    return true;
}

int ReadInstallKey(const char* subkey, char* value, int capacity) {
    const char* file = std::getenv("UPDATER_REGISTRY");
    if (file == nullptr || *file == '\0') return 0;
    RegReader r{std::fopen(file, "rb"), false};
    if (r.f == nullptr) return 0;
    const int b0 = std::fgetc(r.f), b1 = std::fgetc(r.f);
    if (b0 == 0xFF && b1 == 0xFE) {
        r.utf16 = true;
    } else {
        std::rewind(r.f);
    }
    char line[1024];
    char want[400];
    std::snprintf(want, sizeof want, "[HKEY_LOCAL_MACHINE\\%s]", subkey);
    bool in_key = false, found = false;
    while (!found && ReadRegLine(r, line, sizeof line)) {
        const char* p = line;
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '[') {
            in_key = strcasecmp(p, want) == 0;  // registry keys ignore case
        } else if (in_key && p[0] == '@' && p[1] == '=') {
            found = UnquoteRegString(p + 2, value, capacity);
        }
    }
    std::fclose(r.f);
    return found ? 1 : 0;
}

int MessageBox(const char* text, const char* caption, int style) {
    // Every box goes to standard output too, one block per box.
    std::printf("[%s]\n%s\n", caption, text);
    int answer = kAnswerOk;
    if (style == kBoxYesNo) {
        answer = kAnswerNo;
        if (isatty(STDIN_FILENO)) {
            std::printf("[y/n] ");
            std::fflush(stdout);
            char reply[16];
            if (std::fgets(reply, sizeof reply, stdin) && (reply[0] == 'y' || reply[0] == 'Y')) answer = kAnswerYes;
        } else if (const char* env = std::getenv("UPDATER_ANSWER")) {
            if (strcasecmp(env, "yes") == 0) answer = kAnswerYes;
        }
        std::printf("answer: %s\n", answer == kAnswerYes ? "yes" : "no");
    }
    std::printf("\n");
    std::fflush(stdout);
    return answer;
}

// Copies the file named by context into temp, on disk when it returns.
int CopyInto(const char* temp, void* context) {
    const char* from = static_cast<const char*>(context);
    const int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return 0;
    const int out = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return 0;
    }
    static char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    if (fsync(out) != 0) ok = false;
    if (close(out) != 0) ok = false;
    return ok ? 1 : 0;
}

int CopyFile(const char* from, const char* to) { return WriteReplacing(to, CopyInto, const_cast<char*>(from)); }

const Platform kPosix = {'/', ModulePath, ReadInstallKey, MessageBox, CopyFile};

}  // namespace

const Platform& NativePlatform() { return kPosix; }

int WriteReplacing(const char* target, int (*fill)(const char* temp, void* context), void* context) {
    char temp[4096];
    const int n = std::snprintf(temp, sizeof temp, "%s.updater-%d", target, static_cast<int>(getpid()));
    if (n < 0 || n >= static_cast<int>(sizeof temp)) return 0;
    if (fill(temp, context) == 1 && rename(temp, target) == 0) return 1;
    unlink(temp);
    return 0;
}

}  // namespace updater
