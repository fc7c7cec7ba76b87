/* A program built against the installed quv3_decoder only: decodes FILE from
 * memory and prints the stream's rate and channels, the frames and the
 * samples per channel delivered. Usage: decoder_consumer FILE */
#include <quv3_decoder.h>
#include <stdio.h>
#include <stdlib.h>

static void* ReadAll(const char* path, size_t* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    void* data = size > 0 && fseek(f, 0, SEEK_SET) == 0 ? malloc((size_t)size) : NULL;
    if (data && fread(data, 1, (size_t)size, f) != (size_t)size) {
        free(data);
        data = NULL;
    }
    fclose(f);
    *bytes = data ? (size_t)size : 0;
    return data;
}

int main(int argc, char** argv) {
    size_t bytes = 0;
    void* data = argc == 2 ? ReadAll(argv[1], &bytes) : NULL;
    size_t align = quv3_decoder_alignment(), size = quv3_decoder_size();
    unsigned char* block = malloc(size + align);
    quv3_decoder* d = block ? quv3_decoder_init(block + (align - (uintptr_t)block % align) % align, size) : NULL;
    quv3_info info;
    int ok = data && d && quv3_open_memory(d, data, bytes, 0) == QUV3_OK && quv3_get_info(d, &info) == QUV3_OK;
    int frames = 0;
    long long samples = 0;
    for (int32_t r = QUV3_OK; ok && r == QUV3_OK;) {
        static int16_t pcm[QUV3_MAX_FRAME_VALUES];
        int32_t n = 0;
        r = quv3_decode_frame(d, pcm, QUV3_S16, &n);
        ok = r == QUV3_OK || r == QUV3_END;
        ++frames;
        samples += n;
    }
    ok = ok && quv3_close(d) == QUV3_OK;
    if (ok) printf("%d Hz, %d channels, %d frames, %lld samples\n", info.sample_rate, info.channels, frames, samples);
    free(block);
    free(data);
    return ok && frames > 1 ? 0 : 1;
}
