/* Loads the shared library by name at run time, as a host program does, and
 * drives it through the six exports only. Compiled as C.
 * Usage: dlopen_test LIBRARY FIXTURE.mp3 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "quv3.h"

typedef int32_t (*InitFn)(const char*, StreamInfo**);
typedef int32_t (*QuvFn)(int16_t*);
typedef int32_t (*VoidFn)(void);
typedef int32_t (*SeekFn)(float);

static int failures = 0;
#define CHECK(c)                                                   \
    do {                                                           \
        if (!(c)) {                                                \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #c); \
            ++failures;                                            \
        }                                                          \
    } while (0)

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    InitFn init = (InitFn)dlsym(lib, "InitQuv");
    QuvFn quv = (QuvFn)dlsym(lib, "Quv");
    VoidFn back = (VoidFn)dlsym(lib, "QuvOneBck");
    SeekFn seek = (SeekFn)dlsym(lib, "SeekQuv");
    VoidFn reset = (VoidFn)dlsym(lib, "ResetQuv");
    VoidFn exit_quv = (VoidFn)dlsym(lib, "ExitQuv");
    CHECK(init && quv && back && seek && reset && exit_quv);
    CHECK(dlsym(lib, "DecodeFrame") == NULL);
    if (failures) return 1;

    StreamInfo* info = NULL;
    CHECK(init("/nonexistent.mp3", &info) == -5 && info == NULL);
    CHECK(init(argv[2], &info) == 0 && info != NULL);
    if (!info) return 1;
    CHECK(info->version == 1 && info->layer == 3 && info->channels == 2);
    CHECK(info->sample_rate == 44100 && info->samples_per_frame == 1152 && info->bits_per_sample == 16);

    int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    int frames = 0, nonzero = 0, r = 0;
    while (r == 0 && frames < 100000) {
        memset(pcm, 0, sizeof pcm);
        r = quv(pcm);
        for (int i = 0; i < QUV3_PCM_BUFFER_BYTES / 2; ++i) nonzero += pcm[i] != 0;
        ++frames;
    }
    CHECK(r == -4);
    CHECK(frames > 10 && nonzero > 1000);
    CHECK(quv(pcm) == -4);
    CHECK(reset() == 0);
    CHECK(quv(pcm) == 0);
    CHECK(seek(0.5f) == 0);
    CHECK(back() == 0);
    CHECK(exit_quv() == 0);
    CHECK(exit_quv() == -1);
    dlclose(lib);
    if (failures == 0) printf("dlopen host: %d frames decoded through the six exports\n", frames);
    return failures ? 1 : 0;
}
