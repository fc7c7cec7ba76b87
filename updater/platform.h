#pragma once

// The few operating-system services the update run needs. One implementation
// per platform (platform_posix.cpp, platform_win32.cpp); tests supply their own.
namespace updater {

inline constexpr int kBoxOk = 0;  // an OK button, no icon
inline constexpr int kBoxError = 1;  // an OK button with the error icon
inline constexpr int kBoxYesNo = 2;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

struct Platform {
    char separator;  // between a directory and a file name
    // Full path of the running program into buffer; its length, or -1 when it does not fit.
    int (*module_path)(char* buffer, int capacity);
    // The default value of HKEY_LOCAL_MACHINE\subkey: 1 and the text (at most capacity - 1
    // bytes, terminated), or 0 when the key cannot be opened or has no such value.
    int (*read_install_key)(const char* subkey, char* value, int capacity);
    // Shows text under caption with one of the box styles; returns the answer.
    int (*message_box)(const char* text, const char* caption, int style);
    // Copies from over to, replacing to; 1 on success. The target is never left half-written.
    int (*copy_file)(const char* from, const char* to);
};

const Platform& NativePlatform();

// Writes target by way of a temporary file beside it: fill writes the file
// named temp and returns 1 on success; the temporary then replaces target in
// one rename, so target is never half-written. On any failure the temporary is
// removed and target stays as it was. 1 on success.
int WriteReplacing(const char* target, int (*fill)(const char* temp, void* context), void* context);

}  // namespace updater
