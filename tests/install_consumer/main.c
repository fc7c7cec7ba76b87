/* A program built against the installed library only. */
#include <quv3.h>
#include <stdio.h>

int main(int argc, char** argv) {
    StreamInfo* info = NULL;
    if (argc < 2 || InitQuv(argv[1], &info) != 0) return 1;
    int16_t pcm[QUV3_PCM_BUFFER_BYTES / 2];
    int frames = 0;
    while (Quv(pcm) == 0) ++frames;
    printf("%d Hz, %d channels, %d frames\n", info->sample_rate, info->channels, frames + 1);
    return ExitQuv() == 0 && frames > 0 ? 0 : 1;
}
