#include "quvdec/decode.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "quv3_decoder.h"
#include "quvdec/resample.h"

namespace quvdec {
namespace {

const char* DescribeCode(int32_t code) {
    switch (code) {
        case QUV3_NO_SYNC: return "no MPEG audio frame header at the start of the data";
        case QUV3_END: return "no further frame";
        case QUV3_CANNOT_OPEN: return "cannot open file";
        case QUV3_NOT_LAYER3: return "not an MPEG Layer III stream";
        case QUV3_CANNOT_SEEK: return "the input cannot seek";
        default: return "unknown error";
    }
}

// ------------------------------------------------------------ the input

// A decoder of the library on memory of its own.
struct Decoder {
    std::unique_ptr<unsigned char[]> memory;
    quv3_decoder* d = nullptr;
    int64_t input_start = 0;  // where standard input was when opened: offsets count from there
    Decoder() {
        const size_t align = quv3_decoder_alignment(), size = quv3_decoder_size();
        memory.reset(new unsigned char[size + align]);
        const auto at = reinterpret_cast<uintptr_t>(memory.get());
        d = quv3_decoder_init(memory.get() + (align - at % align) % align, size);
    }
    ~Decoder() { quv3_close(d); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

// Standard input through the library's reader: a pipe is read as it comes; a
// file redirected to it can seek too, within what is left of it (a caller may
// have read its beginning). user: the decoder's input_start.
int64_t ReadStandardInput(void*, void* buffer, int64_t n) {
    for (;;) {
#if defined(_WIN32)
        const int r = _read(0, buffer, static_cast<unsigned>(n > (1 << 30) ? (1 << 30) : n));
#else
        const ssize_t r = read(STDIN_FILENO, buffer, static_cast<size_t>(n));
#endif
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

int32_t SeekStandardInput(void* user, int64_t offset) {
    offset += *static_cast<const int64_t*>(user);
#if defined(_WIN32)
    return _lseeki64(0, offset, SEEK_SET) < 0 ? -1 : 0;
#else
    return lseek(STDIN_FILENO, static_cast<off_t>(offset), SEEK_SET) < 0 ? -1 : 0;
#endif
}

int64_t SizeOfStandardInput(void* user) {
    const int64_t start = *static_cast<const int64_t*>(user);
#if defined(_WIN32)
    const int64_t here = _telli64(0);
    const int64_t end = _lseeki64(0, 0, SEEK_END);
    _lseeki64(0, here, SEEK_SET);
    return end < 0 ? -1 : end - start;
#else
    struct stat s;
    return fstat(STDIN_FILENO, &s) == 0 && S_ISREG(s.st_mode) ? static_cast<int64_t>(s.st_size) - start : -1;
#endif
}

int32_t OpenInput(const Job& job, const Options& o, Decoder& dec) {
    const uint32_t flags = o.gapless ? QUV3_OPEN_GAPLESS : 0;
    if (job.input != "-") return quv3_open_file(dec.d, LibraryPath(job.input).c_str(), flags);
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const bool file = IdOfStandardInput().regular;
    if (file) {
#if defined(_WIN32)
        dec.input_start = std::max<int64_t>(_telli64(0), 0);
#else
        dec.input_start = std::max<int64_t>(lseek(STDIN_FILENO, 0, SEEK_CUR), 0);
#endif
    }
    const quv3_reader reader{ReadStandardInput, file ? SeekStandardInput : nullptr,
                             file ? SizeOfStandardInput : nullptr, &dec.input_start};
    return quv3_open_reader(dec.d, &reader, flags);
}

// ------------------------------------------------------------ the description

const char* VersionName(int32_t v) { return v == 1 ? "MPEG-1" : v == 2 ? "MPEG-2 LSF" : "MPEG 2.5"; }

void DescribeTagRange(Messages& m, const char* kind, const quv3_range& r, const char* where) {
    if (r.bytes > 0) m.Info("tags:              %s, %lld bytes %s\n", kind, static_cast<long long>(r.bytes), where);
}

void Describe(Messages& m, const quv3_info& i, const quv3_tags& tags) {
    m.Info("version:           %s\n", VersionName(i.version));
    m.Info("layer:             %d\n", i.layer);
    m.Info("channels:          %d\n", i.channels);
    m.Info("bitrate:           %d kbit/s%s\n", i.bitrate, i.vbr ? " (average, VBR)" : "");
    m.Info("sample rate:       %d Hz\n", i.sample_rate);
    m.Info("samples per frame: %d\n", i.samples_per_frame);
    const double seconds = i.sample_rate > 0 ? static_cast<double>(i.total_samples) / i.sample_rate : 0;
    switch (i.total_kind) {
        case QUV3_TOTAL_UNKNOWN:
            m.Info("total samples:     unknown%s\n", i.seekable ? "" : " (a stream is known only once read to its end)");
            m.Info("duration:          unknown\n");
            break;
        case QUV3_TOTAL_ESTIMATED:
            m.Info("total samples:     about %lld (estimated from the size and the bitrate)\n",
                   static_cast<long long>(i.total_samples));
            m.Info("duration:          about %.3f s\n", seconds);
            break;
        default:
            m.Info("total samples:     %lld\n", static_cast<long long>(i.total_samples));
            m.Info("duration:          %.3f s\n", seconds);
    }
    m.Info("vbr:               %d\n", i.vbr);
    if (i.gapless) {
        m.Info("gapless:           yes (encoder delay %d, padding %d samples)\n", i.encoder_delay, i.encoder_padding);
    } else if (i.encoder_delay >= 0) {
        m.Info("gapless:           no (encoder delay %d, padding %d samples kept)\n", i.encoder_delay,
               i.encoder_padding);
    } else {
        m.Info("gapless:           no (the stream does not give its encoder delay)\n");
    }
    if (i.id3v2.bytes + i.ape.bytes + i.id3v1.bytes == 0) m.Info("tags:              none\n");
    DescribeTagRange(m, "ID3v2", i.id3v2, "at the start");
    DescribeTagRange(m, "APEv2", i.ape, "at the end");
    DescribeTagRange(m, "ID3v1", i.id3v1, "at the end");
    const std::pair<const char*, const char*> fields[] = {
        {"title", tags.title}, {"artist", tags.artist}, {"album", tags.album},     {"year", tags.year},
        {"track", tags.track}, {"genre", tags.genre},   {"comment", tags.comment},
    };
    for (const auto& [name, value] : fields)
        if (value[0] != '\0') m.Info("%-19s%s\n", (std::string(name) + ":").c_str(), value);
    if (!i.seekable)
        m.Info("(read from a stream: %s)\n", i.total_kind == QUV3_TOTAL_UNKNOWN
                                                ? "its length and any tags at its end are known only once it is read"
                                                : "any tags at its end are known only once it is read");
}

// ------------------------------------------------------------ where to start and stop

// The samples of the stream to deliver: from first, count of them (-1: to the
// end); a start the decoder could not seek to is reached by decoding on.
struct Span {
    int64_t first = 0;
    int64_t count = -1;
    int64_t skip = 0;
};

bool PlaceStart(Decoder& dec, const Options& o, const quv3_info& info, Span& span, std::string& why) {
    if (o.start_fraction >= 0) {
        const int32_t r = quv3_seek_fraction(dec.d, o.start_fraction);
        if (r == QUV3_CANNOT_SEEK) {
            why = "--start-fraction needs an input that can seek";
            return false;
        }
        if (r != 0) {
            why = "no frame at or after " + std::to_string(o.start_fraction) + " of the file";
            return false;
        }
        span.first = quv3_tell(dec.d);
    } else if (o.start_seconds > 0) {
        span.first = std::llround(o.start_seconds * info.sample_rate);
        const int32_t r = quv3_seek_sample(dec.d, span.first);
        if (r == QUV3_CANNOT_SEEK) {
            span.skip = span.first;  // a stream: decoded from its start, the samples before dropped
        } else if (r != 0) {
            why = "the stream ends before " + std::to_string(o.start_seconds) + " s";
            return false;
        }
    }
    if (o.length_seconds >= 0) span.count = std::llround(o.length_seconds * info.sample_rate);
    return true;
}

// ------------------------------------------------------------ the output

// Where the samples go, packed into the output format: the output file as
// they come, or, for a part of a stream decoded beside others, blocks kept in
// memory and written at the part's own place in the file.
struct Sink {
    FILE* f = nullptr;
    SampleFormat format = SampleFormat::kS16;
    int channels = 0;  // of the output
    uint64_t bytes = 0;  // of samples written
    double peak = 0;  // largest magnitude written, 1.0 is full scale
    int write_error = 0;
    bool ok = true;
    int64_t base = 0;  // where the header went; -1 when it cannot be rewritten there
    std::mutex* shared = nullptr;  // set for a part: the file's lock
    int64_t at = 0;  // a part's next place in the file
    std::vector<uint8_t> packed, kept;

    void Store(const uint8_t* data, size_t n) {
        if (n == 0) return;  // an empty block may have no storage at all
        if (std::fwrite(data, 1, n, f) != n && ok) {
            ok = false;
            write_error = errno;
        }
    }
    void Flush() {
        if (kept.empty()) return;
        std::lock_guard<std::mutex> hold(*shared);
        if (SeekFile(f, at) != 0 && ok) {
            ok = false;
            write_error = errno;
        }
        Store(kept.data(), kept.size());
        at += static_cast<int64_t>(kept.size());
        kept.clear();
    }
    void Write(const uint8_t* data, size_t n) {
        bytes += n;
        if (shared == nullptr) return Store(data, n);
        kept.insert(kept.end(), data, data + n);
        if (kept.size() >= (1u << 20)) Flush();
    }
    void Put(const int16_t* s, size_t values) {
        packed.resize(values * 2);
        PackSamples(s, values, packed.data());
        for (size_t k = 0; k < values; ++k) peak = std::max(peak, std::abs(s[k]) / 32767.0);
        Write(packed.data(), packed.size());
    }
    void Put(const float* s, size_t values) {
        packed.resize(values * static_cast<size_t>(BytesPerSample(format)));
        PackSamples(s, values, format, packed.data());
        for (size_t k = 0; k < values; ++k) peak = std::max(peak, static_cast<double>(std::fabs(s[k])));
        Write(packed.data(), packed.size());
    }
};

// The samples of one frame through the chain into the sink. Floats are
// mixed down and resampled as asked; 16-bit samples go as they are.
struct Chain {
    bool floats = false;
    bool mono = false;
    int channels = 0;  // of the stream
    std::unique_ptr<Resampler> resampler;
    std::vector<float> mixed, resampled;

    void Take(const void* pcm, int32_t samples, Sink& out) {
        if (!floats) {
            out.Put(static_cast<const int16_t*>(pcm), static_cast<size_t>(samples) * channels);
            return;
        }
        const float* s = static_cast<const float*>(pcm);
        size_t values = static_cast<size_t>(samples) * channels;
        if (mono && channels == 2) {
            mixed.resize(static_cast<size_t>(samples));
            for (int32_t k = 0; k < samples; ++k) mixed[k] = (s[2 * k] + s[2 * k + 1]) * 0.5f;
            s = mixed.data();
            values = static_cast<size_t>(samples);
        }
        if (resampler) {
            resampler->Process(s, values / out.channels, resampled);
            s = resampled.data();
            values = resampled.size();
        }
        out.Put(s, values);
    }
    void Finish(Sink& out) {
        if (!resampler) return;
        resampler->Process(nullptr, 0, resampled);
        out.Put(resampled.data(), resampled.size());
    }
};

int OutputRate(const Options& o, const quv3_info& i) { return o.rate > 0 ? o.rate : i.sample_rate; }
int OutputChannels(const Options& o, const quv3_info& i) { return o.mono ? 1 : i.channels; }

// ------------------------------------------------------------ decoding

// Decodes the span's samples through the chain into the sink; the samples
// per channel taken from the stream.
// The progress line is drawn from the thread given an index (above 0).
int64_t DecodeSpan(Decoder& dec, const Span& span, Chain& chain, Sink& sink, BatchProgress& progress, int index) {
    std::vector<float> frame(QUV3_MAX_FRAME_VALUES);
    const int32_t format = chain.floats ? QUV3_F32 : QUV3_S16;
    const size_t value_bytes = chain.floats ? 4 : 2;
    auto* bytes = reinterpret_cast<unsigned char*>(frame.data());
    int64_t skip = span.skip, taken = 0, calls = 0;
    int32_t r = 0;
    while (r == 0 && sink.ok && (span.count < 0 || taken < span.count)) {
        int32_t n = 0;
        r = quv3_decode_frame(dec.d, frame.data(), format, &n);
        int64_t from = std::min<int64_t>(skip, n);
        skip -= from;
        int64_t keep = n - from;
        if (span.count >= 0) keep = std::min(keep, span.count - taken);
        if (keep > 0) {
            chain.Take(bytes + from * chain.channels * value_bytes, static_cast<int32_t>(keep), sink);
            taken += keep;
            progress.done += keep;
        }
        if (progress.shown && index > 0 && ++calls % 64 == 0) progress.Draw(index);
    }
    chain.Finish(sink);
    return taken;
}

void Summarize(Messages& m, int64_t samples, int rate, double peak, const quv3_damage& damage, const Job& job) {
    const double seconds = rate > 0 ? static_cast<double>(samples) / rate : 0;
    const double dbfs = peak > 0 ? 20.0 * std::log10(peak) : -INFINITY;
    m.Info("decoded:           %lld samples, %.3f s, peak %.0f (%.1f dBFS)\n", static_cast<long long>(samples), seconds,
           std::min(peak, 1.0) * 32767.0, dbfs);
    if (damage.skipped_bytes > 0 || damage.lost_frames > 0)
        m.Info("damaged:           %lld bytes skipped, %lld frames lost\n",
               static_cast<long long>(damage.skipped_bytes), static_cast<long long>(damage.lost_frames));
    m.Info("wrote:             %s\n", job.output == "-" ? "standard output" : job.output.c_str());
}

// Output file and header. Standard output, and an output that exists but
// is no regular file (a device such as /dev/null, a named pipe), are written
// as the decode goes, the size fields "unknown" unless the output can be
// rewound: a temporary file renamed over a device or a pipe would put a
// regular file in its place.
FILE* OpenOutput(const Job& job, int slot, const std::string& target, bool streamed, std::string& why) {
    if (job.output == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        return stdout;
    }
    if (streamed) {
        FILE* f = std::fopen(target.c_str(), "wb");
        if (f == nullptr) why = "cannot open " + job.output + ": " + std::strerror(errno);
        return f;
    }
    return CreatePartial(slot, target, job.output, why);
}

// The header's sizes, where the output can be rewound (not a pipe), then
// the output put in place.
bool FinishOutput(const Job& job, const Options& o, int slot, Sink& sink, int rate, const std::string& target,
                  bool streamed, std::string& why) {
    const bool to_stdout = job.output == "-";
    if (!o.raw && sink.ok) {
        const std::vector<uint8_t> header = WaveHeader(sink.format, sink.channels, rate, sink.bytes);
        const int64_t end = sink.base + static_cast<int64_t>(header.size() + sink.bytes);
        const bool rewound =
            sink.base >= 0 && (streamed ? std::fflush(sink.f) == 0 : true) && SeekFile(sink.f, sink.base) == 0;
        if (rewound) {
            sink.Store(header.data(), header.size());
            // Back to the end: what the caller writes to standard output next
            // goes after the samples, not over them.
            if (streamed && SeekFile(sink.f, end) != 0 && sink.ok) {
                sink.ok = false;
                sink.write_error = errno;
            }
        } else if (!streamed) {
            sink.ok = false;
            sink.write_error = errno;
        }
    }
    if (streamed) {
        if ((to_stdout ? std::fflush(sink.f) : std::fclose(sink.f)) != 0 && sink.ok) {
            sink.ok = false;
            sink.write_error = errno;
        }
        if (!sink.ok)
            why = "writing " + (to_stdout ? std::string("standard output") : job.output) +
                  " failed: " + std::strerror(sink.write_error);
        if (to_stdout) std::clearerr(sink.f);  // said here; the check at the end is for what else went there
        return sink.ok;
    }
    if (!sink.ok) {
        DiscardPartial(slot, sink.f);
        why = "writing " + job.output + " failed: " + std::strerror(sink.write_error);
        return false;
    }
    return CommitPartial(slot, sink.f, target, job.output, why);
}

// ------------------------------------------------------------ one long input on several cores

// The expected samples in parts at frame multiples; each part decoded by a
// decoder of its own from its own place (the library lands on a sample
// exactly, its pre-roll included), its bytes written where they belong in the
// output, the last going on as far as a decode from the start would: the
// output is the serial decode's, bit for bit. False when a part falls short
// of its share or meets damage (which the next part's pre-roll may meet again,
// and resynchronise elsewhere than a decode from the start): then only a
// serial decode gives the right output. A write error goes into sink.
bool DecodeInParts(const Job& job, const Options& o, const quv3_info& info, const Span& span, int64_t expected,
                   int parts, const Chain& chain, Sink& sink, int64_t header, BatchProgress& progress, int index,
                   int64_t& samples) {
    const int64_t spf = info.samples_per_frame;
    const int64_t frame_bytes = static_cast<int64_t>(sink.channels) * BytesPerSample(sink.format);
    std::vector<int64_t> starts;
    for (int p = 0; p < parts; ++p) starts.push_back(span.first + expected * p / parts / spf * spf);
    starts.push_back(span.first + expected);
    std::mutex lock;
    std::vector<Sink> sinks(static_cast<size_t>(parts));
    std::vector<int64_t> taken(static_cast<size_t>(parts), 0);
    std::vector<char> whole(static_cast<size_t>(parts), 0);
    auto run = [&](int p) {
        if (p > 0) KeepInterruptsFromThisThread();  // part 0 runs on the calling thread
        Decoder dec;
        if (OpenInput(job, o, dec) != 0 || quv3_seek_sample(dec.d, starts[p]) != 0) return;
        Sink& part = sinks[p];
        part.f = sink.f;
        part.format = sink.format;
        part.channels = sink.channels;
        part.shared = &lock;
        part.at = header + (starts[p] - span.first) * frame_bytes;
        Chain each;  // the caller's, with buffers of its own (there is no resampler here)
        each.floats = chain.floats;
        each.mono = chain.mono;
        each.channels = chain.channels;
        const int64_t share = starts[p + 1] - starts[p];
        const int64_t count = p + 1 < parts ? share : span.count < 0 ? -1 : span.first + span.count - starts[p];
        taken[p] = DecodeSpan(dec, Span{starts[p], count, 0}, each, part, progress, p == 0 ? index : -1);
        part.Flush();
        quv3_damage damage{};
        quv3_get_damage(dec.d, &damage);
        whole[p] = taken[p] >= share && damage.skipped_bytes == 0 && damage.lost_frames == 0;
    };
    std::vector<std::thread> threads;
    for (int p = 1; p < parts; ++p) threads.emplace_back(run, p);
    run(0);
    for (auto& t : threads) t.join();
    bool ok = true;
    samples = 0;
    for (int p = 0; p < parts; ++p) {
        ok = ok && whole[p];
        if (!sinks[p].ok && sink.ok) {
            sink.ok = false;
            sink.write_error = sinks[p].write_error;
        }
        sink.peak = std::max(sink.peak, sinks[p].peak);
        sink.bytes += sinks[p].bytes;
        samples += taken[p];
    }
    return ok;
}

}  // namespace

int DecodeJob(const Job& job, const Options& o, int slot, int index, int parts, Messages& m, BatchProgress& progress) {
    const std::string& input = job.input;
    Decoder dec;
    const int32_t opened = OpenInput(job, o, dec);
    if (opened != 0) {
        m.Fail(input, std::string(DescribeCode(opened)) + " (" + std::to_string(opened) + ")");
        return 1;
    }
    quv3_info info{};
    quv3_tags tags{};
    quv3_get_info(dec.d, &info);
    quv3_get_tags(dec.d, &tags);
    const bool several = progress.inputs > 1;
    if (o.info_only) {
        if (several) m.Info("%s:\n", input.c_str());
        Describe(m, info, tags);
        return 0;
    }
    Span span;
    std::string why;
    if (!PlaceStart(dec, o, info, span, why)) {
        m.Fail(input, why);
        return 1;
    }
    Chain chain;
    chain.floats = o.format != SampleFormat::kS16 || o.mono || o.rate > 0;
    chain.mono = o.mono;
    chain.channels = info.channels;
    const int rate = OutputRate(o, info);
    if (o.rate > 0 && o.rate != info.sample_rate) {
        chain.resampler = Resampler::Create(info.sample_rate, o.rate, OutputChannels(o, info), why);
        if (!chain.resampler) {
            m.Fail(input, why);
            return 1;
        }
    }
    const std::string target = job.output == "-" ? job.output : WherePathLeads(job.output);
    const bool streamed = job.output == "-" || WrittenInPlace(target);
    const std::vector<uint8_t> header = WaveHeader(o.format, OutputChannels(o, info), rate, streamed ? 0xFFFFFFFFu : 0);
    Sink sink;
    // A new sink on the opened output, the header written; again when a
    // decode in parts starts over.
    auto open_output = [&] {
        sink = Sink{};
        sink.format = o.format;
        sink.channels = OutputChannels(o, info);
        sink.f = OpenOutput(job, slot, target, streamed, why);
        if (sink.f == nullptr) return false;
        if (job.output == "-") sink.base = RewritableOffset(sink.f);
        if (!o.raw) sink.Store(header.data(), header.size());
        return true;
    };
    if (!open_output()) {
        m.Fail(input, why);
        return 1;
    }
    if (!o.quiet) {
        if (several) m.Info("%s:\n", input.c_str());
        Describe(m, info, tags);
    }
    // As many samples as asked, as far as the stream's count goes.
    const int64_t rest = info.total_samples - span.first;
    const int64_t expected =
        span.count < 0 ? rest : info.total_kind == QUV3_TOTAL_UNKNOWN ? span.count : std::min(span.count, rest);
    progress.total += expected > 0 ? expected : 0;
    int64_t samples = 0;
    quv3_damage damage{};
    // One long input on several cores: a file of known length, to a file,
    // without resampling (which would carry its state across the parts), in
    // parts of at least ten seconds.
    const bool counted = info.total_kind == QUV3_TOTAL_EXACT || info.total_kind == QUV3_TOTAL_COUNTED;
    const int64_t stretches = expected / (int64_t{10} * std::max(info.sample_rate, 1));
    const int split = static_cast<int>(std::min<int64_t>(parts, stretches));
    bool decoded = false;
    if (split > 1 && job.input != "-" && !streamed && !chain.resampler && info.seekable && counted) {
        decoded = DecodeInParts(job, o, info, span, expected, split, chain, sink,
                                o.raw ? 0 : static_cast<int64_t>(header.size()), progress, index, samples);
        if (!decoded && sink.ok) {
            // The stream is not what its count says (cut short, damaged): one
            // pass from the span's start, where dec still is.
            progress.done -= samples;
            DiscardPartial(slot, sink.f);
            if (!open_output()) {
                m.Fail(input, why);
                return 1;
            }
        }
    }
    if (!decoded && sink.ok) {
        samples = DecodeSpan(dec, span, chain, sink, progress, index);
        quv3_get_damage(dec.d, &damage);
    }
    if (progress.shown && index > 0) {
        // The line of a single input stays; with several it makes way for the messages.
        if (progress.inputs == 1) {
            progress.Draw(index);
            std::fputc('\n', stderr);
        } else {
            std::fputs("\r\033[K", stderr);
        }
    }
    if (!FinishOutput(job, o, slot, sink, rate, target, streamed, why)) {
        m.Fail(input, why);
        return 1;
    }
    const int64_t delivered = static_cast<int64_t>(sink.bytes / static_cast<uint64_t>(sink.channels * BytesPerSample(sink.format)));
    if (!o.quiet) Summarize(m, chain.resampler ? delivered : samples, rate, sink.peak, damage, job);
    return 0;
}

void Messages::Info(const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (direct) std::fputs(line, msg);
    else kept_msg += line;
}

void Messages::Fail(const std::string& input, const std::string& why) {
    const std::string line = "quvdec: " + input + ": " + why + "\n";
    if (direct) std::fputs(line.c_str(), stderr);
    else kept_err += line;
}

void Messages::Print() {
    std::fputs(kept_msg.c_str(), msg);
    std::fputs(kept_err.c_str(), stderr);
    std::fflush(msg);
    kept_msg.clear();
    kept_err.clear();
}

void BatchProgress::Draw(int index) {
    const int64_t t = total.load(), d = done.load();
    const double fraction = t > 0 ? std::min(1.0, static_cast<double>(d) / static_cast<double>(t)) : 0.0;
    const int bar = static_cast<int>(fraction * 40);
    if (inputs > 1) std::fprintf(stderr, "\r[%d/%d] ", index > 0 ? index : inputs, inputs);
    else std::fputc('\r', stderr);
    std::fprintf(stderr, "[%.*s%*s] %3d%%", bar, "########################################", 40 - bar, "",
                 static_cast<int>(fraction * 100));
}

double ParseTime(const char* text) {
    double total = 0;
    int fields = 0;
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        const bool last = std::strchr(p, ':') == nullptr;
        const double v = last ? std::strtod(p, &end) : static_cast<double>(std::strtol(p, &end, 10));
        if (end == p || !(v >= 0) || ++fields > 3) return -1;
        if (fields > 1 && v >= 60) return -1;  // minutes and seconds below 60 after a field
        total = total * 60 + v;
        // At most 1e9 s (some 32 years), so that a time in samples fits in 64 bits.
        if (last) return *end == '\0' && total <= 1e9 ? total : -1;
        if (*end != ':') return -1;
        p = end + 1;
    }
}

}  // namespace quvdec
