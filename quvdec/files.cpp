#include "quvdec/files.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quvdec {
namespace {

#if !defined(_WIN32)
mode_t g_umask = 022;  // read at the start: what a file created the ordinary way is denied
#endif

// The temporary output of each slot. A slot's state is kBusy while its name
// and its file change, kHeld while the file exists under the name, kFree
// otherwise. The interrupt handler removes the held files, waiting out a busy
// slot: a slot is only ever busy in a thread the handler does not run in (see
// HoldInterrupts).
enum : int { kFree, kBusy, kHeld };
char g_partial[kPartialSlots][4096];
std::atomic<int> g_state[kPartialSlots];

void Settle(int slot, int state) { g_state[slot].store(state, std::memory_order_release); }

#if defined(_WIN32)
// The console handler runs on a thread of its own.
void HoldInterrupts() {}
void ReleaseInterrupts() {}
void RemoveFile(const char* path) { DeleteFileA(path); }
#else
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kInterrupts) sigaddset(&set, s);
    return set;
}

// Interrupts are held off in the thread that changes a slot, so the handler
// never runs in the middle of that change in the same thread.
void HoldInterrupts() {
    const sigset_t set = InterruptSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseInterrupts() {
    const sigset_t set = InterruptSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void RemoveFile(const char* path) { unlink(path); }
#endif

// Async-signal-safe: atomics and unlink only.
void RemoveHeldFiles() {
    for (int s = 0; s < kPartialSlots; ++s) {
        for (long spin = 0; spin < 100000000 && g_state[s].load(std::memory_order_acquire) == kBusy; ++spin) {
        }
        if (g_state[s].load(std::memory_order_acquire) == kHeld) RemoveFile(g_partial[s]);
    }
}

#if defined(_WIN32)
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    // The partial outputs were opened for sharing deletion, so each goes when
    // the process ends and closes it.
    RemoveHeldFiles();
    _exit(130);
}
#else
extern "C" void OnInterrupt(int signal_number) {
    RemoveHeldFiles();
    // Ended by the signal itself, so that a shell running quvdec in a loop
    // stops too.
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}
#endif

// Where the name in a path starts, after its directory part.
size_t NameStart(const std::string& path) {
#if defined(_WIN32)
    const size_t cut = path.find_last_of("/\\:");
#else
    const size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? 0 : cut + 1;
}

// The directory a path's name is in.
std::string DirectoryOf(const std::string& path) {
    std::string dir = path.substr(0, NameStart(path));
    if (dir.empty() || dir.back() == ':') dir += '.';
    return dir;
}

#if defined(_WIN32)
FileId IdOfHandle(HANDLE h) {
    FileId id;
    BY_HANDLE_FILE_INFORMATION i;
    if (!GetFileInformationByHandle(h, &i)) return id;
    id.exists = true;
    id.directory = (i.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    id.regular = !id.directory;
    id.volume = i.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(i.nFileIndexHigh) << 32) | i.nFileIndexLow;
    return id;
}

FileId IdOfStandard(FILE* f) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return GetFileType(h) == FILE_TYPE_DISK ? IdOfHandle(h) : FileId{};
}

std::string SystemReason(DWORD error) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && std::strchr(" .\r\n", text[n - 1]) != nullptr) --n;
    return n > 0 ? std::string(text, n) : "system error " + std::to_string(error);
}
#else
FileId IdOfStat(const struct stat& s) {
    FileId id;
    id.exists = true;
    id.directory = S_ISDIR(s.st_mode);
    id.regular = S_ISREG(s.st_mode);
    id.volume = static_cast<uint64_t>(s.st_dev);
    id.index = static_cast<uint64_t>(s.st_ino);
    return id;
}

FileId IdOfDescriptor(int fd) {
    struct stat s;
    return fstat(fd, &s) == 0 && S_ISREG(s.st_mode) ? IdOfStat(s) : FileId{};
}
#endif

}  // namespace

bool SameFile(const FileId& a, const FileId& b) {
    return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}

#if defined(_WIN32)
FileId IdOf(const std::string& path) {
    // No access asked for and backup semantics: directories and files that
    // others hold open can be looked at too.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    const FileId id = IdOfHandle(h);
    CloseHandle(h);
    return id;
}

FileId IdOfStandardInput() { return IdOfStandard(stdin); }
FileId IdOfStandardOutput() { return IdOfStandard(stdout); }

std::string LibraryPath(const std::string& path) {
    const int units = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (units <= 0) return path;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return path;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes - 1));
    return utf8;
}
#else
FileId IdOf(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? IdOfStat(s) : FileId{};
}

FileId IdOfStandardInput() { return IdOfDescriptor(STDIN_FILENO); }
FileId IdOfStandardOutput() { return IdOfDescriptor(STDOUT_FILENO); }

std::string LibraryPath(const std::string& path) { return path; }
#endif

OutputKey KeyOf(const std::string& output) {
    const FileId file = IdOf(output);
    if (file.exists) return {file, ""};
    const FileId dir = IdOf(DirectoryOf(output));
    if (!dir.exists) return {dir, output};
    std::string name = output.substr(NameStart(output));
#if defined(_WIN32)
    // File names on Windows are compared without regard to case.
    if (!name.empty()) CharUpperBuffA(name.data(), static_cast<DWORD>(name.size()));
#endif
    return {dir, name};
}

bool SameOutput(const OutputKey& a, const OutputKey& b) {
    return a.name == b.name && (a.id.exists ? SameFile(a.id, b.id) : !b.id.exists);
}

std::string OutputFor(const std::string& in, const std::string& dir, const char* ext) {
    const size_t slash = in.find_last_of("/\\");
    const size_t dot = in.find_last_of('.');
    std::string base = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? in.substr(0, dot) : in;
    base += ext;
    if (dir.empty()) return base;
    const std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
    return dir.back() == '/' || dir.back() == '\\' ? dir + name : dir + "/" + name;
}

std::string WherePathLeads(const std::string& path) {
#if !defined(_WIN32)
    struct stat s;
    if (lstat(path.c_str(), &s) == 0 && S_ISLNK(s.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            const std::string target = real;
            std::free(real);
            return target;
        }
    }
#endif
    return path;
}

bool WrittenInPlace(const std::string& target) {
    const FileId id = IdOf(target);
    return id.exists && !id.directory && !id.regular;
}

int SeekFile(FILE* f, int64_t offset) {
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int64_t RewritableOffset(FILE* f) {
#if defined(_WIN32)
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return GetFileType(h) == FILE_TYPE_DISK ? _ftelli64(f) : -1;
#else
    struct stat s;
    const int fd = fileno(f);
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || flags < 0 || (flags & O_APPEND) != 0) return -1;
    return ftello(f);
#endif
}

void InstallInterruptHandlers() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    g_umask = umask(0);
    umask(g_umask);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_mask = InterruptSet();
    for (int s : kInterrupts) {
        // A hangup or broken pipe that the caller ignores (nohup) stays ignored.
        struct sigaction before {};
        if ((s == SIGHUP || s == SIGPIPE) && sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
    // Past the file size limit a write then fails (EFBIG) and the temporary
    // output is removed, rather than the process being killed beside it.
    signal(SIGXFSZ, SIG_IGN);
#endif
}

void KeepInterruptsFromThisThread() { HoldInterrupts(); }

FILE* CreatePartial(int slot, const std::string& target, const std::string& shown, std::string& why) {
    const size_t cut = NameStart(target);
    const std::string name = target.substr(cut);
    // The temporary name adds 8 characters to the target's: it is shortened
    // where that would pass the longest name the directory takes, but a target
    // name that is itself too long is refused here, before any decoding.
    size_t keep = name.size();
#if defined(_WIN32)
    const size_t longest = 255;  // UTF-16 units, on every Windows file system
    const int units = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (units > static_cast<int>(longest)) {
        why = "cannot create " + shown + ": " + SystemReason(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (keep > longest - 8) {
        // Cut between characters of the code page, not within one.
        keep = 0;
        while (keep < name.size()) {
            const size_t step = IsDBCSLeadByte(static_cast<BYTE>(name[keep])) ? 2 : 1;
            if (keep + step > longest - 8) break;
            keep += step;
        }
    }
#else
    const long longest = pathconf(DirectoryOf(target).c_str(), _PC_NAME_MAX);
    if (longest > 0 && name.size() > static_cast<size_t>(longest)) {
        why = "cannot create " + shown + ": " + std::strerror(ENAMETOOLONG);
        return nullptr;
    }
    if (longest > 16 && keep > static_cast<size_t>(longest) - 8) {
        keep = static_cast<size_t>(longest) - 8;
        // Cut between UTF-8 characters, not within one.
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    }
#endif
    if (name.empty()) {
        why = "cannot create " + shown + ": " + std::strerror(EISDIR);
        return nullptr;
    }
    const std::string stem = target.substr(0, cut) + "." + name.substr(0, keep) + ".";
    if (stem.size() + 6 >= sizeof g_partial[slot]) {
        why = "cannot create " + shown + ": " + std::strerror(ENAMETOOLONG);
        return nullptr;
    }
#if defined(_WIN32)
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint64_t state = static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                     (static_cast<uint64_t>(slot) << 20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        std::string path = stem;
        for (int k = 0; k < 6; ++k) path += "abcdefghijklmnopqrstuvwxyz0123456789"[(state >> (16 + 6 * k)) % 36];
        Settle(slot, kBusy);
        // Shared for deletion, so that the console handler can remove it while it is open.
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE) std::memcpy(g_partial[slot], path.c_str(), path.size() + 1);
        Settle(slot, h != INVALID_HANDLE_VALUE ? kHeld : kFree);
        if (h == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) continue;
        if (h == INVALID_HANDLE_VALUE) {
            why = "cannot create " + shown + ": " + SystemReason(error);
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        FILE* f = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (f == nullptr) {
            why = "cannot create " + shown + ": " + std::strerror(errno);
            if (fd >= 0) _close(fd);
            else CloseHandle(h);
            DiscardPartial(slot, nullptr);
        }
        return f;
    }
    why = "cannot create " + shown + ": " + SystemReason(ERROR_FILE_EXISTS);
    return nullptr;
#else
    // A file the user may not write to stays as it is, as it would when opened
    // for writing, although the directory allows replacing it.
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        why = "cannot create " + shown + ": " + std::strerror(errno);
        return nullptr;
    }
    HoldInterrupts();
    Settle(slot, kBusy);
    std::memcpy(g_partial[slot], stem.c_str(), stem.size());
    std::memcpy(g_partial[slot] + stem.size(), "XXXXXX", 7);
    const int fd = mkstemp(g_partial[slot]);
    const int error = errno;
    Settle(slot, fd >= 0 ? kHeld : kFree);
    ReleaseInterrupts();
    if (fd < 0) {
        why = "cannot create " + shown + ": " + std::strerror(error);
        return nullptr;
    }
    // mkstemp makes the file private; the output gets what a file created the
    // ordinary way would. Failing that, it stays private, which loses nothing.
    fchmod(fd, 0666 & ~g_umask);
    FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        why = "cannot create " + shown + ": " + std::strerror(errno);
        close(fd);
        DiscardPartial(slot, nullptr);
    }
    return f;
#endif
}

void DiscardPartial(int slot, FILE* f) {
    if (f != nullptr) std::fclose(f);
    HoldInterrupts();
    Settle(slot, kBusy);
    RemoveFile(g_partial[slot]);
    Settle(slot, kFree);
    ReleaseInterrupts();
}

bool CommitPartial(int slot, FILE* f, const std::string& target, const std::string& shown, std::string& why) {
    // On the disk before the rename: a crash after it must not find an empty file.
    bool ok = std::fflush(f) == 0;
#if defined(_WIN32)
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    int error = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        DiscardPartial(slot, nullptr);
        why = "writing " + shown + " failed: " + std::strerror(error);
        return false;
    }
    HoldInterrupts();
    Settle(slot, kBusy);
#if defined(_WIN32)
    ok = MoveFileExA(g_partial[slot], target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const std::string reason = ok ? "" : SystemReason(GetLastError());
#else
    ok = std::rename(g_partial[slot], target.c_str()) == 0;
    const std::string reason = ok ? "" : std::strerror(errno);
#endif
    Settle(slot, ok ? kFree : kHeld);
    ReleaseInterrupts();
    if (!ok) {
        DiscardPartial(slot, nullptr);
        why = "cannot create " + shown + ": " + reason;
    }
    return ok;
}

}  // namespace quvdec
