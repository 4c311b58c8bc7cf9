/*
 * libzelplay exports: the AVI file reader.
 *
 * Reads RIFF "AVI " files with their OpenDML extension (super and standard indexes, "RIFF
 * AVIX" parts past 1 GiB): one video stream and up to eight audio tracks. The frame index
 * comes from the OpenDML indexes or "idx1", or is rebuilt by scanning the "movi" lists when
 * the file has neither. Every size and offset taken from the file is checked against the file
 * and the buffers: a damaged file gives an error or a shorter index. Index entries whose data
 * lies beyond the end of the file are kept; reading such a frame or chunk fails with code 3.
 *
 * Only regular files are read, and the open never waits (a FIFO or a device fails with
 * AVI_ERR_READ at once).
 *
 * What the reader has to say (an index rebuilt, a short read) goes to the library's log:
 * standard error, the file named by ZELPLAY_LOG, or nowhere when ZELPLAY_LOG is "off".
 *
 * Failures return -1 (or NULL) and set the process-wide error code read with
 * avi_reader_errno(); a successful open sets it to 0. A handle is used by one thread at a
 * time; different handles may be used on different threads.
 */
#ifndef ZELPLAY_AVILIB_H
#define ZELPLAY_AVILIB_H

#include <stdint.h>

#include "zelplay/export.h"

ZELPLAY_BEGIN_DECLS

typedef struct avi_reader_s avi_reader_t;

/* Error codes. */
enum {
    AVI_ERR_READ = 3,     /* a read from the file failed or came up short */
    AVI_ERR_NOT_PERM = 7, /* the operation needs a handle open for reading */
    AVI_ERR_NO_MEM = 8,   /* out of memory */
    AVI_ERR_NO_AVI = 9,   /* not a RIFF "AVI " file */
    AVI_ERR_NO_HDRL = 10, /* no "hdrl" header list */
    AVI_ERR_NO_MOVI = 11, /* no "movi" list */
    AVI_ERR_NO_VIDS = 12, /* no video stream (or no index entry of it) */
    AVI_ERR_NO_IDX = 13   /* the operation needs an index */
};

#define AVI_MAX_AUDIO_TRACKS 8

/* Key frame types reported by avi_reader_read_video. */
enum {
    AVI_FRAME_OTHER = 0,
    AVI_FRAME_INDEX_KEY = 1, /* without a buffer: the index marks the frame as key frame */
    AVI_FRAME_KEY = 3        /* with a buffer: the frame begins with a start code and an SPS */
};

ZELPLAY_API int avi_reader_errno(void);
ZELPLAY_API const char* avi_reader_strerror(int code);

/* Opens path for reading; build_index nonzero builds the frame index (rebuilding it from the
 * "movi" list when the file has none). */
ZELPLAY_API avi_reader_t* avi_reader_open(const char* path, int build_index);
ZELPLAY_API void avi_reader_close(avi_reader_t* h);

/* Video stream. */
ZELPLAY_API long avi_reader_video_frames(avi_reader_t* h);
ZELPLAY_API int avi_reader_width(avi_reader_t* h);
ZELPLAY_API int avi_reader_height(avi_reader_t* h);
ZELPLAY_API double avi_reader_frame_rate(avi_reader_t* h);
ZELPLAY_API void avi_reader_video_codec(avi_reader_t* h, char tag[5]); /* NUL-terminated */
ZELPLAY_API long avi_reader_video_start(avi_reader_t* h);              /* first frame, in frames */
/* Whether the index came from a scan of the file (1) or from the file's own index (0). */
ZELPLAY_API int avi_reader_index_rebuilt(avi_reader_t* h);

/* Audio tracks: the getters below describe the current track (0 unless set). */
ZELPLAY_API int avi_reader_audio_tracks(avi_reader_t* h);
ZELPLAY_API int avi_reader_set_audio_track(avi_reader_t* h, int track); /* 0 or -1 */
ZELPLAY_API int avi_reader_audio_bits(avi_reader_t* h);                 /* <= 0: no audio */
ZELPLAY_API int avi_reader_audio_channels(avi_reader_t* h);
ZELPLAY_API int avi_reader_audio_format(avi_reader_t* h);
ZELPLAY_API long avi_reader_audio_rate(avi_reader_t* h);
ZELPLAY_API long avi_reader_audio_mp3rate(avi_reader_t* h);
ZELPLAY_API int64_t avi_reader_audio_bytes(avi_reader_t* h); /* total of the track */

/* Video frames by number. */
ZELPLAY_API int avi_reader_seek_video(avi_reader_t* h, long frame);
ZELPLAY_API long avi_reader_frame_size(avi_reader_t* h);
/* Reads the frame at the video position into buffer, which must hold avi_reader_frame_size()
 * bytes, or, with buffer NULL, only reports it; *key_frame (may be NULL) receives one of the
 * AVI_FRAME_* types. Returns the frame size and advances by one; -1 past the end, and -1 with
 * code 3 when the frame cannot be read (its data lies beyond the end of the file). */
ZELPLAY_API long avi_reader_read_video(avi_reader_t* h, uint8_t* buffer, int* key_frame);
/* As avi_reader_read_video for a buffer of buffer_size bytes: a larger frame fails with code 3
 * and the video position stays where it is. */
ZELPLAY_API long avi_reader_read_video_bounded(avi_reader_t* h, uint8_t* buffer, long buffer_size,
                                               int* key_frame);

/* Audio by chunk and byte. */
ZELPLAY_API long avi_reader_audio_chunks(avi_reader_t* h);
ZELPLAY_API long avi_reader_audio_chunk_size(avi_reader_t* h, long chunk);
ZELPLAY_API int avi_reader_seek_audio_chunk(avi_reader_t* h, long chunk);
ZELPLAY_API int avi_reader_seek_audio_byte(avi_reader_t* h, int64_t byte);
/* Reads up to bytes bytes from the current track; 0 bytes moves to the next chunk. */
ZELPLAY_API long avi_reader_read_audio(avi_reader_t* h, uint8_t* buffer, long bytes);

ZELPLAY_END_DECLS

#endif /* ZELPLAY_AVILIB_H */
