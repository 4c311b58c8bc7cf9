/*
 * libzelplay exports: record files (extension "ifv").
 *
 * A record starts at a base offset inside its file (0 for a file that holds one record) and
 * holds four header objects, a segment count and a chain of segments; each segment carries
 * a video index table (28-byte entries), an audio index table (24-byte entries) and the
 * frame data. Time stamps count milliseconds from the record's start time (seconds since
 * 1970). Positions at or beyond 0x8000000 (128 MiB) from the start of the file can be
 * neither read nor written.
 *
 * Every function that fails prints one line to standard output and returns 0, -1 or NULL.
 * Frame reading, passing over, seeking and frame writing on one handle are serialised by the
 * handle's mutex; opening, the getters and closing take no lock, so give each thread its own
 * handle.
 */
#ifndef ZELPLAY_CUSTOMMP4_H
#define ZELPLAY_CUSTOMMP4_H

#include <stdint.h>

#include "zelplay/export.h"

ZELPLAY_BEGIN_DECLS

typedef struct custommp4_s custommp4_t;

/* Open modes of custommp4_open. */
enum {
    CUSTOMMP4_MODE_READ = 0,          /* read an existing record at the base offset */
    CUSTOMMP4_MODE_CREATE = 1,        /* create (truncate) the file; base offset becomes 0 */
    CUSTOMMP4_MODE_CREATE_INTO = 2,   /* create a record at the base offset of an existing file */
    CUSTOMMP4_MODE_CREATE_OR_INTO = 3 /* as 2 when the file exists, else as 1 */
};

/* Opens a record. Returns NULL on failure ("open mode error", "open file failed", or the
 * header check that failed). In read mode segment 0's index tables are loaded and the next
 * video and audio frame numbers are 0; only a regular file is read, and the open never waits
 * (a FIFO or a device fails with "open file failed"). */
ZELPLAY_API custommp4_t* custommp4_open(const char* path, uint8_t mode, uint32_t base_offset);

/* Finishes a record being written (when it holds at least one frame), then destroys the
 * handle. Returns 1 (0 for a NULL handle). */
ZELPLAY_API int custommp4_close(custommp4_t* h);

/* As custommp4_close, and tells whether the record reached the file: 1 when every write, the
 * flush and the closing of the file succeeded, else 0 with *error (may be NULL) set to the
 * error number (errno) of the first failure. The handle is released in both cases. */
ZELPLAY_API int custommp4_close_checked(custommp4_t* h, int* error);

/* Releases the handle and closes its file without finishing anything. Returns 1 (0 for a
 * NULL handle). */
ZELPLAY_API int custommp4_destroy(custommp4_t* h);

/* Reads length bytes at the handle's logical position, which then advances by length even
 * when the read fails. Returns 1 when all bytes were read, else 0. */
ZELPLAY_API int custommp4_read_data(custommp4_t* h, void* buffer, int length);

/* Writes length bytes at the logical position and advances it by length. */
ZELPLAY_API void custommp4_write_data(custommp4_t* h, const void* data, int length);

/* Reads the next video frame into buffer. Returns its size, or 0 at the end or when the
 * frame could not be read (also when it is larger than buffer_size); the frame number
 * advances in both cases. time_stamp (ms), duration (ms) and frame_type may be NULL.
 * Types 3 and 5 mark key frames. */
ZELPLAY_API int custommp4_read_video_frame(custommp4_t* h, uint8_t* buffer, int buffer_size,
                                           uint32_t* time_stamp, int32_t* duration,
                                           uint8_t* frame_type);

/* Reads the next audio frame (always the record's audio frame size). As above. */
ZELPLAY_API int custommp4_read_audio_frame(custommp4_t* h, uint8_t* buffer, int buffer_size,
                                           uint32_t* time_stamp, int32_t* duration);

/* Passes over the next video frame without reading it; returns its size, 0 at the end. */
ZELPLAY_API int custommp4_skip_video_frame(custommp4_t* h);

/* Moves both streams to the first key frame at most 1600 ms before time_stamp (ms from the
 * start) or, failing that, the first key frame after it. 1 found, 0 none, -1 when an index
 * table could not be read. */
ZELPLAY_API int custommp4_seek_to_time_stamp(custommp4_t* h, uint32_t time_stamp);

/* As above for a time in seconds since 1970: a time before the start seeks to the start, a
 * time after the end time returns 0. */
ZELPLAY_API int custommp4_seek_to_time(custommp4_t* h, uint32_t seconds);

/* Getters (0 for a NULL handle). */
ZELPLAY_API uint32_t custommp4_start_time(custommp4_t* h);   /* seconds since 1970 */
ZELPLAY_API uint32_t custommp4_end_time(custommp4_t* h);     /* seconds since 1970 */
ZELPLAY_API uint32_t custommp4_duration(custommp4_t* h);     /* ms */
ZELPLAY_API uint32_t custommp4_video_frames(custommp4_t* h); /* total of the record */
ZELPLAY_API uint32_t custommp4_audio_frames(custommp4_t* h); /* total of the record */
ZELPLAY_API int custommp4_has_audio(custommp4_t* h);         /* audio frames != 0 */
ZELPLAY_API int custommp4_video_width(custommp4_t* h);
ZELPLAY_API int custommp4_video_height(custommp4_t* h);
ZELPLAY_API float custommp4_video_frame_rate(custommp4_t* h);
ZELPLAY_API uint32_t custommp4_video_bit_rate(custommp4_t* h); /* nominal */
ZELPLAY_API int custommp4_audio_bits_per_sample(custommp4_t* h);
/* Further facts of the stream headers, for tools. */
ZELPLAY_API uint32_t custommp4_segment_count(custommp4_t* h);
/* Facts of segment index (0 .. segment count - 1): time stamps in ms and frame counts.
 * Returns 1, or 0 for an index out of range (outputs untouched). Outputs may be NULL. */
ZELPLAY_API int custommp4_segment_info(custommp4_t* h, uint32_t index, uint32_t* first_time_stamp,
                                       uint32_t* last_time_stamp, uint32_t* video_frames,
                                       uint32_t* audio_frames);
ZELPLAY_API void custommp4_video_codec(custommp4_t* h, char tag[5]); /* NUL-terminated */
ZELPLAY_API void custommp4_audio_codec(custommp4_t* h, char tag[5]);
ZELPLAY_API int custommp4_audio_sample_rate(custommp4_t* h);
ZELPLAY_API int custommp4_audio_channels(custommp4_t* h);
ZELPLAY_API int custommp4_audio_frame_size(custommp4_t* h);     /* bytes */
ZELPLAY_API int custommp4_audio_frame_duration(custommp4_t* h); /* ms */
/* The number of the next video / audio frame, counted over the record from 0. */
ZELPLAY_API uint32_t custommp4_video_position(custommp4_t* h);
ZELPLAY_API uint32_t custommp4_audio_position(custommp4_t* h);

/*
 * Writing (handles opened in modes 1 to 3). Declare the streams before the first frame:
 * each declaration sets the stream's present flag, which reserves its index table in every
 * segment. Frames carry time stamps in ms from the start time, in non-decreasing order per
 * stream. A segment is closed and a new one begun when either index table is full. Each
 * call returns 1, or 0 when the handle does not write, the call comes too late, the frame
 * would reach beyond the readable 128 MiB, or writing to the file failed (see
 * custommp4_write_error; finish such a record with custommp4_close_checked).
 */
ZELPLAY_API int custommp4_set_start_time(custommp4_t* h, uint32_t seconds);
/* The error number (errno) of the first write, flush or positioning that failed on a handle
 * being written, 0 while all succeeded. After a failure the handle takes no more frames. */
ZELPLAY_API int custommp4_write_error(custommp4_t* h);
/* Index entries reserved per segment (default 3000 video, 4000 audio; at most 2^20 each). */
ZELPLAY_API int custommp4_set_index_capacity(custommp4_t* h, uint32_t video_entries,
                                             uint32_t audio_entries);
ZELPLAY_API int custommp4_set_video_format(custommp4_t* h, int width, int height, float frame_rate,
                                           uint32_t bit_rate, const char codec_tag[4]);
ZELPLAY_API int custommp4_set_audio_format(custommp4_t* h, const char codec_tag[4], int sample_rate,
                                           int bits_per_sample, int channels, int frame_size,
                                           int frame_duration_ms);
/* frame_type: 3 or 5 for key frames, other values for the rest. */
ZELPLAY_API int custommp4_write_video_frame(custommp4_t* h, const uint8_t* data, int size,
                                            uint32_t time_stamp, uint8_t frame_type);
/* size must equal the declared audio frame size. */
ZELPLAY_API int custommp4_write_audio_frame(custommp4_t* h, const uint8_t* data, int size,
                                            uint32_t time_stamp);

ZELPLAY_END_DECLS

#endif /* ZELPLAY_CUSTOMMP4_H */
