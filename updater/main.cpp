// The updater's entry point: a windowless GUI program on Windows, a terminal
// program on other systems. It takes no arguments and always exits with 0.
#include "updater/update_run.h"

namespace {
updater::RunState g_run;
}

#if defined(_WIN32)
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return updater::RunUpdate(g_run, updater::NativePlatform()); }
#else
int main() { return updater::RunUpdate(g_run, updater::NativePlatform()); }
#endif
