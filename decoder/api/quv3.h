/* quv3: MPEG-1 / MPEG-2 LSF Audio Layer III file decoder.
 *
 * One stream per process. InitQuv opens a file and lends a pointer to the
 * stream description; each Quv call delivers one frame of signed 16-bit PCM
 * (1152 samples per channel for MPEG-1, 576 for LSF; stereo interleaved) into
 * a caller buffer of at least QUV3_PCM_BUFFER_BYTES bytes.
 *
 * Results: 0 success, -1 no frame header, -2 MPEG 2.5 header (unsupported),
 * -4 no further frame, -5 file cannot be opened, -6 not Layer III.
 */
#ifndef QUV3_H
#define QUV3_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QUV3_BUILDING)
#    define QUV3_API __declspec(dllexport)
#  else
#    define QUV3_API __declspec(dllimport)
#  endif
#elif defined(QUV3_BUILDING)
#  define QUV3_API __attribute__((visibility("default")))
#else
#  define QUV3_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define QUV3_PCM_BUFFER_BYTES 4608

typedef struct StreamInfo {
    int16_t version;           /* 1 = MPEG-1, 2 = MPEG-2 low sampling frequency */
    int16_t layer;             /* always 3 */
    int16_t channels;          /* 1 or 2 */
    int32_t bitrate;           /* kbit/s: first frame's, or the Xing average */
    int32_t sample_rate;       /* Hz */
    int16_t bits_per_sample;   /* always 16 */
    int16_t samples_per_frame; /* 1152 or 576 */
    int32_t total_samples;     /* per channel, whole stream */
    int32_t vbr;               /* 1 when a Xing header was found */
} StreamInfo;

#ifdef __cplusplus
#  define QUV3_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#  define QUV3_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QUV3_STATIC_ASSERT(sizeof(StreamInfo) == 28, "StreamInfo is a 28-byte record");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, version) == 0, "version at 0");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, layer) == 2, "layer at 2");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, channels) == 4, "channels at 4");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, bitrate) == 8, "bitrate at 8");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, sample_rate) == 12, "sample_rate at 12");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, bits_per_sample) == 16, "bits_per_sample at 16");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, samples_per_frame) == 18, "samples_per_frame at 18");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, total_samples) == 20, "total_samples at 20");
QUV3_STATIC_ASSERT(offsetof(StreamInfo, vbr) == 24, "vbr at 24");
#undef QUV3_STATIC_ASSERT

/* Opens path and reads its first frame header; on success stores a pointer to
 * the library-owned StreamInfo into *info. Returns 0, -1, -2, -5 or -6. */
QUV3_API int32_t InitQuv(const char* path, StreamInfo** info);
/* Decodes the pending frame into pcm and reads the next header. Returns 0, or
 * -4 once no further frame exists (that call's PCM is still valid; sticky). */
QUV3_API int32_t Quv(int16_t* pcm);
/* Steps back so that the next Quv decodes the frame before the pending one. */
QUV3_API int32_t QuvOneBck(void);
/* Moves to the first frame at or after fraction x stream length. 0 or -4. */
QUV3_API int32_t SeekQuv(float fraction);
/* Rewinds to the first frame and clears the decoder memories. 0, -1 or -2. */
QUV3_API int32_t ResetQuv(void);
/* Closes the file: 0, or -1 when no file is open. */
QUV3_API int32_t ExitQuv(void);

#ifdef __cplusplus
}
#endif

#endif /* QUV3_H */
