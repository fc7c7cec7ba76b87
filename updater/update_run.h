#pragma once

#include <cstdint>

#include "updater/platform.h"
#include "updater/sample_convert.h"

namespace updater {

inline constexpr int kMaxFiles = 100;
inline constexpr int kNameBytes = 15;
inline constexpr int kDirectoryBytes = 300;
inline constexpr int kMaxModulePath = 259;
inline constexpr int kMessageBytes = 100;
// What the message texts leave for the script's lines in a 100-byte box text.
inline constexpr int kMaxProductName = 20;
inline constexpr int kMaxUpdateMessage = 71;

// The fixed buffers of one run.
struct RunState {
    char ProgramDirectory[kDirectoryBytes];
    char ProductName[100];
    char UpdateMessage[300];
    char RegistrySubKey[300];
    int32_t FileCount;
    char FileNames[kMaxFiles][kNameBytes];
    char InstallDirectory[kDirectoryBytes];
};

int ModuleDirectory(RunState& run, const Platform& platform);  // 1, or 0 when the path is too long
int ReadSetupScript(RunState& run, const Platform& platform);
int FindInstallDirectory(RunState& run, const Platform& platform);
int InstallFiles(const RunState& run, const Platform& platform);
// A name the install may write: no absolute path, drive letter or ".." component.
bool SafeFileName(const char* name);
// The whole run; the program's exit code (always 0).
int RunUpdate(RunState& run, const Platform& platform);

}  // namespace updater
