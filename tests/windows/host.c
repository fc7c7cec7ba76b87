/* A Windows host program: loads quv3.dll by name, resolves the six exports
 * with GetProcAddress and writes the PCM of FILE, as delivered, to OUT.
 * Usage: host.exe FILE OUT */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "quv3.h"

typedef int32_t(__cdecl* InitFn)(const char*, StreamInfo**);
typedef int32_t(__cdecl* QuvFn)(int16_t*);
typedef int32_t(__cdecl* VoidFn)(void);
typedef int32_t(__cdecl* SeekFn)(float);

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HMODULE lib = LoadLibraryA("quv3.dll");
    if (!lib) {
        fprintf(stderr, "LoadLibraryA failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    InitFn init = (InitFn)(void*)GetProcAddress(lib, "InitQuv");
    QuvFn quv = (QuvFn)(void*)GetProcAddress(lib, "Quv");
    VoidFn back = (VoidFn)(void*)GetProcAddress(lib, "QuvOneBck");
    SeekFn seek = (SeekFn)(void*)GetProcAddress(lib, "SeekQuv");
    VoidFn reset = (VoidFn)(void*)GetProcAddress(lib, "ResetQuv");
    VoidFn exit_quv = (VoidFn)(void*)GetProcAddress(lib, "ExitQuv");
    if (!init || !quv || !back || !seek || !reset || !exit_quv) {
        fprintf(stderr, "missing export\n");
        return 1;
    }
    StreamInfo* info = NULL;
    if (init(argv[1], &info) != 0) return 1;
    FILE* out = fopen(argv[2], "wb");
    if (!out) return 1;
    int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    int frames = 0;
    for (int r = 0; r == 0;) {
        for (int i = 0; i < QUV3_PCM_BUFFER_BYTES / 2; ++i) pcm[i] = -32768;
        r = quv(pcm);
        int n = QUV3_PCM_BUFFER_BYTES / 2;
        while (n > 0 && pcm[n - 1] == -32768) --n;
        fwrite(pcm, 2, (size_t)n, out);
        ++frames;
    }
    fclose(out);
    /* The other exports answer as on every platform. */
    int ok = reset() == 0 && seek(0.5f) == 0 && back() == 0 && exit_quv() == 0 && exit_quv() == -1;
    printf("%d frames, %d Hz, %d channels\n", frames, info->sample_rate, info->channels);
    return ok ? 0 : 1;
}
