// The port's H.264 decoder wrapper over the external decoder's calls.
//
// A decode takes one access unit and hands the pictures that come out to a sink, in display
// order, each with its time stamp (PictureStamps). A stream with B-frames gives no picture
// for its first units and then one per unit; the pictures still held at the end of the
// stream come out with flush(). When the decoder has to be made anew (a key frame of
// another size, or a unit the decoder failed on), the old decoder's held pictures are
// flushed out first, so that none is lost.
//
// Thread contract: every method may be called from any thread; decoderLock_ makes each call
// atomic against the others. The sink's pictures are handed over once the lock is released
// (its wantsPacked and packedBuffer are called under it, and must take no lock but leaves).
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "hi264dec/hi264dec.h"
#include "picture_stamps.h"
#include "shared_picture.h"
#include "sps_reader.h"

namespace zelplay {

// Where decoded pictures go.
class PictureSink {
  public:
    virtual ~PictureSink() = default;
    // Whether the pictures are to be copied packed into buffers of the sink's (to be worked
    // on, or handed to a caller that takes them packed); otherwise they come as the
    // decoder's own planes, kept without a copy.
    virtual bool wantsPacked() = 0;
    // A buffer that nobody else holds, for the next packed picture; the decoder grows it to
    // the picture's size. May throw std::bad_alloc.
    virtual std::shared_ptr<PictureBytes> packedBuffer() = 0;
    // A picture and its time stamp.
    virtual void picture(Picture picture, uint32_t stampMs) = 0;
};

class H264Decoder {
  public:
    H264Decoder() = default;
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    struct Outcome {
        bool ok = false;   // false: the unit could not be decoded
        int pictures = 0;  // pictures handed to the sink (also when not ok)
    };

    // The size the next decode expects (ZelPlay_Play sets 352 x 288).
    void setExpectedSize(int width, int height);
    // Decodes one access unit stamped stampMs. A unit whose picture is held back for
    // reordering is ok with 0 pictures. A unit without a picture in it (parameter sets
    // alone) or one the decoder fails on is not ok, after the decoder was made anew once and
    // the unit tried again (the parameter sets are then known). cacheCopy keeps the copies
    // in the cache, for a sink that works on them at once.
    Outcome decode(const uint8_t* payload, size_t length, uint8_t frameType, uint32_t stampMs,
                   PictureSink& sink, bool cacheCopy = false);
    // The end of the stream: the pictures still held, in order, up to maxPictures of them
    // (the rest stay held for the next flush); their count.
    int flush(PictureSink& sink, int maxPictures = INT_MAX);
    // Drops the pictures still held (a jump to elsewhere in the stream).
    void discardHeld();
    // Destroys the external decoder (the expected size stays); held pictures are dropped.
    void close();
    // The size the decoder is set up for, which follows the pictures: a picture's own size
    // travels with it.
    PictureSize expectedSize() const;
    bool hasDecoder() const;
    // How many times the external decoder was created (for tests and benchmarks).
    uint64_t creations() const;

    static constexpr int kFallbackWidth = 1920;
    static constexpr int kFallbackHeight = 1080;

  private:
    Outcome decodeLocked(const uint8_t* payload, size_t length, uint8_t frameType, uint32_t stampMs,
                         PictureSink& sink, bool cacheCopy);
    // Flushes the held pictures into sink, then makes the decoder anew; the pictures flushed.
    int recreateLocked(int width, int height, PictureSink& sink);
    int flushLocked(PictureSink& sink, int maxPictures = INT_MAX);
    // Hands the picture in frame_ to the sink; false when it cannot be described.
    bool emitLocked(PictureSink& sink, bool cacheCopy);
    // The picture in frame_ kept by reference, or packed into a buffer of the sink's.
    Picture keepLocked();
    Picture packLocked(PictureSink& sink, bool cacheCopy);

    mutable std::mutex decoderLock_;  // guards everything below and every decoder call
    Hi264DecHandle handle_ = nullptr;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    Hi264DecFrame frame_{};
    uint64_t creations_ = 0;
    uint64_t unitsFed_ = 0;  // numbers the units for the decoder and the stamps
    PictureStamps stamps_;
};

}  // namespace zelplay
