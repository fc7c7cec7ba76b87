#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "quvdec/files.h"
#include "quvdec/wave.h"

// Decoding one input to its output through the re-entrant library, in named
// steps: open the input, describe it, place the start, open the output,
// decode, finish the output, summarise.
namespace quvdec {

struct Options {
    std::string output;  // -o, for one input
    std::string dir;  // -d
    bool info_only = false, quiet = false, raw = false, gapless = true, mono = false;
    SampleFormat format = SampleFormat::kS16;
    int rate = 0;  // --rate: 0 keeps the stream's
    double start_seconds = -1, length_seconds = -1;  // --start, --length
    double start_fraction = -1;  // --start-fraction
    int jobs = 1;  // -j
};

// One input and where its output goes.
struct Job {
    std::string input;  // "-": standard input
    std::string output;  // empty with --info; "-" for standard output
    FileId input_id;
    bool refused = false;
};

// What a job says: at once (one job at a time), or kept and printed in the
// order of the inputs when several run at once. Messages about the stream and
// the summary go to msg's stream (standard error when any job's output is
// standard output); failures to standard error, one line each.
struct Messages {
    bool direct = true;
    FILE* msg = stdout;
    std::string kept_msg, kept_err;
    void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Fail(const std::string& input, const std::string& why);
    void Print();  // what was kept
};

// The whole batch's progress, for one progress line.
struct BatchProgress {
    std::atomic<int64_t> done{0};  // samples decoded, all inputs
    std::atomic<int64_t> total{0};  // samples expected, of the inputs opened so far
    int inputs = 1;
    bool shown = false;  // a progress line is drawn (standard error is a terminal)
    void Draw(int index);  // index: the input decoding now, 0 for the batch
};

// Decodes or describes one input; 0, or 1 after saying why. slot is the
// caller's temporary-output slot. With parts above 1, a single long input is
// decoded in that many parts at once where it can be (a file, to a file,
// without resampling), each from its own place in the stream.
int DecodeJob(const Job& job, const Options& o, int slot, int index, int parts, Messages& m, BatchProgress& progress);

// The options' time and number formats: seconds ("90", "1.5") or
// [hh:]mm:ss[.fff], up to 1e9 s; -1 when the text is neither or more.
double ParseTime(const char* text);

}  // namespace quvdec
