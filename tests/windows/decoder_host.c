/* A Windows host program of quv3_decoder.dll, built without its import
 * library: it loads the DLL by name with LoadLibraryW and resolves the
 * functions with GetProcAddress, as a host that ships its own copy does. It
 *  - decodes FILE_A and FILE_B one after the other and writes their PCM, as
 *    delivered, to OUT_A and OUT_B (for a comparison with another build);
 *  - decodes them again in two threads at once, several times each, against
 *    those serial decodes;
 *  - opens a copy of FILE_A under a non-ASCII name in DIR, its path passed as
 *    UTF-8, against FILE_A's decode.
 * Exits 0 when every decode matched, 1 otherwise.
 * Usage: decoder_host.exe FILE_A FILE_B OUT_A OUT_B DIR */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "quv3_decoder.h"

typedef size_t(__cdecl* SizeFn)(void);
typedef quv3_decoder*(__cdecl* InitFn)(void*, size_t);
typedef int32_t(__cdecl* OpenFileFn)(quv3_decoder*, const char*, uint32_t);
typedef int32_t(__cdecl* GetInfoFn)(const quv3_decoder*, quv3_info*);
typedef int32_t(__cdecl* DecodeFn)(quv3_decoder*, void*, int32_t, int32_t*);
typedef int32_t(__cdecl* CloseFn)(quv3_decoder*);

static struct {
    SizeFn size, alignment;
    InitFn init;
    OpenFileFn open_file;
    GetInfoFn get_info;
    DecodeFn decode_frame;
    CloseFn close;
} api;

/* Outside the Windows-1252 code page too: a path that went through it would
 * not name this file. */
static const char kUnicodeName[] = u8"Für Elise – Ünïcødé ♫.mp3";
enum { kRounds = 50 };

typedef struct {
    int16_t* values;
    size_t count, capacity;
} Pcm;

static int Append(Pcm* pcm, const int16_t* values, size_t n) {
    if (pcm->count + n > pcm->capacity) {
        size_t capacity = 2 * (pcm->count + n);
        int16_t* grown = realloc(pcm->values, capacity * sizeof *grown);
        if (!grown) return 0;
        pcm->values = grown;
        pcm->capacity = capacity;
    }
    memcpy(pcm->values + pcm->count, values, n * sizeof *values);
    pcm->count += n;
    return 1;
}

/* The samples of the file at path (UTF-8), each decode on a decoder of its
 * own in memory of its own; 1 when the stream decoded to its end. */
static int Decode(const char* path, Pcm* pcm) {
    pcm->count = 0;
    size_t bytes = api.size();
    void* memory = _aligned_malloc(bytes, api.alignment());
    quv3_decoder* d = memory ? api.init(memory, bytes) : NULL;
    if (!d || api.open_file(d, path, 0) != QUV3_OK) {
        _aligned_free(memory);
        return 0;
    }
    quv3_info info;
    int ok = api.get_info(d, &info) == QUV3_OK;
    int32_t r = QUV3_OK;
    while (ok && r == QUV3_OK) {
        int16_t frame[QUV3_MAX_FRAME_VALUES];
        int32_t samples = -1;
        r = api.decode_frame(d, frame, QUV3_S16, &samples);
        ok = (r == QUV3_OK || r == QUV3_END) && samples >= 0 && samples <= QUV3_MAX_FRAME_SAMPLES &&
             Append(pcm, frame, (size_t)samples * (size_t)info.channels);
    }
    ok = api.close(d) == QUV3_OK && ok && r == QUV3_END && pcm->count > 0;
    _aligned_free(memory);
    return ok;
}

static int Same(const Pcm* a, const Pcm* b) {
    return a->count == b->count && memcmp(a->values, b->values, a->count * sizeof *a->values) == 0;
}

typedef struct {
    const char* path;
    const Pcm* expected;
    volatile LONG* arrived;
    int mismatches;
} Job;

static DWORD WINAPI DecodeRounds(LPVOID arg) {
    Job* job = arg;
    Pcm pcm = {0};
    /* Neither starts before both are running: a thread starts slower than
     * a round decodes. */
    InterlockedIncrement(job->arrived);
    while (*job->arrived < 2) SwitchToThread();
    for (int round = 0; round < kRounds; ++round)
        if (!Decode(job->path, &pcm) || !Same(&pcm, job->expected)) ++job->mismatches;
    free(pcm.values);
    return 0;
}

/* Both files in two threads at once; the number of decodes that differed. */
static int DecodeInTwoThreads(const char* path_a, const char* path_b, const Pcm* a, const Pcm* b) {
    volatile LONG arrived = 0;
    Job jobs[2] = {{path_a, a, &arrived, 0}, {path_b, b, &arrived, 0}};
    HANDLE threads[2];
    int started = 0;
    for (; started < 2; ++started) {
        threads[started] = CreateThread(NULL, 0, DecodeRounds, &jobs[started], 0, NULL);
        if (!threads[started]) break;
    }
    if (started < 2) InterlockedIncrement(&arrived); /* lets a lone thread go */
    if (started > 0) WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
    return started == 2 ? jobs[0].mismatches + jobs[1].mismatches : 2 * kRounds;
}

/* The decode of a copy of path_a named kUnicodeName in dir matches a. */
static int UnicodeNameDecodes(const char* path_a, const char* dir, const Pcm* a) {
    char path[3 * MAX_PATH];
    wchar_t from[MAX_PATH], to[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\%s", dir, kUnicodeName) >= (int)sizeof path ||
        !MultiByteToWideChar(CP_ACP, 0, path_a, -1, from, MAX_PATH) ||
        !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, to, MAX_PATH) || !CopyFileW(from, to, FALSE))
        return 0;
    Pcm pcm = {0};
    int ok = Decode(path, &pcm) && Same(&pcm, a);
    free(pcm.values);
    DeleteFileW(to);
    return ok;
}

static int Write(const char* path, const Pcm* pcm) {
    FILE* out = fopen(path, "wb");
    if (!out) return 0;
    int ok = fwrite(pcm->values, sizeof *pcm->values, pcm->count, out) == pcm->count;
    return fclose(out) == 0 && ok;
}

int main(int argc, char** argv) {
    if (argc != 6) return 2;
    HMODULE lib = LoadLibraryW(L"quv3_decoder.dll");
    if (!lib) {
        fprintf(stderr, "LoadLibraryW failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    api.size = (SizeFn)(void*)GetProcAddress(lib, "quv3_decoder_size");
    api.alignment = (SizeFn)(void*)GetProcAddress(lib, "quv3_decoder_alignment");
    api.init = (InitFn)(void*)GetProcAddress(lib, "quv3_decoder_init");
    api.open_file = (OpenFileFn)(void*)GetProcAddress(lib, "quv3_open_file");
    api.get_info = (GetInfoFn)(void*)GetProcAddress(lib, "quv3_get_info");
    api.decode_frame = (DecodeFn)(void*)GetProcAddress(lib, "quv3_decode_frame");
    api.close = (CloseFn)(void*)GetProcAddress(lib, "quv3_close");
    if (!api.size || !api.alignment || !api.init || !api.open_file || !api.get_info || !api.decode_frame ||
        !api.close) {
        fprintf(stderr, "missing export\n");
        FreeLibrary(lib);
        return 1;
    }

    Pcm a = {0}, b = {0};
    int failures = 0;
    if (!Decode(argv[1], &a) || !Decode(argv[2], &b) || !Write(argv[3], &a) || !Write(argv[4], &b)) {
        fprintf(stderr, "FAIL: serial decodes\n");
        ++failures;
    } else {
        printf("serial: %lu and %lu samples\n", (unsigned long)a.count, (unsigned long)b.count);
        int mismatches = DecodeInTwoThreads(argv[1], argv[2], &a, &b);
        if (mismatches) fprintf(stderr, "FAIL: %d of %d decodes in two threads differ\n", mismatches, 2 * kRounds);
        else printf("two threads: %d decodes each, identical\n", kRounds);
        failures += mismatches;
        if (!UnicodeNameDecodes(argv[1], argv[5], &a)) {
            fprintf(stderr, "FAIL: the copy named %s\n", kUnicodeName);
            ++failures;
        } else {
            printf("UTF-8 path of a non-ASCII name: identical\n");
        }
    }
    free(a.values);
    free(b.values);
    FreeLibrary(lib);
    return failures ? 1 : 0;
}
