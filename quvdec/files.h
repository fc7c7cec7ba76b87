#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// What quvdec does with files so that it never destroys one: it knows a file
// by its identity rather than its spelling, writes each output to a temporary
// file beside it that one rename puts in place once complete, and removes the
// temporary files on an interrupt.
namespace quvdec {

// What a path names: the device and inode, or on Windows the volume serial
// number and the file index.
struct FileId {
    bool exists = false;
    bool directory = false;
    bool regular = false;
    uint64_t volume = 0, index = 0;
};

bool SameFile(const FileId& a, const FileId& b);
FileId IdOf(const std::string& path);
FileId IdOfStandardInput();
FileId IdOfStandardOutput();  // only when it is a file on disk

// Where an output lands, the same for every spelling: the file itself when it
// exists, otherwise its directory and name.
struct OutputKey {
    FileId id;
    std::string name;
};
OutputKey KeyOf(const std::string& output);
bool SameOutput(const OutputKey& a, const OutputKey& b);

// The output path for an input: its name with ext in place of its extension,
// next to it or in dir.
std::string OutputFor(const std::string& input, const std::string& dir, const char* ext);

// A file written through a symbolic link is written where the link points, so
// that the link stays.
std::string WherePathLeads(const std::string& path);

// An output that exists but is no regular file or directory (a device such
// as /dev/null, a named pipe): written where it stands, never replaced.
bool WrittenInPlace(const std::string& target);

// The path as the library takes it: UTF-8 (on Windows the command line's
// paths are in the system's code page).
std::string LibraryPath(const std::string& path);

// Temporary outputs. Each worker owns one slot; a slot's file is created
// beside the target, put in its place by CommitPartial or removed by
// DiscardPartial, and removed by the interrupt handler if the process is
// interrupted in between.
inline constexpr int kPartialSlots = 64;
void InstallInterruptHandlers();
// For a worker thread, at its start: interrupts go to the main thread only.
void KeepInterruptsFromThisThread();
// A new file beside target for slot; nullptr after saying why (naming the
// output as shown).
FILE* CreatePartial(int slot, const std::string& target, const std::string& shown, std::string& why);
// Flushed to the disk, closed and renamed over target; false after removing
// it and saying why.
bool CommitPartial(int slot, FILE* f, const std::string& target, const std::string& shown, std::string& why);
void DiscardPartial(int slot, FILE* f);

// Seeks a file to an offset counted from its start (64-bit on every system).
int SeekFile(FILE* f, int64_t offset);
// Where f writes next when a seek back can rewrite what it wrote: a regular
// file not opened for appending (whose writes go to the end wherever it
// seeks); -1 otherwise.
int64_t RewritableOffset(FILE* f);

}  // namespace quvdec
