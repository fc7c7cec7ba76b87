// quvdec: decodes MPEG audio Layer III files to 16-bit WAVE files through the
// quv3 library's public interface, or describes them. Tags around the stream
// (ID3v2, APEv2, ID3v1) are left out: the library gets a temporary copy of the
// bare stream, which is removed afterwards, also when decoding fails or the
// user interrupts.
//
// It destroys no file. An output that would be one of the inputs, or that two
// inputs would share, is refused before anything is decoded; an output is
// written to a temporary file next to it, which one rename puts in its place
// once the last frame is written and which goes on any failure or interrupt.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#define STDERR_FILENO 2
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quv3.h"
#include "tools/stream_tags.h"

#ifndef QUV3_VERSION
#define QUV3_VERSION "unknown"
#endif

namespace {

const char* kUsage =
    "usage: quvdec [options] FILE...\n"
    "Decodes MPEG-1 and MPEG-2 LSF Layer III files to 16-bit PCM WAVE files, each\n"
    "next to its input (FILE with its extension replaced by .wav) unless -o or -d\n"
    "says otherwise. ID3v2, APEv2 and ID3v1 tags around the stream are skipped.\n"
    "\n"
    "  -o OUT            output file, for a single FILE; - writes to standard output,\n"
    "                    with the size fields of the WAVE header set to \"unknown\"\n"
    "                    (0xFFFFFFFF) unless standard output is a file that can be\n"
    "                    rewound; messages then go to standard error\n"
    "  -d DIR            write the outputs into DIR\n"
    "  --info            print the stream description, duration and tags; decode nothing\n"
    "  --start FRACTION  seek to FRACTION (0..1) of the stream before decoding\n"
    "  --raw             write headerless 16-bit little-endian PCM exactly as each frame\n"
    "                    delivers it (a frame's channel count may differ from the first's)\n"
    "  -q, --quiet       no description, progress bar or summary\n"
    "  --version         the version\n"
    "  -h, --help        this text\n"
    "  --                the arguments after it are files, also those starting with -\n"
    "\n"
    "An output file appears whole or not at all: it is written to a temporary file\n"
    "next to it, which replaces the file of its name only once complete, so that an\n"
    "interrupted or failed decode leaves an existing file as it was (standard output\n"
    "is written as the decode goes). An input is never written over: an output that\n"
    "would be one of the inputs, however it is spelled, or that two inputs would\n"
    "share, is refused before anything is decoded.\n"
    "\n"
    "Exit status: 0 when every file decoded, 1 when any failed (one line each on\n"
    "standard error), 2 on a usage error.\n";

const char* DescribeCode(int32_t code) {
    switch (code) {
        case -1: return "no MPEG audio frame header at the start of the data";
        case -2: return "MPEG 2.5 streams are not supported";
        case -4: return "no further frame";
        case -5: return "cannot open file";
        case -6: return "not an MPEG-1/2 Layer III stream";
        default: return "unknown error";
    }
}

// ------------------------------------------------------------ files

int64_t FileSize(FILE* f) {
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    return _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    return ftello(f);
#endif
}

int SeekFile(FILE* f, int64_t offset) {
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int64_t ReadAt(void* context, int64_t offset, uint8_t* out, int64_t n) {
    FILE* f = static_cast<FILE*>(context);
    if (SeekFile(f, offset) != 0) return 0;
    return static_cast<int64_t>(std::fread(out, 1, static_cast<size_t>(n), f));
}

// What a path names, for telling two spellings of one file apart from two
// files: the device and inode, or on Windows the volume serial number and the
// file index.
struct FileId {
    bool exists = false;
    bool directory = false;
    uint64_t volume = 0, index = 0;
};

bool SameFile(const FileId& a, const FileId& b) {
    return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}

#if defined(_WIN32)
FileId IdOfHandle(HANDLE h) {
    FileId id;
    BY_HANDLE_FILE_INFORMATION i;
    if (!GetFileInformationByHandle(h, &i)) return id;
    id.exists = true;
    id.directory = (i.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    id.volume = i.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(i.nFileIndexHigh) << 32) | i.nFileIndexLow;
    return id;
}

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

FileId IdOfStandardOutput() {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
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
    id.volume = static_cast<uint64_t>(s.st_dev);
    id.index = static_cast<uint64_t>(s.st_ino);
    return id;
}

FileId IdOf(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? IdOfStat(s) : FileId{};
}

FileId IdOfStandardOutput() {
    struct stat s;
    return fstat(STDOUT_FILENO, &s) == 0 && S_ISREG(s.st_mode) ? IdOfStat(s) : FileId{};
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

// Where an output lands, the same for every spelling: the file itself when it
// exists, otherwise its directory and name (the path as given when not even
// the directory exists, as nothing can be created there).
struct OutputKey {
    FileId id;
    std::string name;
};

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

// ------------------------------------------------------------ temporary files and interrupts

// The temporary files there are at a moment: the copy of a tagged file's
// stream, in the system's temporary directory, and the output being written,
// next to its target. The interrupt handler removes both. A name is set and
// cleared, and its file created, renamed or removed, only while interrupts are
// held off, so the handler never sees half a name nor a file without its name.
char g_copy[4096];
char g_partial[4096];

#if defined(_WIN32)
CRITICAL_SECTION g_names_lock;  // the console handler runs on a thread of its own

void HoldInterrupts() { EnterCriticalSection(&g_names_lock); }
void ReleaseInterrupts() { LeaveCriticalSection(&g_names_lock); }

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    EnterCriticalSection(&g_names_lock);  // never left: the process ends here
    // The partial output was opened for sharing deletion, so it goes when the
    // process ends and closes it.
    if (g_copy[0] != '\0') DeleteFileA(g_copy);
    if (g_partial[0] != '\0') DeleteFileA(g_partial);
    _exit(130);
}

void InstallInterruptHandlers() {
    InitializeCriticalSection(&g_names_lock);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveFile(const char* path) { DeleteFileA(path); }
#else
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kInterrupts) sigaddset(&set, s);
    return set;
}

void HoldInterrupts() {
    const sigset_t set = InterruptSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseInterrupts() {
    const sigset_t set = InterruptSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

extern "C" void OnInterrupt(int signal_number) {
    // Async-signal-safe calls only.
    if (g_copy[0] != '\0') unlink(g_copy);
    if (g_partial[0] != '\0') unlink(g_partial);
    // Ended by the signal itself, so that a shell running quvdec in a loop
    // stops too.
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}

void InstallInterruptHandlers() {
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
}

void RemoveFile(const char* path) { unlink(path); }
#endif

// Removes a temporary file, if there is one, and forgets its name.
void RemoveTemporary(char (&name)[4096]) {
    HoldInterrupts();
    if (name[0] != '\0') RemoveFile(name);
    name[0] = '\0';
    ReleaseInterrupts();
}

// A new empty file in the system's temporary directory, its name in g_copy.
FILE* CreateTemporary() {
#if defined(_WIN32)
    char dir[MAX_PATH + 1];
    if (GetTempPathA(sizeof dir, dir) == 0) return nullptr;
    HoldInterrupts();
    const bool made = GetTempFileNameA(dir, "qvd", 0, g_copy) != 0;
    if (!made) g_copy[0] = '\0';
    ReleaseInterrupts();
    FILE* f = made ? std::fopen(g_copy, "wb") : nullptr;
    if (f == nullptr) RemoveTemporary(g_copy);
    return f;
#else
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    char name[sizeof g_copy];
    if (std::snprintf(name, sizeof name, "%s/quvdec-XXXXXX", dir) >= static_cast<int>(sizeof name)) return nullptr;
    HoldInterrupts();
    const int fd = mkstemp(name);
    if (fd >= 0) std::memcpy(g_copy, name, sizeof name);
    ReleaseInterrupts();
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        RemoveTemporary(g_copy);
    }
    return f;
#endif
}

// The bytes from..to of in, copied to a temporary file; its path, or "".
std::string CopyStream(FILE* in, int64_t from, int64_t to) {
    FILE* out = CreateTemporary();
    if (out == nullptr) return "";
    bool ok = SeekFile(in, from) == 0;
    std::vector<char> buffer(1 << 16);
    for (int64_t left = to - from; ok && left > 0;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        const size_t got = std::fread(buffer.data(), 1, want, in);
        ok = got == want && std::fwrite(buffer.data(), 1, got, out) == got;
        left -= static_cast<int64_t>(got);
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        RemoveTemporary(g_copy);
        return "";
    }
    return g_copy;
}

// ------------------------------------------------------------ output

void PutLe(unsigned char* p, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The canonical 44-byte PCM WAVE header; data_bytes 0xFFFFFFFF for "unknown".
void WavHeader(unsigned char h[44], int channels, int rate, uint32_t data_bytes) {
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, data_bytes == 0xFFFFFFFFu ? 0xFFFFFFFFu : 36 + data_bytes, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, 1, 2);
    PutLe(h + 22, static_cast<uint32_t>(channels), 2);
    PutLe(h + 24, static_cast<uint32_t>(rate), 4);
    PutLe(h + 28, static_cast<uint32_t>(rate * channels * 2), 4);
    PutLe(h + 32, static_cast<uint32_t>(channels * 2), 2);
    PutLe(h + 34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    PutLe(h + 40, data_bytes, 4);
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

#if !defined(_WIN32)
mode_t g_umask = 022;  // read at the start: what a file created the ordinary way is denied
#endif

// A file about to be written through a link is written where the link points,
// as opening it would, so that the link stays.
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

// A new file in target's own directory for the output to be written to, its
// name in g_partial, so that one rename on the same file system puts it in
// place; nullptr after saying why in why, naming the output as shown.
FILE* CreatePartial(const std::string& target, const std::string& shown, std::string& why) {
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
    if (stem.size() + 6 >= sizeof g_partial) {
        why = "cannot create " + shown + ": " + std::strerror(ENAMETOOLONG);
        return nullptr;
    }
#if defined(_WIN32)
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint64_t state = static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        std::string path = stem;
        for (int k = 0; k < 6; ++k) path += "abcdefghijklmnopqrstuvwxyz0123456789"[(state >> (16 + 6 * k)) % 36];
        HoldInterrupts();
        // Shared for deletion, so that the console handler can remove it while it is open.
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE) std::memcpy(g_partial, path.c_str(), path.size() + 1);
        ReleaseInterrupts();
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
            RemoveTemporary(g_partial);
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
    std::string path = stem + "XXXXXX";
    HoldInterrupts();
    const int fd = mkstemp(path.data());
    const int error = errno;
    if (fd >= 0) std::memcpy(g_partial, path.c_str(), path.size() + 1);
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
        RemoveTemporary(g_partial);
    }
    return f;
#endif
}

// Puts the complete output in the target's place, in one step that either
// replaces the target or leaves it as it was; false after removing the
// temporary file and saying why.
bool CommitPartial(FILE* f, const std::string& target, const std::string& shown, std::string& why) {
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
        RemoveTemporary(g_partial);
        why = "writing " + shown + " failed: " + std::strerror(error);
        return false;
    }
    HoldInterrupts();
#if defined(_WIN32)
    ok = MoveFileExA(g_partial, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const std::string reason = ok ? "" : SystemReason(GetLastError());
#else
    ok = std::rename(g_partial, target.c_str()) == 0;
    const std::string reason = ok ? "" : std::strerror(errno);
#endif
    if (ok) g_partial[0] = '\0';
    ReleaseInterrupts();
    if (!ok) {
        RemoveTemporary(g_partial);
        why = "cannot create " + shown + ": " + reason;
    }
    return ok;
}

// ------------------------------------------------------------ one file

struct Options {
    std::string output;  // -o, for one input
    std::string dir;  // -d
    bool info_only = false, quiet = false, seek = false, raw = false;
    float start = 0.0f;
};

// What the description says of the stream's length. A count the library caps
// at 2^31 - 1 samples does not give it: a constant-bitrate stream's length then
// comes from its size and bitrate, and otherwise it is at least the cap.
struct Length {
    double seconds = 0;
    bool at_least = false;
    double frames = 0;  // expected, for the progress bar; 0 when unknown
    double frame_bytes = 0;  // average; the progress bar follows the bytes when the count is capped
};

Length LengthOf(const StreamInfo& i, int64_t stream_bytes) {
    Length l;
    if (i.sample_rate <= 0 || i.samples_per_frame <= 0) return l;
    l.seconds = static_cast<double>(i.total_samples) / i.sample_rate;
    l.frames = static_cast<double>(i.total_samples) / i.samples_per_frame;
    if (i.total_samples == 0x7FFFFFFF && i.bitrate > 0) {
        l.frame_bytes = i.bitrate * 125.0 * i.samples_per_frame / i.sample_rate;
        l.frames = stream_bytes / l.frame_bytes;
        if (i.vbr) {
            l.at_least = true;
        } else {
            l.seconds = stream_bytes / (i.bitrate * 125.0);
        }
    }
    return l;
}

void Describe(FILE* to, const StreamInfo& i, const Length& length, const quvdec::StreamTags& tags) {
    std::fprintf(to, "version:           %s\n", i.version == 1 ? "MPEG-1" : "MPEG-2 LSF");
    std::fprintf(to, "layer:             %d\n", i.layer);
    std::fprintf(to, "channels:          %d\n", i.channels);
    std::fprintf(to, "bitrate:           %d kbit/s%s\n", i.bitrate, i.vbr ? " (average, VBR)" : "");
    std::fprintf(to, "sample rate:       %d Hz\n", i.sample_rate);
    std::fprintf(to, "bits per sample:   %d\n", i.bits_per_sample);
    std::fprintf(to, "samples per frame: %d\n", i.samples_per_frame);
    std::fprintf(to, "total samples:     %d%s\n", i.total_samples, i.total_samples == 0x7FFFFFFF ? " (capped)" : "");
    std::fprintf(to, "vbr:               %d\n", i.vbr);
    std::fprintf(to, "duration:          %s%.3f s\n", length.at_least ? "at least " : "", length.seconds);
    if (!tags.Any()) {
        std::fprintf(to, "tags:              none\n");
        return;
    }
    if (tags.id3v2_bytes) std::fprintf(to, "tags:              ID3v2, %lld bytes at the start\n", static_cast<long long>(tags.id3v2_bytes));
    if (tags.ape_bytes) std::fprintf(to, "tags:              APEv2, %lld bytes at the end\n", static_cast<long long>(tags.ape_bytes));
    if (tags.id3v1_bytes) std::fprintf(to, "tags:              ID3v1, 128 bytes at the end\n");
}

void Progress(int index, int count, double fraction) {
    const int bar = static_cast<int>(fraction * 40);
    if (count > 1) std::fprintf(stderr, "\r[%d/%d] ", index, count);
    else std::fputc('\r', stderr);
    std::fprintf(stderr, "[%.*s%*s] %3d%%", bar, "########################################", 40 - bar, "",
                 static_cast<int>(fraction * 100));
}

// One input and where its output goes.
struct Job {
    std::string input;
    std::string output;  // empty with --info; "-" for standard output
    FileId input_id;
    bool refused = false;
};

// Refuses, before anything is decoded, each input whose output would destroy
// a file: one of the inputs (however spelled, or through another link), the
// output of another input, or a directory; and an input that is a directory.
// One line each; 1 when any was refused.
int RefuseDestructiveOutputs(std::vector<Job>& jobs, const Options& o) {
    const char* hint = !o.output.empty() ? "" : o.dir.empty() ? " (use -o or -d)" : " (use another -d)";
    const FileId standard_output = o.output == "-" ? IdOfStandardOutput() : FileId{};
    std::vector<OutputKey> keys(jobs.size());
    int refused = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        Job& j = jobs[i];
        auto refuse = [&](const std::string& why) {
            if (!j.refused) std::fprintf(stderr, "quvdec: %s: %s\n", j.input.c_str(), why.c_str());
            j.refused = true;
            refused = 1;
        };
        if (j.input_id.directory) refuse("is a directory");
        if (j.output.empty()) continue;
        const FileId out = j.output == "-" ? standard_output : IdOf(j.output);
        for (const Job& k : jobs) {
            if (!SameFile(out, k.input_id)) continue;
            const std::string other = &k != &j ? " " + k.input : "";
            if (j.output == "-") refuse("standard output is the input" + other);
            else if (j.output == j.input) refuse(std::string("the output would overwrite the input") + hint);
            else refuse("the output " + j.output + " would overwrite the input" + other + hint);
        }
        if (j.output == "-") continue;
        if (out.directory) refuse("cannot create " + j.output + ": " + std::strerror(EISDIR));
        keys[i] = KeyOf(j.output);
    }
    // Two inputs with one output: the second would replace the first's.
    for (size_t i = 0; i < jobs.size(); ++i) {
        for (size_t k = 0; k < jobs.size(); ++k) {
            const Job &a = jobs[i], &b = jobs[k];
            if (k == i || a.output.empty() || a.output == "-" || a.input_id.directory || b.input_id.directory) continue;
            if (!SameOutput(keys[i], keys[k])) continue;
            if (!a.refused) std::fprintf(stderr, "quvdec: %s: %s has the same output, %s\n", a.input.c_str(),
                                         b.input.c_str(), a.output.c_str());
            jobs[i].refused = true;
            refused = 1;
        }
    }
    return refused;
}

// Decodes or describes one file; 0, or 1 after saying why on standard error.
int ProcessFile(const Job& job, const Options& o, int index, int count) {
    const std::string& input = job.input;
    FILE* in = std::fopen(input.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "quvdec: %s: %s (%d)\n", input.c_str(), DescribeCode(-5), -5);
        return 1;
    }
    const int64_t size = FileSize(in);
    const quvdec::StreamTags tags = quvdec::FindStreamTags({size, in, ReadAt});
    std::string stream = input;
    if (tags.Any()) {
        stream = CopyStream(in, tags.stream_start, tags.stream_end);
        if (stream.empty()) {
            std::fclose(in);
            std::fprintf(stderr, "quvdec: %s: cannot copy the stream to a temporary file\n", input.c_str());
            return 1;
        }
    }
    std::fclose(in);

    const bool to_stdout = job.output == "-";
    FILE* msg = to_stdout ? stderr : stdout;
    StreamInfo* info = nullptr;
    const int32_t rc = InitQuv(stream.c_str(), &info);
    if (rc != 0) {
        RemoveTemporary(g_copy);
        std::fprintf(stderr, "quvdec: %s: %s (%d)\n", input.c_str(), DescribeCode(rc), rc);
        return 1;
    }
    const Length length = LengthOf(*info, tags.stream_end - tags.stream_start);
    int result = 0;
    FILE* out = nullptr;
    const std::string& output = job.output;
    const std::string target = to_stdout || o.info_only ? output : WherePathLeads(output);
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "quvdec: %s: %s\n", input.c_str(), why.c_str());
        result = 1;
    };
    if (o.info_only) {
        if (count > 1) std::fprintf(msg, "%s:\n", input.c_str());
        Describe(msg, *info, length, tags);
    } else if (o.seek && SeekQuv(o.start) != 0) {
        fail("no frame at or after position " + std::to_string(o.start));
    } else if (to_stdout) {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        out = stdout;
    } else {
        std::string why;
        out = CreatePartial(target, output, why);
        if (out == nullptr) fail(why);
    }
    if (out != nullptr) {
        if (!o.quiet) {
            if (count > 1) std::fprintf(msg, "%s:\n", input.c_str());
            Describe(msg, *info, length, tags);
        }
        int write_error = 0;
        auto put = [&](const void* data, size_t item, size_t n) {
            if (std::fwrite(data, item, n, out) == n) return true;
            write_error = errno;
            return false;
        };
        unsigned char header[44];
        WavHeader(header, info->channels, info->sample_rate, to_stdout ? 0xFFFFFFFFu : 0);
        bool ok = o.raw || put(header, 1, 44);
        const bool progress = !o.quiet && isatty(STDERR_FILENO);
        const size_t frame_samples = static_cast<size_t>(info->samples_per_frame) * info->channels;
        uint64_t frames = 0, data_bytes = 0;
        int peak = 0;
        int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
        for (int32_t r = 0; r == 0 && ok;) {
            // The library never outputs -32768, so a buffer still holding it was not
            // written: the first frame of a stream may only feed the bit reservoir.
            for (int16_t& v : pcm) v = -32768;
            r = Quv(pcm);
            if (pcm[0] == -32768) continue;
            ++frames;
            size_t written = QUV3_PCM_BUFFER_BYTES / 2;
            while (written > 0 && pcm[written - 1] == -32768) --written;
            for (size_t k = 0; k < written; ++k) peak = std::max(peak, std::abs(static_cast<int>(pcm[k])));
            if (o.raw) {
                ok = put(pcm, 2, written);
                data_bytes += written * 2;
            } else {
                // A frame may carry another channel count than the first: duplicate a
                // mono frame into both channels, or mix a stereo frame down.
                const int frame_channels = written > static_cast<size_t>(info->samples_per_frame) ? 2 : 1;
                if (frame_channels != info->channels) {
                    const size_t n = static_cast<size_t>(info->samples_per_frame);
                    if (info->channels == 2) {
                        for (size_t k = n; k-- > 0;) pcm[2 * k] = pcm[2 * k + 1] = pcm[k];
                    } else {
                        for (size_t k = 0; k < n; ++k) pcm[k] = static_cast<int16_t>((pcm[2 * k] + pcm[2 * k + 1]) / 2);
                    }
                }
                ok = put(pcm, 2, frame_samples);
                data_bytes += frame_samples * 2;
            }
            if (progress && (frames % 64 == 0 || r != 0) && length.frames > 0)
                Progress(index, count, std::min(1.0, frames / length.frames));
        }
        if (progress) std::fputc('\n', stderr);
        // The header's sizes, where the output can be rewound (not a pipe).
        const uint32_t bytes32 = data_bytes > 0xFFFFFFD3u ? 0xFFFFFFD3u : static_cast<uint32_t>(data_bytes);
        WavHeader(header, info->channels, info->sample_rate, bytes32);
        if (!o.raw && ok) {
            if (to_stdout) {
                if (std::fflush(out) == 0 && SeekFile(out, 0) == 0) ok = put(header, 1, 44);
            } else if (SeekFile(out, 0) != 0) {
                ok = false;
                write_error = errno;
            } else {
                ok = put(header, 1, 44);
            }
        }
        std::string why;
        if (to_stdout) {
            if (std::fflush(out) != 0 && ok) {
                ok = false;
                write_error = errno;
            }
            if (!ok) why = std::string("writing standard output failed: ") + std::strerror(write_error);
        } else if (!ok) {
            std::fclose(out);
            RemoveTemporary(g_partial);
            why = "writing " + output + " failed: " + std::strerror(write_error);
        } else {
            ok = CommitPartial(out, target, output, why);
        }
        if (!ok) {
            fail(why);
        } else if (!o.quiet) {
            const double seconds =
                info->sample_rate > 0 ? static_cast<double>(frames) * info->samples_per_frame / info->sample_rate : 0;
            const double dbfs = peak > 0 ? 20.0 * std::log10(peak / 32767.0) : -INFINITY;
            std::fprintf(msg, "decoded:           %llu frames, %.3f s, peak %d (%.1f dBFS)\n",
                         static_cast<unsigned long long>(frames), seconds, peak, dbfs);
            std::fprintf(msg, "wrote:             %s\n", to_stdout ? "standard output" : output.c_str());
        }
    }
    ExitQuv();
    RemoveTemporary(g_copy);
    return result;
}

// ------------------------------------------------------------ the command line

int UsageError(const std::string& what) {
    std::fprintf(stderr, "quvdec: %s (see quvdec --help)\n", what.c_str());
    return 2;
}

// The short options as getopt spells them, and each long one with the letter it
// is handled by.
const char* kShortOptions = "o:d:qh";

struct LongOption {
    const char* name;
    char id;
    bool takes_value;
};

constexpr LongOption kLongOptions[] = {
    {"help", 'h', false}, {"quiet", 'q', false}, {"version", 'V', false},
    {"info", 'I', false}, {"raw", 'R', false},   {"start", 'S', true},
};

// Takes one option into o; -1 to go on, else the exit status to end with.
int ApplyOption(char id, const char* value, Options& o) {
    switch (id) {
        case 'h': std::fputs(kUsage, stdout); return 0;
        case 'V': std::printf("quvdec %s\n", QUV3_VERSION); return 0;
        case 'q': o.quiet = true; return -1;
        case 'I': o.info_only = true; return -1;
        case 'R': o.raw = true; return -1;
        case 'o':
        case 'd':
            if (*value == '\0') return UsageError(std::string("option -") + id + " needs a value");
            (id == 'o' ? o.output : o.dir) = value;
            return -1;
        case 'S': {
            char* end = nullptr;
            o.start = std::strtof(value, &end);
            if (end == value || *end != '\0' || !(o.start >= 0.0f && o.start <= 1.0f)) {
                std::fprintf(stderr, "quvdec: --start takes a fraction from 0 to 1\n");
                return 2;
            }
            o.seek = true;
            return -1;
        }
        default: return -1;
    }
}

// Reads the command line as getopt_long does, here so that every build has the
// same: options and files in any order, -qo OUT, -oOUT, --start=X or --start X,
// a unique beginning of a long option, and -- before files whose names start
// with '-'. -1 to go on, else the exit status to end with.
int ParseCommandLine(int argc, char** argv, Options& o, std::vector<std::string>& inputs) {
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (only_files || a[0] != '-' || a[1] == '\0') {
            inputs.push_back(a);
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            only_files = true;
            continue;
        }
        int status = -1;
        if (a[1] == '-') {
            const char* name = a + 2;
            const char* equals = std::strchr(name, '=');
            const size_t length = equals != nullptr ? static_cast<size_t>(equals - name) : std::strlen(name);
            const std::string given = std::string("--") + std::string(name, length);
            const LongOption* found = nullptr;
            int matches = 0;
            for (const LongOption& l : kLongOptions) {
                if (length == 0 || std::strncmp(l.name, name, length) != 0) continue;
                found = &l;
                ++matches;
                if (std::strlen(l.name) == length) {
                    matches = 1;
                    break;
                }
            }
            if (matches == 0) return UsageError("unknown option " + given);
            if (matches > 1) return UsageError("option " + given + " is ambiguous");
            const char* value = nullptr;
            if (found->takes_value) {
                value = equals != nullptr ? equals + 1 : i + 1 < argc ? argv[++i] : nullptr;
                if (value == nullptr) return UsageError(std::string("option --") + found->name + " needs a value");
            } else if (equals != nullptr) {
                return UsageError(std::string("option --") + found->name + " takes no value");
            }
            status = ApplyOption(found->id, value, o);
        } else {
            for (const char* p = a + 1; *p != '\0' && status < 0; ++p) {
                const char* letter = *p == ':' ? nullptr : std::strchr(kShortOptions, *p);
                if (letter == nullptr) return UsageError(std::string("unknown option -") + *p);
                if (letter[1] != ':') {
                    status = ApplyOption(*p, nullptr, o);
                    continue;
                }
                // The rest of the word is the value, or else the next word.
                const char* value = p[1] != '\0' ? p + 1 : i + 1 < argc ? argv[++i] : nullptr;
                if (value == nullptr) return UsageError(std::string("option -") + *p + " needs a value");
                status = ApplyOption(*p, value, o);
                break;
            }
        }
        if (status >= 0) return status;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> inputs;
    const int status = ParseCommandLine(argc, argv, o, inputs);
    if (status >= 0) return status;
    if (inputs.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!o.output.empty() && inputs.size() > 1) {
        std::fprintf(stderr, "quvdec: -o takes a single input file; use -d for several\n");
        return 2;
    }
    if (!o.output.empty() && !o.dir.empty()) {
        std::fprintf(stderr, "quvdec: -o and -d exclude each other\n");
        return 2;
    }
#if !defined(_WIN32)
    g_umask = umask(0);
    umask(g_umask);
#endif
    InstallInterruptHandlers();
    std::vector<Job> jobs;
    for (const std::string& input : inputs) {
        Job j;
        j.input = input;
        if (!o.info_only) j.output = !o.output.empty() ? o.output : OutputFor(input, o.dir, o.raw ? ".pcm" : ".wav");
        j.input_id = IdOf(input);
        jobs.push_back(j);
    }
    int failed = RefuseDestructiveOutputs(jobs, o);
    for (size_t i = 0; i < jobs.size(); ++i)
        if (!jobs[i].refused) failed |= ProcessFile(jobs[i], o, static_cast<int>(i) + 1, static_cast<int>(jobs.size()));
    return failed ? 1 : 0;
}
