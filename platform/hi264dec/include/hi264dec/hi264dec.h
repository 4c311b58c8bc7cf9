/*
 * The external H.264 decoder's three calls: create a decoder for a picture size, decode one
 * access unit (byte-stream form, start codes included) into a picture, destroy the decoder;
 * and, beside them, the end of a stream (hand out the pictures still held back) and the time
 * stamp of the picture handed out, and keeping a picture without copying it.
 *
 * This build decodes with libavcodec. One access unit in gives at most one picture out, in
 * display order. A stream with B-frames holds pictures back by its reorder delay (what its
 * sequence parameter set announces), so a call that takes an access unit and hands out no
 * picture yet is not an error (HI264DEC_NO_PICTURE); nor is a unit of parameter sets or SEI
 * alone. At the end of a stream Hi264DecFlush hands out what is still held. The reported
 * size is the picture's display size, with the cropping of its sequence parameter set
 * applied: a 1080-line stream coded as 68 macroblock rows reports 1080 lines, as a hardware
 * decoder hands it out.
 *
 * The decoder's own messages (one per damaged slice) are kept below FFmpeg's default log
 * level unless the environment variable ZELPLAY_DECODER_LOG is set to 1.
 *
 * A handle is used by one thread at a time; different handles may be used on different
 * threads at once.
 */
#ifndef HI264DEC_H
#define HI264DEC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Attribute block: eight 32-bit words. */
typedef struct Hi264DecAttr {
    uint32_t reserved0;
    uint32_t reserved1;
    uint32_t picWidthInMbs;  /* word 2: picture width in 16-pixel macroblocks */
    uint32_t picHeightInMbs; /* word 3: picture height in 16-pixel macroblocks */
    uint32_t decodeMode;     /* word 4: 2 for the playback library */
    uint32_t reserved5;
    uint32_t reserved6;
    uint32_t reserved7;
} Hi264DecAttr;

/* Output picture description, filled by each call that hands out a picture. The planes
 * stay valid until the next call on the same handle. 4:2:0, 8 bits per sample. */
typedef struct Hi264DecFrame {
    const uint8_t* pY; /* luma plane */
    const uint8_t* pU; /* Cb plane */
    const uint8_t* pV; /* Cr plane */
    uint32_t width;    /* picture width in pixels */
    uint32_t height;   /* picture height in pixels */
    uint32_t yStride;  /* bytes from one luma row to the next */
    uint32_t uvStride; /* bytes from one chroma row to the next */
} Hi264DecFrame;

typedef struct Hi264Decoder* Hi264DecHandle;

/* Results of Hi264DecAU and Hi264DecFlush. */
#define HI264DEC_PICTURE 0    /* a picture was handed out (frame filled) */
#define HI264DEC_NO_PICTURE 1 /* nothing to hand out yet (or no more, for a flush); no error */
#define HI264DEC_ERROR (-1)   /* a bad argument, or a unit with slices that did not decode */

/* Creates a decoder; null when attr is null or the decoder cannot be set up. */
Hi264DecHandle Hi264DecCreate(const Hi264DecAttr* attr);

/* Decodes one access unit and hands out the next picture in display order, if one is due:
 * HI264DEC_PICTURE, HI264DEC_NO_PICTURE or HI264DEC_ERROR (any nonzero result means no
 * picture). timeStamp is carried with the unit's picture (Hi264DecPictureTimeStamp); flags
 * are not interpreted. */
int32_t Hi264DecAU(Hi264DecHandle handle, const uint8_t* stream, uint32_t length,
                   uint64_t timeStamp, Hi264DecFrame* frame, uint32_t flags);

/* The end of a stream: hands out the next picture still held back (HI264DEC_PICTURE), or
 * HI264DEC_NO_PICTURE once none is left; the decoder then takes a new stream, its parameter
 * sets still known. HI264DEC_ERROR for a bad argument. */
int32_t Hi264DecFlush(Hi264DecHandle handle, Hi264DecFrame* frame);

/* The time stamp given with the access unit whose picture the last call handed out (0 for a
 * null handle or before the first picture). */
uint64_t Hi264DecPictureTimeStamp(Hi264DecHandle handle);

/* A picture kept beyond the next call: Hi264DecKeepPicture takes the picture the last call
 * handed out (null when there is none, or no memory); its planes, as that call described
 * them, stay valid and unchanged until Hi264DecReleasePicture, which may be called on any
 * thread, also after the decoder is destroyed. A null picture is ignored. */
typedef struct Hi264DecPicture Hi264DecPicture;
Hi264DecPicture* Hi264DecKeepPicture(Hi264DecHandle handle);
void Hi264DecReleasePicture(Hi264DecPicture* picture);

/* Destroys a decoder; a null handle is ignored. */
void Hi264DecDestroy(Hi264DecHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* HI264DEC_H */
