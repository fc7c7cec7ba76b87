// quvdec: decodes an MPEG audio Layer III file to a 16-bit WAVE file through
// the quv3 library's public interface, or describes the stream.
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quv3.h"

namespace {

const char* kUsage =
    "usage: quvdec [options] FILE\n"
    "Decodes an MPEG-1 or MPEG-2 LSF Layer III file to a 16-bit PCM WAVE file.\n"
    "\n"
    "  -o OUT.wav        output file (default: FILE with its extension replaced by .wav)\n"
    "  --info            print the stream description and duration; decode nothing\n"
    "  --start FRACTION  seek to FRACTION (0..1) of the stream before decoding\n"
    "  --raw             write headerless 16-bit little-endian PCM exactly as each frame\n"
    "                    delivers it (a frame's channel count may differ from the first's)\n"
    "  -q, --quiet       no progress bar and no summary\n"
    "  -h, --help        this text\n"
    "\n"
    "Exit status: 0 on success, 1 on a decoding or file error, 2 on a usage error.\n";

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

void PutLe(unsigned char* p, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The canonical 44-byte PCM WAVE header.
void WavHeader(unsigned char h[44], int channels, int rate, uint32_t data_bytes) {
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, 36 + data_bytes, 4);
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

void PrintInfo(const StreamInfo& i) {
    const double seconds = i.sample_rate > 0 ? static_cast<double>(i.total_samples) / i.sample_rate : 0.0;
    std::printf("version:           %s\n", i.version == 1 ? "MPEG-1" : "MPEG-2 LSF");
    std::printf("layer:             %d\n", i.layer);
    std::printf("channels:          %d\n", i.channels);
    std::printf("bitrate:           %d kbit/s%s\n", i.bitrate, i.vbr ? " (average, VBR)" : "");
    std::printf("sample rate:       %d Hz\n", i.sample_rate);
    std::printf("bits per sample:   %d\n", i.bits_per_sample);
    std::printf("samples per frame: %d\n", i.samples_per_frame);
    std::printf("total samples:     %d\n", i.total_samples);
    std::printf("vbr:               %d\n", i.vbr);
    std::printf("duration:          %.3f s\n", seconds);
}

std::string DefaultOutput(const std::string& in, const char* ext) {
    const size_t slash = in.find_last_of('/');
    const size_t dot = in.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return in.substr(0, dot) + ext;
    return in + ext;
}

}  // namespace

int main(int argc, char** argv) {
    const char* input = nullptr;
    std::string output;
    bool info_only = false, quiet = false, seek = false, raw = false;
    float start = 0.0f;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!std::strcmp(a, "--raw")) {
            raw = true;
        } else if (!std::strcmp(a, "--info")) {
            info_only = true;
        } else if (!std::strcmp(a, "-q") || !std::strcmp(a, "--quiet")) {
            quiet = true;
        } else if (!std::strcmp(a, "-o") && i + 1 < argc) {
            output = argv[++i];
        } else if (!std::strcmp(a, "--start") && i + 1 < argc) {
            char* end = nullptr;
            start = std::strtof(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(start >= 0.0f && start <= 1.0f)) {
                std::fprintf(stderr, "quvdec: --start takes a fraction from 0 to 1\n");
                return 2;
            }
            seek = true;
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "quvdec: unknown option %s\n%s", a, kUsage);
            return 2;
        } else if (input == nullptr) {
            input = a;
        } else {
            std::fprintf(stderr, "quvdec: more than one input file\n");
            return 2;
        }
    }
    if (input == nullptr) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    StreamInfo* info = nullptr;
    const int32_t rc = InitQuv(input, &info);
    if (rc != 0) {
        std::fprintf(stderr, "quvdec: %s: %s (%d)\n", input, DescribeCode(rc), rc);
        return 1;
    }
    if (info_only) {
        PrintInfo(*info);
        ExitQuv();
        return 0;
    }
    if (output.empty()) output = DefaultOutput(input, raw ? ".pcm" : ".wav");
    if (seek && SeekQuv(start) != 0) {
        std::fprintf(stderr, "quvdec: %s: no frame at or after position %g\n", input, start);
        ExitQuv();
        return 1;
    }

    FILE* out = std::fopen(output.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "quvdec: cannot create %s\n", output.c_str());
        ExitQuv();
        return 1;
    }
    if (!quiet) PrintInfo(*info);
    unsigned char header[44];
    WavHeader(header, info->channels, info->sample_rate, 0);
    bool ok = raw || std::fwrite(header, 1, 44, out) == 44;

    const bool progress = !quiet && isatty(STDERR_FILENO);
    const size_t frame_samples = static_cast<size_t>(info->samples_per_frame) * info->channels;
    const double expected = info->total_samples > 0 ? static_cast<double>(info->total_samples) / info->samples_per_frame : 0;
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
        // A frame may carry another channel count than the first: duplicate a
        // mono frame into both channels, or mix a stereo frame down.
        size_t written = QUV3_PCM_BUFFER_BYTES / 2;
        while (written > 0 && pcm[written - 1] == -32768) --written;
        const int frame_channels = written > static_cast<size_t>(info->samples_per_frame) ? 2 : 1;
        if (raw) {
            ok = std::fwrite(pcm, 2, written, out) == written;
            data_bytes += written * 2;
            continue;
        }
        if (frame_channels != info->channels) {
            const size_t n = static_cast<size_t>(info->samples_per_frame);
            if (info->channels == 2) {
                for (size_t k = n; k-- > 0;) pcm[2 * k] = pcm[2 * k + 1] = pcm[k];
            } else {
                for (size_t k = 0; k < n; ++k) pcm[k] = static_cast<int16_t>((pcm[2 * k] + pcm[2 * k + 1]) / 2);
            }
        }
        for (size_t k = 0; k < frame_samples; ++k) peak = std::max(peak, std::abs(static_cast<int>(pcm[k])));
        ok = std::fwrite(pcm, 2, frame_samples, out) == frame_samples;
        data_bytes += frame_samples * 2;
        if (progress && (frames % 64 == 0 || r != 0) && expected > 0) {
            const double f = std::min(1.0, frames / expected);
            const int bar = static_cast<int>(f * 40);
            std::fprintf(stderr, "\r[%.*s%*s] %3d%%", bar, "########################################", 40 - bar, "",
                         static_cast<int>(f * 100));
        }
    }
    if (progress) std::fputc('\n', stderr);
    ExitQuv();
    const uint32_t bytes32 = data_bytes > 0xFFFFFFD3u ? 0xFFFFFFD3u : static_cast<uint32_t>(data_bytes);
    WavHeader(header, info->channels, info->sample_rate, bytes32);
    if (!raw) ok = ok && std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(header, 1, 44, out) == 44;
    ok = (std::fclose(out) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "quvdec: writing %s failed\n", output.c_str());
        std::remove(output.c_str());
        return 1;
    }
    if (!quiet) {
        const double seconds = info->sample_rate > 0 ? static_cast<double>(frames) * info->samples_per_frame / info->sample_rate : 0;
        const double dbfs = peak > 0 ? 20.0 * std::log10(peak / 32767.0) : -INFINITY;
        std::printf("decoded:           %llu frames, %.3f s, peak %d (%.1f dBFS)\n",
                    static_cast<unsigned long long>(frames), seconds, peak, dbfs);
        std::printf("wrote:             %s\n", output.c_str());
    }
    return 0;
}
