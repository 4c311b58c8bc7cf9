/*
 * The external H.264 decoder's three calls: create a decoder for a picture size, decode one
 * access unit (byte-stream form, start codes included) into a picture, destroy the decoder.
 *
 * This build decodes with libavcodec, set up so that one access unit in gives its picture
 * out with no frame delay. The reported size is the picture's display size, with the cropping
 * of its sequence parameter set applied: a 1080-line stream coded as 68 macroblock rows
 * reports 1080 lines, as a hardware decoder hands it out.
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

/* Output picture description, filled by each Hi264DecAU that produces a picture. The planes
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

/* Creates a decoder; null when attr is null or the decoder cannot be set up. */
Hi264DecHandle Hi264DecCreate(const Hi264DecAttr* attr);

/* Decodes one access unit. Returns 0 when a picture was produced (frame filled), nonzero
 * otherwise (no picture, a decoding error or a bad argument). timeStamp and flags are
 * carried for the caller and not interpreted. */
int32_t Hi264DecAU(Hi264DecHandle handle, const uint8_t* stream, uint32_t length,
                   uint64_t timeStamp, Hi264DecFrame* frame, uint32_t flags);

/* Destroys a decoder; a null handle is ignored. */
void Hi264DecDestroy(Hi264DecHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* HI264DEC_H */
