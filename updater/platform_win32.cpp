// The Win32 services of the update run.
#include <windows.h>

#include <cstdio>

#include "updater/platform.h"

namespace updater {
namespace {

int ModulePath(char* buffer, int capacity) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
    if (n == 0 || n >= static_cast<DWORD>(capacity)) return -1;
    return static_cast<int>(n);
}

// The default value of HKEY_LOCAL_MACHINE\subkey in one registry view, opened
// with full access; its type is not examined.
int ReadDefaultValue(const char* subkey, REGSAM view, char* value, int capacity) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return 0;
    DWORD size = static_cast<DWORD>(capacity);
    const LONG r = RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return 0;
    value[size < static_cast<DWORD>(capacity) ? size : capacity - 1] = '\0';
    return 1;
}

// The products are installed by 32-bit installers, which write their keys into
// the 32-bit view (WOW6432Node on 64-bit Windows): that view first, for the
// 32-bit and the 64-bit build alike, then the 64-bit view.
int ReadInstallKey(const char* subkey, char* value, int capacity) {
    return ReadDefaultValue(subkey, KEY_WOW64_32KEY, value, capacity) ||
           ReadDefaultValue(subkey, KEY_WOW64_64KEY, value, capacity);
}

int MessageBoxWin(const char* text, const char* caption, int style) {
    const UINT type = style == kBoxYesNo ? MB_YESNO : style == kBoxError ? MB_ICONERROR | MB_OK : MB_OK;
    return MessageBoxA(nullptr, text, caption, type);  // IDOK, IDYES and IDNO are the kAnswer values
}

int CopyInto(const char* temp, void* context) {
    return CopyFileA(static_cast<const char*>(context), temp, FALSE) ? 1 : 0;
}

int CopyFileWin(const char* from, const char* to) { return WriteReplacing(to, CopyInto, const_cast<char*>(from)); }

const Platform kWin32 = {'\\', ModulePath, ReadInstallKey, MessageBoxWin, CopyFileWin};

}  // namespace

const Platform& NativePlatform() { return kWin32; }

int WriteReplacing(const char* target, int (*fill)(const char* temp, void* context), void* context) {
    char temp[MAX_PATH + 32];
    const int n = std::snprintf(temp, sizeof temp, "%s.updater-%lu", target, GetCurrentProcessId());
    if (n < 0 || n >= static_cast<int>(sizeof temp)) return 0;
    if (fill(temp, context) == 1 && MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    DeleteFileA(temp);
    return 0;
}

}  // namespace updater
