/*
 * libzelplay exports: the voice codec.
 *
 * A voice frame is a 4-byte header followed by the codec payload:
 *
 *   byte 0  0
 *   byte 1  frame type, 0x01 (a decoder accepts any byte whose two low bits are 01)
 *   byte 2  payload length in 16-bit words (L)
 *   byte 3  0
 *   then    2 * L payload bytes
 *
 * Each call handles exactly one frame of 8 kHz mono signed 16-bit PCM (at most 481 samples).
 * What must survive from frame to frame lives in a state block that the caller owns and sets
 * up with a reset call; the library keeps no global state, so calls on different blocks may
 * run on different threads at once. A block may have any alignment.
 *
 * The HI_VOICE_* calls return 0 on success or one of the HI_VOICE_ERR_* codes below; nothing
 * is written on failure, except that decoding sets the sample count to 0 before it looks at
 * the frame.
 */
#ifndef ZELPLAY_VOICE_H
#define ZELPLAY_VOICE_H

#include <stdint.h>

#include "zelplay/export.h"

/* Codec identifiers, stored in the first 16 bits of a state block by the reset calls. */
enum {
    HI_VOICE_G711A = 1,          /* A-law, one code byte per sample */
    HI_VOICE_G711U = 2,          /* mu-law, one code byte per sample */
    HI_VOICE_ADPCM = 3,          /* IMA/DVI ADPCM, 4-byte state header, first code high */
    HI_VOICE_G726_16 = 4,        /* G.726 16 kbit/s, codes packed from the low bit up */
    HI_VOICE_G726_24 = 5,        /* G.726 24 kbit/s, low bit first */
    HI_VOICE_G726_32 = 6,        /* G.726 32 kbit/s, low bit first */
    HI_VOICE_G726_40 = 7,        /* G.726 40 kbit/s, low bit first */
    HI_VOICE_ADPCM_FIRST = 35,   /* IMA/DVI ADPCM, header holds the first sample, code low */
    HI_VOICE_G726_16_MSB = 36,   /* G.726 16 kbit/s, codes packed from the high bit down */
    HI_VOICE_G726_24_MSB = 37,   /* G.726 24 kbit/s, high bit first */
    HI_VOICE_G726_32_MSB = 38,   /* G.726 32 kbit/s, high bit first */
    HI_VOICE_G726_40_MSB = 39,   /* G.726 40 kbit/s, high bit first */
    HI_VOICE_G711A_SWAPPED = 65, /* A-law, code bytes swapped in pairs */
    HI_VOICE_G711U_SWAPPED = 66, /* mu-law, code bytes swapped in pairs */
    HI_VOICE_ADPCM_STREAM = 67,  /* IMA/DVI ADPCM, no header, predictor carried in the block */
    HI_VOICE_G726_16_WORDS = 68  /* G.726 16 kbit/s, eight codes per little-endian word */
};

/* Transcoding types of HI_VOICE_TransCodeReset. */
enum {
    HI_VOICE_TRANS_G711A = 97,   /* id 65 -> id 1 */
    HI_VOICE_TRANS_G711U = 98,   /* id 66 -> id 2 */
    HI_VOICE_TRANS_ADPCM = 99,   /* id 67 -> id 3 */
    HI_VOICE_TRANS_G726_16 = 100 /* id 68 -> id 4 */
};

/* Sizes. */
#define HI_VOICE_STATE_BYTES 2048           /* one encoder or decoder state block */
#define HI_VOICE_TRANSCODE_STATE_BYTES 4096 /* encoder state, then decoder state at 2048 */
#define HI_VOICE_MAX_SAMPLES 481            /* samples in one frame, at most */
#define HI_VOICE_HEADER_BYTES 4
#define HI_VOICE_MAX_FRAME_BYTES (4 + 2 * 255) /* the largest frame a header can describe */

/* Result codes (0 is success). */
#define HI_VOICE_OK 0
#define HI_VOICE_ERR_ENC_CODEC ((int32_t)0xA1220001u)      /* encoder: unknown codec id */
#define HI_VOICE_ERR_ENC_SAMPLES ((int32_t)0xA1220002u)    /* encoder: count <= 0 or > 481 */
#define HI_VOICE_ERR_DEC_CODEC ((int32_t)0xA1220011u)      /* decoder: unknown codec id */
#define HI_VOICE_ERR_DEC_LENGTH ((int32_t)0xA1220012u)     /* decoder: bad payload length */
#define HI_VOICE_ERR_DEC_TYPE ((int32_t)0xA1220013u)       /* decoder: frame type bits not 01 */
#define HI_VOICE_ERR_NO_STATE ((int32_t)0xA1220101u)       /* no state block */
#define HI_VOICE_ERR_NO_INPUT ((int32_t)0xA1220102u)       /* no PCM or no frame */
#define HI_VOICE_ERR_NO_OUTPUT ((int32_t)0xA1220103u)      /* no output frame, PCM or count */
#define HI_VOICE_ERR_TRANS_NO_STATE ((int32_t)0xA1221001u) /* transcoder: no state block */
#define HI_VOICE_ERR_TRANS_TYPE                                 \
    ((int32_t)0xA1221002u) /* transcoder: unknown type or block \
                             not set up by TransCodeReset */

ZELPLAY_BEGIN_DECLS

/* Copies the version text with its terminating NUL into version (at least 64 bytes).
 * Returns 0, or -1 when version is null. */
ZELPLAY_API int32_t HI_VOICE_GetVersion(char* version);

/* Set up an encoder or decoder state block (HI_VOICE_STATE_BYTES) for codecId. An unknown
 * id is stored anyway and reported (HI_VOICE_ERR_ENC_CODEC / HI_VOICE_ERR_DEC_CODEC). */
ZELPLAY_API int32_t HI_VOICE_EncReset(void* state, uint16_t codecId);
ZELPLAY_API int32_t HI_VOICE_DecReset(void* state, uint16_t codecId);

/* Encodes sampleCount (1..481) samples into one frame and writes exactly its 4 + 2 * L bytes
 * (at most 8 + sampleCount; HI_VOICE_MAX_FRAME_BYTES always suffices). Checks run in the
 * order state, pcm, frame, sampleCount, codec. */
ZELPLAY_API int32_t HI_VOICE_EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame,
                                         int32_t sampleCount);

/* Decodes one frame (4 + 2 * L bytes are read; the frame is not changed) into pcm, which
 * needs room for HI_VOICE_MAX_SAMPLES samples; *sampleCount receives the samples written. */
ZELPLAY_API int32_t HI_VOICE_DecodeFrame(void* state, const uint8_t* frame, int16_t* pcm,
                                         uint16_t* sampleCount);

/* Set up a transcoder block (HI_VOICE_TRANSCODE_STATE_BYTES) for one of the
 * HI_VOICE_TRANS_* types. */
ZELPLAY_API int32_t HI_VOICE_TransCodeReset(void* state, int32_t type);

/* Converts one frame in place. The G.711 types swap each payload byte pair; the ADPCM type
 * turns an L-word id 67 frame into an (L + 2)-word id 3 frame, so frame needs room for
 * 4 more bytes; the G.726 type keeps the length. On an error the frame is left as it was. */
ZELPLAY_API int32_t HI_VOICE_TransCodeFrame(void* state, uint8_t* frame);

/* Turns one recorder audio frame of length bytes into PCM. A frame with header 00 01 52 00
 * (ADPCM, 321 samples) or 00 01 A0 00 (A-law, 320 samples) is decoded into 16-bit samples;
 * input whose length is a multiple of 640 or 642 is taken as 16-bit PCM and copied; anything
 * else as unsigned 8-bit PCM, each byte less 128. *outLength receives the bytes written; out
 * needs room for max(length, 642) bytes. Input shorter than 4 bytes gives 1 and 0 bytes.
 * Returns 1, or 0 for a missing argument or a frame that does not decode (including a frame
 * longer than length). */
ZELPLAY_API int DecAudioFrame(const void* frame, int length, void* out, int* outLength);

/* Encodes length bytes (length / 2 samples, at most 481) of 16-bit PCM into one frame:
 * type 1 ADPCM id 35, type 5 A-law id 1. Types 2 and 3 copy the length bytes unchanged;
 * other types write nothing. Returns 1, or 0 for a missing argument, length <= 0 or an
 * encoding error. */
ZELPLAY_API int EncAudioFrame(int type, const void* pcm, void* out, int length);

ZELPLAY_END_DECLS

#endif /* ZELPLAY_VOICE_H */
