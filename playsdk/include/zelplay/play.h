/*
 * libzelplay exports: ports and playback.
 *
 * A port is one independent player. Take one with ZelPlay_GetPort, choose the play mode,
 * open a stream, play it, feed frame records, and free the port when done:
 *
 *   ZelPlay_GetPort -> [ZelPlay_SetPlayMode, ZelPlay_SetDelayTime, callbacks, colour]
 *     -> ZelPlay_OpenStream -> ZelPlay_Play -> ZelPlay_InputVideoData / InputAudioData ...
 *     -> ZelPlay_Stop -> ZelPlay_Close -> ZelPlay_FreePort
 *
 * A file (mode 2) is opened with ZelPlay_OpenFile or ZelPlay_OpenFileEx instead of a stream and
 * plays on library threads from ZelPlay_Play to ZelPlay_Stop:
 *
 *   ZelPlay_GetPort -> ZelPlay_SetPlayMode(2) -> [ZelPlay_SetFileEndMsg, callbacks]
 *     -> ZelPlay_OpenFile -> ZelPlay_Play -> ZelPlay_Pause / Fast / Slow / OneByOne,
 *        ZelPlay_SetPlayPos / GetPlayPos ... -> ZelPlay_Stop -> ZelPlay_Close -> FreePort
 *
 * Every call returns 1 for success and 0 for failure (queries return their value, 0 on
 * failure) and stores an error code (ZELPLAY_ERR_*) in the port, read back with
 * ZelPlay_GetLastError. A handle that is not a live port makes a call return 0 without
 * storing anything. Calls may come from any thread; freeing a port while another thread
 * calls into it is safe (that call either completes on the port or finds no port).
 *
 * Callbacks run on library threads (the caller's own thread for real-time input) while the
 * port's decoding is held up for them. What a callback (decode, SEI or draw) may call:
 *   - on its own port, every export except ZelPlay_Stop, ZelPlay_Close, ZelPlay_SetPlayMode,
 *     ZelPlay_OpenStream, ZelPlay_OpenFile, ZelPlay_OpenFileEx, ZelPlay_FreePort and the
 *     input calls (ZelPlay_InputVideoData, ZelPlay_InputAudioData), which would wait for the
 *     decoding in progress and so for the callback itself: they are refused with
 *     ZELPLAY_ERR_RESOURCES (ZelPlay_FreePort returns 0 and the port stays);
 *   - on other ports, every export. The calls above, and the callback setters
 *     (ZelPlay_SetDecCallBack, ZelPlay_RigisterSEICallBack, ZelPlay_RigisterDrawFun), wait
 *     for the other port's decoding or callbacks, and so work only on ports made (by
 *     ZelPlay_GetPort) after the callback's own port. On ports made before it they are
 *     refused with ZELPLAY_ERR_RESOURCES: two callbacks calling into each other's ports can
 *     never wait for each other in a circle;
 *   - while another thread stops, closes, frees or re-modes the callback's own port, every
 *     call it may make: none of them deadlocks, since those calls wait for the library's
 *     threads only after letting go of what a callback's call needs. The other thread's
 *     call then ends first or last: a ZelPlay_Play that comes after a stop starts play
 *     again;
 *   - a callback that replaces another kind of callback (ZelPlay_RigisterDrawFun from a
 *     decode callback, ZelPlay_SetDecCallBack from the draw callback) waits for a call of
 *     that one in progress, so two callbacks must not replace each other at the same time;
 *   - ZelPlay_SetPlayPos from a callback on the file video thread, or on a port that is not
 *     newer than the callback's, returns at once, before the seek has found its key frame.
 * Once ZelPlay_SetDecCallBack or ZelPlay_RigisterSEICallBack has returned, the callback it
 * replaced or cleared is no longer running and is not called again (a callback that clears
 * itself returns from the clearing call at once). The buffers a callback receives are valid
 * only during the call.
 *
 * H.264 is decoded as encoders write it: B-frames, delimiters, SEI, several slices a picture,
 * parameter sets repeated or changed, a new picture size. The decode callback receives every
 * picture once, in display order. With B-frames a picture comes out a few frames after the
 * frame that carried it: a frame whose picture is held back for reordering is no failure
 * (the input call returns 1), and at the end of a stream (ZelPlay_Stop, ZelPlay_Close,
 * ZelPlay_SetPlayMode, ZelPlay_FreePort) or of a file the pictures still held come out before
 * play ends. Each picture is reported with the smallest time stamp of the frames fed that
 * has not been reported yet: the picture's own presentation time when frames are stamped
 * so, or its place in the rising clock of frames stamped in decoding order (records, AVI).
 */
#ifndef ZELPLAY_PLAY_H
#define ZELPLAY_PLAY_H

#include <stdint.h>

#include "zelplay/export.h"

/* A port handle (the address of the port record) and a caller's value for callbacks. */
typedef intptr_t ZELPLAY_PORT;
typedef intptr_t ZELPLAY_USER;

/* Library version returned by ZelPlay_GetSdkVersion. */
#define ZELPLAY_SDK_VERSION 0x03010014

/* Play modes (ZelPlay_SetPlayMode). */
#define ZELPLAY_MODE_REALTIME 0 /* each input call decodes and shows its frame at once */
#define ZELPLAY_MODE_BUFFERED 1 /* input is queued and paced by its time stamps */
#define ZELPLAY_MODE_FILE 2     /* a record or AVI file plays on file threads */

/* Error codes (ZelPlay_GetLastError). */
#define ZELPLAY_ERR_NONE 0
#define ZELPLAY_ERR_ARGUMENT 1     /* missing pointer, value out of range, bad frame size */
#define ZELPLAY_ERR_MODE 2         /* not available in the port's play mode */
#define ZELPLAY_ERR_FILE_OPEN 3    /* the file cannot be opened */
#define ZELPLAY_ERR_NO_VIDEO 4     /* the file holds no video frames */
#define ZELPLAY_ERR_NOT_OPEN 5     /* nothing is open on the port */
#define ZELPLAY_ERR_NOT_PLAYING 6  /* the port is not playing */
#define ZELPLAY_ERR_RENDERER 7     /* the renderer cannot be set up for the window */
#define ZELPLAY_ERR_DECODER 8      /* the decoder cannot be set up */
#define ZELPLAY_ERR_SOUND_FORMAT 9 /* the sound output refuses the format */
/* Video frame not decoded (or dropped for a gap), or no key frame to seek to. */
#define ZELPLAY_ERR_VIDEO_DECODE 10
#define ZELPLAY_ERR_AUDIO_DECODE 11    /* audio frame not decoded */
#define ZELPLAY_ERR_NO_POSITION 12     /* file play is not running */
#define ZELPLAY_ERR_SNAPSHOT_FOLDER 13 /* the snapshot folder cannot be created */
#define ZELPLAY_ERR_SNAPSHOT_WRITE 14  /* the snapshot file cannot be written */
#define ZELPLAY_ERR_BUFFER_FULL 15     /* the source buffer is full */
/* Out of memory, or a thread cannot be started, or a call from a callback that would wait for
 * the callback itself. */
#define ZELPLAY_ERR_RESOURCES 16

/* Longest file path a port keeps, terminating NUL included (ZelPlay_OpenFile, ZelPlay_OpenFileEx,
 * ZelPlay_GetPlayInfo's buffer). */
#define ZELPLAY_PATH_MAX 520

/* The end message of file play (ZelPlay_SetFileEndMsg). When a file's video thread ends (end
 * of the file, a read error, or ZelPlay_Stop), the library sends the window an X11
 * ClientMessage over a display connection of its own ($DISPLAY), with no event mask, so it
 * reaches the client that created the window:
 *   message_type  the message number given to ZelPlay_SetFileEndMsg, as an atom value
 *   format        32
 *   data.l[0]     the port handle's low 32 bits
 *   data.l[1]     the port handle's high 32 bits (0 on 32-bit systems)
 *   data.l[2..4]  0
 * Xlib widens each 32-bit item to a long with sign extension: mask with 0xFFFFFFFF before
 * joining them. Nothing is allocated for the message; it is sent once per play. */

/* Source buffer size limits of ZelPlay_OpenStream in the buffered mode, in bytes. */
#define ZELPLAY_SOURCE_BUFFER_MIN 66560
#define ZELPLAY_SOURCE_BUFFER_MAX 102400000

/* Frame record: this 40-byte little-endian header immediately followed by the payload.
 * The size argument of an input call must be payloadLength + 40. */
#define ZELPLAY_FRAME_HEADER_BYTES 40
#define ZELPLAY_FRAME_KIND_VIDEO 0x62 /* 'b'; any other kind is audio */
typedef struct ZELPLAY_FRAME_HEADER {
    uint8_t kind;            /* 0x62 video, anything else audio */
    uint8_t reserved1[3];    /* not read */
    uint32_t payloadAddress; /* ignored on input */
    uint32_t reserved8;      /* not read */
    uint32_t payloadLength;  /* payload bytes after the header */
    uint8_t frameRate;       /* frames per second, reported to the decode callback */
    uint8_t reserved17[3];   /* not read */
    uint32_t sequence;       /* video: consecutive numbers, one apart */
    uint32_t timeStamp;      /* milliseconds, the pacing clock of the buffered mode */
    uint32_t frameType;      /* video: 0 = not a key frame; 3 = key frame led by an SPS */
    uint16_t extra32;        /* carried with the frame, not interpreted */
    uint16_t extra34;        /* carried with the frame, not interpreted */
    uint32_t extra36;        /* carried with the frame, not interpreted */
} ZELPLAY_FRAME_HEADER;

/* Frame information given to the decode callback. */
#define ZELPLAY_FRAME_TYPE_YV12 11 /* video: planar 4:2:0, Y then V then U */
#define ZELPLAY_FRAME_TYPE_PCM8 1  /* audio: 8-bit samples */
#define ZELPLAY_FRAME_TYPE_PCM16 2 /* audio: 16-bit samples */
typedef struct ZELPLAY_FRAME_INFO {
    int32_t width;     /* video: picture width; audio: 0 */
    int32_t height;    /* video: picture height; audio: 0 */
    int32_t timeStamp; /* ms */
    int32_t type;      /* ZELPLAY_FRAME_TYPE_* */
    int32_t frameRate; /* video: frames per second; audio: bits * 1000 / PCM bytes */
} ZELPLAY_FRAME_INFO;

/* SEI user data record given to the SEI callback: 258 bytes. */
typedef struct ZELPLAY_SEI_RECORD {
    uint8_t type;
    uint8_t length;    /* bytes of data used */
    uint8_t data[256]; /* the rest is zero */
} ZELPLAY_SEI_RECORD;

/* Decoded picture (the planar buffer, width * height * 3 / 2 bytes) or PCM. */
typedef void (*ZELPLAY_DEC_CALLBACK)(ZELPLAY_PORT port, const uint8_t* data, int32_t size,
                                     const ZELPLAY_FRAME_INFO* info, ZELPLAY_USER user);
/* One SEI user data record of a video frame about to be decoded; the result is ignored. */
typedef int32_t (*ZELPLAY_SEI_CALLBACK)(ZELPLAY_PORT port, const ZELPLAY_SEI_RECORD* record,
                                        uint32_t timeStampMs, ZELPLAY_USER user);
/* Drawing over each picture shown: context is a cairo_t* on the picture at its own size
 * (picture coordinates, origin top left), before it is scaled to the window; what the
 * callback draws is shown over the picture. It runs on the port's render thread. With a
 * draw callback set, a port that shows its pictures through XVideo takes the software (RGB)
 * path instead, since the adaptor's output cannot be drawn on. */
typedef void (*ZELPLAY_DRAW_CALLBACK)(ZELPLAY_PORT port, void* context, ZELPLAY_USER user);

ZELPLAY_BEGIN_DECLS

/* Ports and errors. */
ZELPLAY_API int32_t ZelPlay_GetPort(ZELPLAY_PORT* port);
ZELPLAY_API int32_t ZelPlay_FreePort(ZELPLAY_PORT port);
ZELPLAY_API uint32_t ZelPlay_GetLastError(ZELPLAY_PORT port); /* 1 for a handle that is no port */
ZELPLAY_API uint32_t ZelPlay_GetSdkVersion(void);

/* Mode, open, play. */
ZELPLAY_API int32_t ZelPlay_SetPlayMode(ZELPLAY_PORT port, int32_t mode);
ZELPLAY_API int32_t ZelPlay_SetDelayTime(ZELPLAY_PORT port, int32_t seconds, int32_t reserved);
ZELPLAY_API int32_t ZelPlay_OpenStream(ZELPLAY_PORT port, uint32_t bufferBytes);
ZELPLAY_API int32_t ZelPlay_Close(ZELPLAY_PORT port);
/* window: an X11 window id on the display named by $DISPLAY, or 0 to decode without
 * drawing. Pictures are scaled to the window's size, which is followed as it changes; the
 * library draws through connections of its own with the first video output that works
 * (XVideo, MIT-SHM, plain XPutImage; ZELPLAY_VIDEO_OUTPUT=xv|shm|x11|null forces the first
 * one tried) and says in its log (standard error, or the file named by ZELPLAY_LOG) which
 * one a window took. At the first ZelPlay_Play with a window the library installs an Xlib
 * error handler that keeps errors on its own connections (a window destroyed while a port
 * draws into it) and hands every other error to the handler installed before it; a
 * handler installed later should do the same. */
ZELPLAY_API int32_t ZelPlay_Play(ZELPLAY_PORT port, uintptr_t window);
/* Stops play; the window is cleared (black, then its owner gets an Expose to repaint). In the
 * stream modes the pictures the decoder still holds go to the decode callback first, on the
 * calling thread. */
ZELPLAY_API int32_t ZelPlay_Stop(ZELPLAY_PORT port);

/* Sound. Every port decodes its audio; one port of the process, the sound port, is heard.
 * ZelPlay_PlaySound silences the sound port, then makes this port the sound port, opening
 * its sound output for bitsPerSample (8 or 16) mono at sampleRate (4 000 to 192 000 Hz)
 * unless it runs already in a format of its own audio; another format stores
 * ZELPLAY_ERR_SOUND_FORMAT and leaves no port heard. Freeing a port never waits for another
 * port's sound device to close. Samples are played signed, as DecAudioFrame hands them on (it makes
 * raw unsigned 8-bit PCM signed), so 8-bit sound is heard as it was recorded.
 * ZelPlay_StopSound silences the sound port at once and always returns 1. The volume,
 * 0..65535 (the low 16 bits of the argument), scales what the port plays by
 * trunc(volume / 65535 * 100) per cent.
 * Real-time audio input waits (up to 3 s, never while pictures wait for it) while the sound
 * port's output holds 30 buffers not yet played, so a caller that feeds faster than real
 * time is held to the pace of the sound. Buffered play never waits for the sound: what a
 * stalled output cannot take is dropped. File play waits for it on its audio thread, and
 * its pictures go on. */
ZELPLAY_API int32_t ZelPlay_PlaySound(ZELPLAY_PORT port, int32_t bitsPerSample, int32_t sampleRate);
ZELPLAY_API int32_t ZelPlay_StopSound(void);
ZELPLAY_API int32_t ZelPlay_SetVolume(ZELPLAY_PORT port, uint32_t volume);
ZELPLAY_API uint32_t ZelPlay_GetVolume(ZELPLAY_PORT port); /* 0 for a handle that is no port */

/* Stream input. */
ZELPLAY_API int32_t ZelPlay_InputVideoData(ZELPLAY_PORT port, const uint8_t* record, uint32_t size);
ZELPLAY_API int32_t ZelPlay_InputAudioData(ZELPLAY_PORT port, const uint8_t* record, uint32_t size);
ZELPLAY_API int32_t ZelPlay_GetSourceBufferRemain(ZELPLAY_PORT port);
ZELPLAY_API int32_t ZelPlay_ResetSourceBuffer(ZELPLAY_PORT port);

/* Play control. */
ZELPLAY_API int32_t ZelPlay_Pause(ZELPLAY_PORT port, int32_t pause);
ZELPLAY_API int32_t ZelPlay_Fast(ZELPLAY_PORT port);
ZELPLAY_API int32_t ZelPlay_Slow(ZELPLAY_PORT port);
ZELPLAY_API int32_t ZelPlay_OneByOne(ZELPLAY_PORT port);
ZELPLAY_API uint32_t ZelPlay_GetPlayedTime(ZELPLAY_PORT port);
ZELPLAY_API int32_t ZelPlay_GetPictureSize(ZELPLAY_PORT port, int32_t* width, int32_t* height);

/* Snapshots of the newest picture, as a 24-bit BMP or a JPEG file, optionally with the text
 * of tag drawn in a strip under the picture. A path without a "/" after its first character
 * is a file name in $HOME/SnapShotFile; missing folders are made. quality: 0..100, only the
 * low 8 bits are looked at. Errors: 1 path, tag or quality, 5 not open, 6 not playing,
 * 13 folder cannot be made, 14 file cannot be written (also a path that names something
 * other than a regular file: a snapshot never waits on a FIFO or a device). */
ZELPLAY_API int32_t ZelPlay_GetBMP(ZELPLAY_PORT port, const char* path);
ZELPLAY_API int32_t ZelPlay_GetJPG(ZELPLAY_PORT port, const char* path, int32_t quality);
ZELPLAY_API int32_t ZelPlay_GetBMPWithTag(ZELPLAY_PORT port, const char* path, const char* tag);
ZELPLAY_API int32_t ZelPlay_GetJPGWithTag(ZELPLAY_PORT port, const char* path, int32_t quality,
                                          const char* tag);

/* File play (mode 2). ZelPlay_OpenFile takes a record (".ifv", at offset 0) or an AVI file
 * (".avi"); ZelPlay_OpenFileEx a record at a byte offset of its file, played from startTime
 * (seconds since 1970) when that lies inside the record. Positions are 0..1 of the file.
 * Only regular files are opened, and never with a wait: a FIFO, a folder or a device is
 * refused at once with ZELPLAY_ERR_FILE_OPEN (ZelPlay_GetMediaInfo returns 0).
 * An AVI file plays at the rate its header declares; an empty chunk (a dropped frame, as
 * FFmpeg's muxer writes between the pictures of a B-frame stream) is a frame's time without
 * a picture.
 * ZelPlay_SetPlayPos waits (up to 3 s) for play to find a key frame at the position: in an
 * AVI file the first frame from there on that holds an IDR picture or a sequence parameter
 * set, wherever a delimiter or SEI puts them; in a record the key frame its index gives. When
 * there is none, it returns 0 with ZELPLAY_ERR_VIDEO_DECODE and play goes on where it was.
 * While paused, the picture it lands on is shown and play stays paused. */
ZELPLAY_API int32_t ZelPlay_OpenFile(ZELPLAY_PORT port, const char* path);
ZELPLAY_API int32_t ZelPlay_OpenFileEx(ZELPLAY_PORT port, const char* path, uint32_t baseOffset,
                                       uint32_t startTime);
ZELPLAY_API int32_t ZelPlay_SetPlayPos(ZELPLAY_PORT port, float position);
ZELPLAY_API float ZelPlay_GetPlayPos(ZELPLAY_PORT port);
/* window: an X11 window id (0: no message); see the end message above. */
ZELPLAY_API int32_t ZelPlay_SetFileEndMsg(ZELPLAY_PORT port, uintptr_t window, uint32_t message);

/* File facts (mode 2): duration in ms (0 once play has reached the end), video frames,
 * frames played, and the start (records: seconds since 1970; AVI: the video stream's start). */
ZELPLAY_API uint32_t ZelPlay_GetFileTime(ZELPLAY_PORT port);
ZELPLAY_API uint32_t ZelPlay_GetFileTotalFrames(ZELPLAY_PORT port);
ZELPLAY_API uint32_t ZelPlay_GetPlayedFrames(ZELPLAY_PORT port);
ZELPLAY_API uint32_t ZelPlay_GetFileStartTime(ZELPLAY_PORT port);
/* The open file's path (into a buffer of ZELPLAY_PATH_MAX bytes) and base offset; either
 * pointer may be NULL. */
ZELPLAY_API int32_t ZelPlay_GetPlayInfo(ZELPLAY_PORT port, char* path, uint32_t* baseOffset);
/* Facts of a record or AVI file without a port. Records report a frame count of 0 and a bit
 * rate in bytes per ms; AVI files a bit rate in kilobytes per second. Every pointer is
 * required; baseOffset applies to records. */
ZELPLAY_API int32_t ZelPlay_GetMediaInfo(const char* path, int32_t* width, int32_t* height,
                                         uint32_t* startTime, uint32_t* frameCount,
                                         double* frameRate, uint32_t* durationMs, uint32_t* bitRate,
                                         uint8_t* hasAudio, uint32_t baseOffset);

/* Callbacks. */
ZELPLAY_API int32_t ZelPlay_SetDecCallBack(ZELPLAY_PORT port, ZELPLAY_DEC_CALLBACK callback,
                                           ZELPLAY_USER user);
ZELPLAY_API int32_t ZelPlay_RigisterSEICallBack(ZELPLAY_PORT port, ZELPLAY_SEI_CALLBACK callback,
                                                ZELPLAY_USER user);
/* When it returns, the previous draw callback is no longer running and is not called again;
 * so it waits for a draw in progress, and must not be called while holding a lock that the
 * callback takes. */
ZELPLAY_API int32_t ZelPlay_RigisterDrawFun(ZELPLAY_PORT port, ZELPLAY_DRAW_CALLBACK callback,
                                            ZELPLAY_USER user);

/* Display devices: entry 0 is the whole screen, then one per monitor that XRandR reports.
 * The count is the number of monitors (entries minus one). A port whose window lies away
 * from its device (its origin off the device's area) is drawn in software. */
ZELPLAY_API int32_t ZelPlay_GetDDrawDeviceTotalNums(void);
ZELPLAY_API int32_t ZelPlay_SetDDrawDevice(ZELPLAY_PORT port, int32_t index);

/* Picture adjustment, each value 0..128, 64 neutral. */
ZELPLAY_API int32_t ZelPlay_SetColor(ZELPLAY_PORT port, int32_t brightness, int32_t contrast,
                                     int32_t saturation, int32_t hue);
ZELPLAY_API int32_t ZelPlay_GetColor(ZELPLAY_PORT port, int32_t* brightness, int32_t* contrast,
                                     int32_t* saturation, int32_t* hue);

ZELPLAY_END_DECLS

#endif /* ZELPLAY_PLAY_H */
