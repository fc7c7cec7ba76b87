/* quv3_decoder: the re-entrant MPEG-1 / MPEG-2 LSF / MPEG 2.5 Audio Layer III
 * decoder.
 *
 * Each stream is decoded by a decoder the caller owns: a block of the caller's
 * memory of quv3_decoder_size() bytes, aligned to quv3_decoder_alignment()
 * (about 87 KB; the 16 KiB input buffer is part of it), made ready once by
 * quv3_decoder_init. The library allocates nothing and keeps no mutable state
 * of its own, so any number of decoders may be used at once, each from one
 * thread at a time (any thread). A decoder may be opened again after
 * quv3_close, as often as needed.
 *
 * A stream is read from a file, a block of memory or the caller's read
 * callbacks. ID3v2 tags at the start and APEv2 and ID3v1 tags at the end are
 * skipped (their byte ranges and their text are reported); a RIFF/WAVE file
 * whose "data" chunk holds the frames is read from that chunk.
 *
 * Each quv3_decode_frame call decodes one frame: up to QUV3_MAX_FRAME_SAMPLES
 * samples per channel, as signed 16-bit integers or as floats, the channels
 * interleaved.
 *
 * Results: 0 or a negative QUV3_* code. Nothing a stream holds makes a call
 * crash, hang, or read or write outside a buffer.
 */
#ifndef QUV3_DECODER_H
#define QUV3_DECODER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QUV3_BUILDING)
#    define QUV3_DECODER_API __declspec(dllexport)
#  elif defined(QUV3_DECODER_STATIC)
#    define QUV3_DECODER_API
#  else
#    define QUV3_DECODER_API __declspec(dllimport)
#  endif
#elif defined(QUV3_BUILDING)
#  define QUV3_DECODER_API __attribute__((visibility("default")))
#else
#  define QUV3_DECODER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. -1, -4, -5 and -6 mean what they mean for the six exports of quv3. */
#define QUV3_OK 0
#define QUV3_NO_SYNC (-1)        /* no frame header where the frames should begin */
#define QUV3_END (-4)            /* no further frame */
#define QUV3_CANNOT_OPEN (-5)    /* the file cannot be opened, or no memory block or read callback */
#define QUV3_NOT_LAYER3 (-6)     /* the first frame is Layer I or II */
#define QUV3_CANNOT_SEEK (-7)    /* the input cannot seek: a stream (pipe, socket) */
#define QUV3_BAD_CALL (-8)       /* no decoder, a decoder not made ready, no open stream, a bad argument */

/* The largest frame: samples per channel, and samples in all. */
#define QUV3_MAX_FRAME_SAMPLES 1152
#define QUV3_MAX_FRAME_VALUES (2 * QUV3_MAX_FRAME_SAMPLES)

/* Sample formats. QUV3_S16: signed 16-bit, the samples of the six exports.
 * QUV3_F32: the synthesis result before rounding, as a float on a scale where
 * 1.0 is full scale (32767), not clipped, to within one float step (it is
 * moved by one where the float next to it would round to the other integer).
 * Rounded and clipped as quv3_f32_to_s16 does, it gives the 16-bit sample
 * bit for bit. Both formats give the same values on every processor; a zero
 * is +0.0. */
#define QUV3_FORMAT_AS_OPENED 0
#define QUV3_S16 1
#define QUV3_F32 2

/* Open flags. */
#define QUV3_OPEN_F32 0x1u       /* deliver floats unless a call asks otherwise */
/* Gapless output, where the stream's first frame carries the encoder's delay
 * and padding (a LAME extension with a matching CRC): that frame is no audio,
 * the first delay + 529 decoded samples (the encoder's delay and the
 * synthesis filter's) are left out, and the output ends after exactly frames
 * x samples_per_frame - delay - padding samples: the samples the encoder was
 * given. A stream without them decodes as without the flag. */
#define QUV3_OPEN_GAPLESS 0x2u

/* How quv3_info.total_samples was found. */
#define QUV3_TOTAL_UNKNOWN 0     /* not known: 0 */
#define QUV3_TOTAL_EXACT 1       /* from the encoder's frame count (and delay and padding, gapless) */
#define QUV3_TOTAL_COUNTED 2     /* the frames counted by their headers */
#define QUV3_TOTAL_ESTIMATED 3   /* from the size and the bitrate: a stream of an hour or more */

typedef struct quv3_decoder quv3_decoder;

/* Bytes and alignment of a decoder. */
QUV3_DECODER_API size_t quv3_decoder_size(void);
QUV3_DECODER_API size_t quv3_decoder_alignment(void);

/* Makes the bytes at memory a decoder with no stream open and returns it; NULL
 * when memory is NULL, fewer than quv3_decoder_size() bytes or not aligned.
 * Call it once per block: a decoder with an open stream must be closed first. */
QUV3_DECODER_API quv3_decoder* quv3_decoder_init(void* memory, size_t bytes);

/* The caller's input. read delivers up to n bytes into buffer and returns the
 * count: 0 at the end, negative on an error (then read as the end). seek moves
 * to an absolute offset and returns 0, or negative when it cannot; without
 * seek the input is a stream, read forward only: decoding works as from a
 * file, seeking and stepping back give QUV3_CANNOT_SEEK, and tags at the end
 * are not looked for. size returns the input's length in bytes, or a negative
 * number when unknown; it may be NULL. The callbacks run on the thread that
 * calls the decoder. */
typedef struct quv3_reader {
    int64_t (*read)(void* user, void* buffer, int64_t n);
    int32_t (*seek)(void* user, int64_t offset);
    int64_t (*size)(void* user);
    void* user;
} quv3_reader;

/* Each opens a stream on the decoder (closing one left open) and reads its
 * first frame header. The path is UTF-8 (on Windows too); the memory block is
 * not copied and must stay valid until quv3_close; the reader is copied, its
 * user data must stay valid. Returns 0, QUV3_NO_SYNC, QUV3_CANNOT_OPEN,
 * QUV3_NOT_LAYER3 or QUV3_BAD_CALL; on failure no stream is open. */
QUV3_DECODER_API int32_t quv3_open_file(quv3_decoder* d, const char* path, uint32_t flags);
QUV3_DECODER_API int32_t quv3_open_memory(quv3_decoder* d, const void* data, size_t bytes, uint32_t flags);
QUV3_DECODER_API int32_t quv3_open_reader(quv3_decoder* d, const quv3_reader* reader, uint32_t flags);

/* Decodes the pending frame into pcm and reads the next frame header, as
 * format (QUV3_S16, QUV3_F32, or QUV3_FORMAT_AS_OPENED: QUV3_F32 when the
 * stream was opened with QUV3_OPEN_F32, else QUV3_S16); each call may ask for
 * another format. pcm holds at least QUV3_MAX_FRAME_VALUES values of the
 * format (int16_t or float), or is NULL to skip the copy; *samples (when
 * samples is not NULL) gets the samples per channel written, channels
 * interleaved as quv3_info.channels gives them (a frame with another channel
 * count than the first is delivered in the first one's: one channel twice,
 * or the mean of two: for QUV3_S16 the integer mean rounded toward zero, for
 * QUV3_F32 the mean of the two floats rounded to float, which the rule of
 * quv3_f32_to_s16 may take one step from the integer mean). A call may write
 * nothing: the first frames of a stream cut from a longer one only fill the
 * bit reservoir.
 * Returns 0, or QUV3_END when no further frame follows: that call's samples
 * are valid, and every later call writes nothing and returns QUV3_END until a
 * seek, a step back or a rewind moves the decoder. QUV3_BAD_CALL, with
 * nothing decoded, without an open stream or with another format. */
QUV3_DECODER_API int32_t quv3_decode_frame(quv3_decoder* d, void* pcm, int32_t format, int32_t* samples);

/* Moves so that the next call delivers output sample n first (samples per
 * channel counted from 0, gapless or not as opened), exactly as a decode from
 * the start delivers it. The frame that holds n is found by walking the frame
 * headers (no audio is decoded; the positions found are kept, so later seeks
 * walk little). 0, QUV3_END when n is at or past the end, QUV3_CANNOT_SEEK. */
QUV3_DECODER_API int32_t quv3_seek_sample(quv3_decoder* d, int64_t n);
/* The number of the next output sample the decoder delivers. */
QUV3_DECODER_API int64_t quv3_tell(const quv3_decoder* d);

/* Moves to the first frame at or after fraction (0..1) of the frames' bytes.
 * The next call delivers exactly what a decode from the start delivers for
 * that frame. 0, QUV3_END (past the last frame), QUV3_CANNOT_SEEK. */
QUV3_DECODER_API int32_t quv3_seek_fraction(quv3_decoder* d, double fraction);
/* Steps back one frame: the next call decodes again the frame the last call
 * decoded (the first frame before any call). 0 or QUV3_CANNOT_SEEK. */
QUV3_DECODER_API int32_t quv3_step_back(quv3_decoder* d);
/* Back to the first frame, the decoder's memories cleared. 0, QUV3_NO_SYNC
 * (the input changed), QUV3_CANNOT_SEEK. */
QUV3_DECODER_API int32_t quv3_rewind(quv3_decoder* d);
/* Closes the stream (and a file). 0, or QUV3_BAD_CALL when none is open. */
QUV3_DECODER_API int32_t quv3_close(quv3_decoder* d);

/* A byte range of the input; bytes 0 when absent. */
typedef struct quv3_range {
    int64_t offset;
    int64_t bytes;
} quv3_range;

/* What is known of the open stream. */
typedef struct quv3_info {
    int32_t version;           /* 1 MPEG-1, 2 MPEG-2 LSF, 3 MPEG 2.5 */
    int32_t layer;             /* 3 */
    int32_t channels;          /* 1 or 2, from the first frame header */
    int32_t sample_rate;       /* Hz */
    int32_t bitrate;           /* kbit/s: the first frame's, or the Xing average */
    int32_t samples_per_frame; /* 1152 or 576 */
    int32_t vbr;               /* 1 when the first frame is a "Xing" frame (an "Info" frame means constant) */
    int32_t seekable;          /* 1 when the input can seek */
    int64_t total_samples;     /* per channel, the samples a decode from the start delivers; 0 when unknown */
    int32_t total_kind;        /* QUV3_TOTAL_* */
    int32_t gapless;           /* 1 when the output is trimmed to the encoder's numbers */
    int32_t encoder_delay;     /* samples, from the LAME extension; -1 when there is none */
    int32_t encoder_padding;   /* samples; -1 when there is none */
    int64_t encoder_frames;    /* audio frames after the Xing or Info frame; -1 when not given */
    quv3_range frames;         /* the frames: from the first; bytes -1 when the input's length is unknown */
    quv3_range id3v2;          /* every ID3v2 tag at the start, with the padding after them */
    quv3_range ape;            /* an APEv2 tag at the end (with its header when it has one) */
    quv3_range id3v1;          /* an ID3v1 tag at the end */
} quv3_info;

/* Copies the stream's description into *info. 0, or QUV3_BAD_CALL. */
QUV3_DECODER_API int32_t quv3_get_info(const quv3_decoder* d, quv3_info* info);

/* The text of the stream's tags: ID3v2 (versions 2.2, 2.3 and 2.4) at the
 * start, APEv2 and ID3v1 (with ID3v1.1's track number) at the end; the tags at
 * the end are looked for only when the input can seek. Each field is UTF-8,
 * whatever the tag's encoding (Latin-1, UTF-16, UTF-8), NUL-terminated and
 * empty when no tag gives it; a longer value is cut at a character boundary.
 * A field comes from ID3v2 when it has the field, else from APEv2, else from
 * ID3v1; of two ID3v2 tags the first. Of several values in one frame or item
 * the first is given. year is what the tag writes (an ID3v2.4 date may be a
 * timestamp, "2004-05-01"), track too ("3" or "3/12"); a genre given by
 * number (ID3v1, or ID3v2's "(13)" and "13") is given by its name. comment is
 * the first ID3v2 comment without a description, else the first one. */
#define QUV3_TAG_TEXT_BYTES 256
typedef struct quv3_tags {
    char title[QUV3_TAG_TEXT_BYTES];
    char artist[QUV3_TAG_TEXT_BYTES];
    char album[QUV3_TAG_TEXT_BYTES];
    char year[QUV3_TAG_TEXT_BYTES];
    char track[QUV3_TAG_TEXT_BYTES];
    char genre[QUV3_TAG_TEXT_BYTES];
    char comment[QUV3_TAG_TEXT_BYTES];
} quv3_tags;

/* Copies the text of the open stream's tags into *tags. 0, or QUV3_BAD_CALL. */
QUV3_DECODER_API int32_t quv3_get_tags(const quv3_decoder* d, quv3_tags* tags);

/* What the decoder met that it could not decode, since the stream was opened:
 * the bytes its sync search passed over to find the next frame, and the frames
 * lost with them (a damaged header, or a header with no frame length). A clean
 * stream has both 0. */
typedef struct quv3_damage {
    int64_t skipped_bytes;
    int64_t lost_frames;
} quv3_damage;

QUV3_DECODER_API int32_t quv3_get_damage(const quv3_decoder* d, quv3_damage* damage);

/* The library's rule from float to 16-bit samples: value x 32767 in double
 * precision, rounded to the nearest integer (ties to even) and clipped to
 * -32767..32767. Applied to QUV3_F32 output it gives the QUV3_S16 output. */
QUV3_DECODER_API int16_t quv3_f32_to_s16(float value);

#ifdef __cplusplus
}
#endif

#endif /* QUV3_DECODER_H */
