// quvdec: decodes MPEG audio Layer III files to 16-bit WAVE files through the
// quv3 library's public interface, or describes them. Tags around the stream
// (ID3v2, APEv2, ID3v1) are left out: the library gets a temporary copy of the
// bare stream, which is removed afterwards, also when decoding fails or the
// user interrupts.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#define STDERR_FILENO 2
#else
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

// The temporary copy of a tagged file's stream, if one exists: removed at the
// end, on failure and on an interrupt.
char g_temporary[4096];

void RemoveTemporary() {
    if (g_temporary[0] != '\0') std::remove(g_temporary);
    g_temporary[0] = '\0';
}

extern "C" void OnInterrupt(int) {
    // remove() is not async-signal-safe everywhere; unlink is, and Windows'
    // handler runs on its own thread.
#if defined(_WIN32)
    if (g_temporary[0] != '\0') DeleteFileA(g_temporary);
#else
    if (g_temporary[0] != '\0') unlink(g_temporary);
#endif
    _Exit(130);
}

// A new empty file in the system's temporary directory, its name in g_temporary.
FILE* CreateTemporary() {
#if defined(_WIN32)
    char dir[MAX_PATH + 1];
    if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "qvd", 0, g_temporary) == 0) return nullptr;
    return std::fopen(g_temporary, "wb");
#else
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    char name[sizeof g_temporary];
    if (std::snprintf(name, sizeof name, "%s/quvdec-XXXXXX", dir) >= static_cast<int>(sizeof name)) return nullptr;
    const int fd = mkstemp(name);
    if (fd < 0) return nullptr;
    std::memcpy(g_temporary, name, sizeof name);
    return fdopen(fd, "wb");
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
        RemoveTemporary();
        return "";
    }
    return g_temporary;
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

// Decodes or describes one file; 0, or 1 after saying why on standard error.
int ProcessFile(const std::string& input, const Options& o, int index, int count) {
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

    const bool to_stdout = o.output == "-";
    FILE* msg = to_stdout ? stderr : stdout;
    StreamInfo* info = nullptr;
    const int32_t rc = InitQuv(stream.c_str(), &info);
    if (rc != 0) {
        RemoveTemporary();
        std::fprintf(stderr, "quvdec: %s: %s (%d)\n", input.c_str(), DescribeCode(rc), rc);
        return 1;
    }
    const Length length = LengthOf(*info, tags.stream_end - tags.stream_start);
    int result = 0;
    FILE* out = nullptr;
    std::string output;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "quvdec: %s: %s\n", input.c_str(), why.c_str());
        result = 1;
    };
    if (o.info_only) {
        if (count > 1) std::fprintf(msg, "%s:\n", input.c_str());
        Describe(msg, *info, length, tags);
    } else if (o.seek && SeekQuv(o.start) != 0) {
        fail("no frame at or after position " + std::to_string(o.start));
    } else {
        output = !o.output.empty() ? o.output : OutputFor(input, o.dir, o.raw ? ".pcm" : ".wav");
        if (to_stdout) {
#if defined(_WIN32)
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            out = stdout;
        } else {
            out = std::fopen(output.c_str(), "wb");
        }
        if (out == nullptr) fail("cannot create " + output);
    }
    if (out != nullptr) {
        if (!o.quiet) {
            if (count > 1) std::fprintf(msg, "%s:\n", input.c_str());
            Describe(msg, *info, length, tags);
        }
        unsigned char header[44];
        WavHeader(header, info->channels, info->sample_rate, to_stdout ? 0xFFFFFFFFu : 0);
        bool ok = o.raw || std::fwrite(header, 1, 44, out) == 44;
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
                ok = std::fwrite(pcm, 2, written, out) == written;
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
                ok = std::fwrite(pcm, 2, frame_samples, out) == frame_samples;
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
                if (std::fflush(out) == 0 && SeekFile(out, 0) == 0) ok = std::fwrite(header, 1, 44, out) == 44;
            } else {
                ok = SeekFile(out, 0) == 0 && std::fwrite(header, 1, 44, out) == 44;
            }
        }
        ok = (to_stdout ? std::fflush(out) == 0 : std::fclose(out) == 0) && ok;
        if (!ok) {
            fail("writing " + output + " failed");
            if (!to_stdout) std::remove(output.c_str());
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
    RemoveTemporary();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!std::strcmp(a, "--version")) {
            std::printf("quvdec %s\n", QUV3_VERSION);
            return 0;
        } else if (!std::strcmp(a, "--raw")) {
            o.raw = true;
        } else if (!std::strcmp(a, "--info")) {
            o.info_only = true;
        } else if (!std::strcmp(a, "-q") || !std::strcmp(a, "--quiet")) {
            o.quiet = true;
        } else if (!std::strcmp(a, "-o") && i + 1 < argc) {
            o.output = argv[++i];
        } else if (!std::strcmp(a, "-d") && i + 1 < argc) {
            o.dir = argv[++i];
        } else if (!std::strcmp(a, "--start") && i + 1 < argc) {
            char* end = nullptr;
            o.start = std::strtof(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(o.start >= 0.0f && o.start <= 1.0f)) {
                std::fprintf(stderr, "quvdec: --start takes a fraction from 0 to 1\n");
                return 2;
            }
            o.seek = true;
        } else if (a[0] != '-') {
            inputs.push_back(a);
        } else {
            std::fprintf(stderr, "quvdec: unknown option %s\n%s", a, kUsage);
            return 2;
        }
    }
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
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    int failed = 0;
    for (size_t i = 0; i < inputs.size(); ++i)
        failed |= ProcessFile(inputs[i], o, static_cast<int>(i) + 1, static_cast<int>(inputs.size()));
    return failed ? 1 : 0;
}
