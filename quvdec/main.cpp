// quvdec: decodes MPEG audio Layer III files to WAVE files (16- or 24-bit
// PCM, or 32-bit float) through the quv3_decoder library, or describes them;
// gapless, from files or standard input, mixed down and resampled as asked,
// several files (or one long one) on several cores.
//
// It destroys no file. An output that would be one of the inputs, or that two
// inputs would share, is refused before anything is decoded; an output is
// written to a temporary file next to it, which one rename puts in its place
// once the last frame is written and which goes on any failure or interrupt.
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quvdec/decode.h"
#include "quvdec/files.h"

#ifndef QUV3_VERSION
#define QUV3_VERSION "unknown"
#endif

using namespace quvdec;

namespace {

const char* kUsage =
    "usage: quvdec [options] FILE...\n"
    "Decodes MPEG-1, MPEG-2 LSF and MPEG 2.5 Layer III files to WAVE files, each next\n"
    "to its input (FILE with its extension replaced by .wav) unless -o or -d says\n"
    "otherwise; FILE - is standard input. Tags around the stream (ID3v2, APEv2,\n"
    "ID3v1) are skipped. The output is gapless where the stream gives its encoder's\n"
    "delay and padding: exactly the samples the encoder was given.\n"
    "\n"
    "  -o OUT              output file, for a single FILE; - writes to standard output,\n"
    "                      with the size fields of the WAVE header set to \"unknown\"\n"
    "                      (0xFFFFFFFF) unless standard output is a file that can be\n"
    "                      rewound; messages then go to standard error\n"
    "  -d DIR              write the outputs into DIR\n"
    "  -f, --format FMT    s16 (default), s24 or f32 (32-bit float, 1.0 full scale)\n"
    "  --mono              mix two channels down to one\n"
#ifdef QUVDEC_SOXR
    "  --rate HZ           resample to HZ (libsoxr, very high quality)\n"
#else
    "  --rate HZ           resample to HZ: not in this build, which has no libsoxr\n"
#endif
    "  --start TIME        start at TIME: seconds or [hh:]mm:ss[.fff], to the sample\n"
    "  --length TIME       stop after TIME of audio\n"
    "  --start-fraction F  start at the first frame at or after fraction F (0..1) of\n"
    "                      the file's bytes\n"
    "  --no-gapless        keep the encoder's delay and padding and the encoder's\n"
    "                      header frame: every frame as the stream holds it\n"
    "  -j, --jobs N        decode N files at once, or one long file in N parts\n"
    "                      (default: the number of cores)\n"
    "  --info              print the stream description, duration and tags; decode nothing\n"
    "  --raw               write headerless little-endian PCM in the output format\n"
    "  -q, --quiet         no description, progress bar or summary\n"
    "  --version           the version\n"
    "  -h, --help          this text\n"
    "  --                  the arguments after it are files, also those starting with -\n"
    "\n"
    "An output file appears whole or not at all: it is written to a temporary file\n"
    "next to it, which replaces the file of its name only once complete, so that an\n"
    "interrupted or failed decode leaves an existing file as it was (standard output,\n"
    "a device and a named pipe are written as the decode goes). An input is never\n"
    "written over: an output that would be one of the inputs, however it is\n"
    "spelled, or that two inputs would share, is refused before anything is decoded.\n"
    "\n"
    "Exit status: 0 when every file decoded, 1 when any failed (one line each on\n"
    "standard error), 2 on a usage error.\n";

// Refuses, before anything is decoded, each input whose output would destroy
// a file: one of the inputs (however spelled, or through another link), the
// output of another input, or a directory; and an input that is a directory.
// One line each; 1 when any was refused.
int RefuseDestructiveOutputs(std::vector<Job>& jobs, const Options& o) {
    const char* hint = !o.output.empty() ? "" : o.dir.empty() ? " (use -o or -d)" : " (use another -d)";
    const FileId standard_output = IdOfStandardOutput();
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
        if (j.output == "-") {
            keys[i] = {standard_output, ""};  // a file redirected to it is an output like the others
            continue;
        }
        if (out.directory) refuse("cannot create " + j.output + ": " + std::strerror(EISDIR));
        keys[i] = KeyOf(j.output);
    }
    // Two inputs with one output: the second would replace the first's.
    for (size_t i = 0; i < jobs.size(); ++i) {
        for (size_t k = 0; k < jobs.size(); ++k) {
            const Job &a = jobs[i], &b = jobs[k];
            if (k == i || a.output.empty() || a.input_id.directory || b.input_id.directory) continue;
            if (!SameOutput(keys[i], keys[k])) continue;
            if (!a.refused)
                std::fprintf(stderr, "quvdec: %s: %s has the same output, %s\n", a.input.c_str(), b.input.c_str(),
                             a.output == "-" ? "standard output" : a.output.c_str());
            jobs[i].refused = true;
            refused = 1;
        }
    }
    return refused;
}

// ------------------------------------------------------------ the command line

int UsageError(const std::string& what) {
    std::fprintf(stderr, "quvdec: %s (see quvdec --help)\n", what.c_str());
    return 2;
}

// The short options as getopt spells them, and each long one with the letter it
// is handled by.
const char* kShortOptions = "o:d:j:f:qh";

struct LongOption {
    const char* name;
    char id;
    bool takes_value;
};

constexpr LongOption kLongOptions[] = {
    {"help", 'h', false},      {"quiet", 'q', false},         {"version", 'V', false},  {"info", 'I', false},
    {"raw", 'R', false},       {"start", 'S', true},          {"length", 'L', true},    {"start-fraction", 'F', true},
    {"no-gapless", 'G', false}, {"format", 'f', true},        {"mono", 'M', false},     {"rate", 'r', true},
    {"jobs", 'j', true},
};

// A whole number from 1 to most; 0 when the text is not one.
long PositiveNumber(const char* value, long most) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(value, &end, 10);
    return end != value && *end == '\0' && errno == 0 && v >= 1 && v <= most ? v : 0;
}

// Takes one option into o; -1 to go on, else the exit status to end with.
int ApplyOption(char id, const char* value, Options& o) {
    switch (id) {
        case 'h': std::fputs(kUsage, stdout); return 0;
        case 'V': std::printf("quvdec %s\n", QUV3_VERSION); return 0;
        case 'q': o.quiet = true; return -1;
        case 'I': o.info_only = true; return -1;
        case 'R': o.raw = true; return -1;
        case 'G': o.gapless = false; return -1;
        case 'M': o.mono = true; return -1;
        case 'o':
        case 'd':
            if (*value == '\0') return UsageError(std::string("option -") + id + " needs a value");
            (id == 'o' ? o.output : o.dir) = value;
            return -1;
        case 'S':
        case 'L':
            (id == 'S' ? o.start_seconds : o.length_seconds) = ParseTime(value);
            if ((id == 'S' ? o.start_seconds : o.length_seconds) < 0)
                return UsageError(std::string(id == 'S' ? "--start" : "--length") +
                                  " takes seconds or [hh:]mm:ss[.fff], at most 1e9 s, not " + value);
            return -1;
        case 'F': {
            char* end = nullptr;
            o.start_fraction = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(o.start_fraction >= 0.0 && o.start_fraction <= 1.0))
                return UsageError("--start-fraction takes a fraction of the file from 0 to 1");
            return -1;
        }
        case 'f':
            if (std::strcmp(value, "s16") == 0) o.format = SampleFormat::kS16;
            else if (std::strcmp(value, "s24") == 0) o.format = SampleFormat::kS24;
            else if (std::strcmp(value, "f32") == 0) o.format = SampleFormat::kF32;
            else return UsageError(std::string("--format takes s16, s24 or f32, not ") + value);
            return -1;
        case 'r':
            o.rate = static_cast<int>(PositiveNumber(value, 384000));
            if (o.rate == 0) return UsageError(std::string("--rate takes a sample rate in Hz, not ") + value);
            return -1;
        case 'j':
            o.jobs = static_cast<int>(PositiveNumber(value, kPartialSlots));
            if (o.jobs == 0)
                return UsageError("-j takes a number of jobs from 1 to " + std::to_string(kPartialSlots));
            return -1;
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

// ------------------------------------------------------------ running the jobs

// Runs the jobs, o.jobs at a time, each on a worker of its own with a
// temporary-output slot of its own. Their messages and failure lines appear
// in the order of the inputs, as one at a time would print them, and one
// progress line shows the whole batch. A single input with -j above 1 is
// decoded in parts instead. 1 when any failed.
int RunJobs(std::vector<Job>& jobs, const Options& o) {
    std::vector<size_t> todo;
    for (size_t i = 0; i < jobs.size(); ++i)
        if (!jobs[i].refused) todo.push_back(i);
    BatchProgress progress;
    progress.inputs = static_cast<int>(jobs.size());
    progress.shown = !o.quiet && !o.info_only && isatty(STDERR_FILENO);
    // Where samples go to standard output, every job's messages keep out of them.
    FILE* msg = stdout;
    for (size_t i : todo)
        if (jobs[i].output == "-") msg = stderr;
    const int workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(o.jobs), todo.size()));
    int failed = 0;
    if (workers <= 1) {
        const int parts = todo.size() == 1 ? o.jobs : 1;
        for (size_t i : todo) {
            Messages m;
            m.msg = msg;
            failed |= DecodeJob(jobs[i], o, 0, static_cast<int>(i) + 1, parts, m, progress);
        }
        if (progress.shown && progress.inputs > 1 && !todo.empty()) {
            progress.Draw(0);
            std::fputc('\n', stderr);
        }
        return failed;
    }
    std::vector<Messages> messages(todo.size());
    std::vector<int> results(todo.size(), 0);
    std::vector<char> finished(todo.size(), 0);
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::condition_variable changed;
    auto work = [&](int slot) {
        KeepInterruptsFromThisThread();
        for (size_t k; (k = next++) < todo.size();) {
            Messages& m = messages[k];
            m.direct = false;
            m.msg = msg;
            const int r = DecodeJob(jobs[todo[k]], o, slot, -1, 1, m, progress);  // the main thread draws
            std::lock_guard<std::mutex> hold(lock);
            results[k] = r;
            finished[k] = 1;
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) threads.emplace_back(work, w);
    // Prints each job's messages in turn, redrawing the progress line while it waits.
    for (size_t k = 0; k < todo.size(); ++k) {
        std::unique_lock<std::mutex> hold(lock);
        while (!finished[k]) {
            changed.wait_for(hold, std::chrono::milliseconds(100));
            if (progress.shown) progress.Draw(0);
        }
        hold.unlock();
        if (progress.shown) std::fputs("\r\033[K", stderr);
        messages[k].Print();
        failed |= results[k];
    }
    for (auto& t : threads) t.join();
    if (progress.shown) {
        progress.Draw(0);
        std::fputc('\n', stderr);
    }
    return failed;
}

// The status to end with, once what went to standard output (messages,
// --info, --help) is known to be written: 1 after saying why when it was not.
int Ending(int status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "quvdec: writing standard output failed: %s\n", std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.jobs = static_cast<int>(std::thread::hardware_concurrency());
    if (o.jobs < 1) o.jobs = 1;
    if (o.jobs > kPartialSlots) o.jobs = kPartialSlots;
    std::vector<std::string> inputs;
    const int status = ParseCommandLine(argc, argv, o, inputs);
    if (status >= 0) return Ending(status);
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
    int from_stdin = 0;
    for (const std::string& input : inputs) from_stdin += input == "-";
    if (from_stdin > 1) return UsageError("standard input (-) can be read once");
    if (o.start_fraction >= 0 && o.start_seconds >= 0) return UsageError("--start and --start-fraction exclude each other");
    InstallInterruptHandlers();
    std::vector<Job> jobs;
    for (const std::string& input : inputs) {
        Job j;
        j.input = input;
        const bool in_stdin = input == "-";
        if (!o.info_only) {
            // Standard input has no place of its own: its output is standard
            // output, or stdin.wav in -d DIR.
            if (!o.output.empty()) j.output = o.output;
            else if (in_stdin) j.output = o.dir.empty() ? "-" : OutputFor("stdin", o.dir, o.raw ? ".pcm" : ".wav");
            else j.output = OutputFor(input, o.dir, o.raw ? ".pcm" : ".wav");
        }
        j.input_id = in_stdin ? IdOfStandardInput() : IdOf(input);
        jobs.push_back(j);
    }
    int failed = RefuseDestructiveOutputs(jobs, o);
    failed |= RunJobs(jobs, o);
    return Ending(failed);
}
