// The port's H.264 decoder wrapper over the external decoder's three calls.
//
// Thread contract: every method may be called from any thread; decoderLock_ makes each
// decode atomic against close and re-creation. The picture buffer handed to decode is the
// caller's to guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "hi264dec/hi264dec.h"
#include "sps_reader.h"

namespace zelplay {

class H264Decoder {
  public:
    H264Decoder() = default;
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // The size the next decode expects (ZelPlay_Play sets 352 x 288).
    void setExpectedSize(int width, int height);
    // Decodes one access unit into picture (Y, then V, then U, tightly packed); picture grows
    // to the decoded size and is never written past, and pictureSize is the size of what was
    // written. False when no picture came out (picture and pictureSize are then untouched,
    // except that picture may have grown). cacheCopy keeps the copy in the cache, for a
    // caller that works on the picture at once. Growing picture may throw std::bad_alloc.
    bool decode(const uint8_t* payload, size_t length, uint8_t frameType,
                std::vector<uint8_t>& picture, PictureSize& pictureSize, bool cacheCopy = false);
    // Destroys the external decoder (the expected size stays).
    void close();
    // The size the decoder is set up for, which a picture may not have yet: the picture's
    // own size travels with the picture (decode's pictureSize).
    PictureSize expectedSize() const;
    bool hasDecoder() const;
    // How many times the external decoder was created (for tests and benchmarks).
    uint64_t creations() const;

    static constexpr int kFallbackWidth = 1920;
    static constexpr int kFallbackHeight = 1080;

  private:
    bool recreateLocked(int width, int height);
    bool copyPictureLocked(std::vector<uint8_t>& picture, bool cacheCopy);

    mutable std::mutex decoderLock_;  // guards everything below and every decoder call
    Hi264DecHandle handle_ = nullptr;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    Hi264DecFrame frame_{};
    uint64_t creations_ = 0;
};

}  // namespace zelplay
