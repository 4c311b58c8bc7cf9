#include "h264_decoder.h"

#include <cstring>
#include <span>

#include "h264/annexb.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelplay {

namespace {
constexpr uint8_t kFrameTypeWithSps = 3;
constexpr uint32_t kDecodeMode = 2;

// Pictures whose sizes round up to the same macroblocks are coded alike: a decoder set up
// for one takes the other (1080 lines are coded as the 1088 of 68 macroblock rows).
bool sameCodedSize(int w1, int h1, int w2, int h2) {
    auto mbs = [](int pixels) { return (pixels + 15) / 16; };
    return mbs(w1) == mbs(w2) && mbs(h1) == mbs(h2);
}

// Whether the unit's picture is an IDR picture (its first slice says so).
bool isIdrUnit(const uint8_t* payload, size_t length) {
    bool idr = false;
    h264::forEachNal(std::span<const uint8_t>(payload, length), [&](std::span<const uint8_t> nal) {
        const uint8_t type = h264::nalType(nal);
        idr = type == h264::kNalIdr;
        return !h264::isVcl(type);
    });
    return idr;
}

// Copies a whole plane. Large planes go with streaming stores, which leave the decoder's
// reference pictures in the cache (the copy is read later, by the callback and the output).
void copyPlane(uint8_t* dst, const uint8_t* src, size_t bytes, bool cacheCopy) {
#if defined(__SSE2__)
    constexpr size_t kStreamingFrom = 256 * 1024;
    if (!cacheCopy && bytes >= kStreamingFrom) {
        while ((reinterpret_cast<uintptr_t>(dst) & 15) != 0 && bytes > 0) {
            *dst++ = *src++;
            --bytes;
        }
        auto* d = reinterpret_cast<__m128i*>(dst);
        const auto* s = reinterpret_cast<const __m128i*>(src);
        const size_t blocks = bytes / 16;
        for (size_t i = 0; i < blocks; ++i)
            _mm_stream_si128(d + i, _mm_loadu_si128(s + i));
        _mm_sfence();
        std::memcpy(dst + blocks * 16, src + blocks * 16, bytes - blocks * 16);
        return;
    }
#endif
    std::memcpy(dst, src, bytes);
}

// Collects the pictures of one call, so that they reach the caller's sink (whose callbacks
// may take the caller's locks) once decoderLock_ is released. Without a sink they are
// dropped (kept by reference, so nothing is copied).
class Deferred final : public PictureSink {
  public:
    explicit Deferred(PictureSink* target) : target_(target) {}
    bool wantsPacked() override { return target_ != nullptr && target_->wantsPacked(); }
    std::shared_ptr<PictureBytes> packedBuffer() override {
        return target_ != nullptr ? target_->packedBuffer() : std::make_shared<PictureBytes>();
    }
    void picture(Picture picture, uint32_t stampMs) override {
        if (target_ != nullptr)
            pictures_.emplace_back(std::move(picture), stampMs);
    }
    // Not under decoderLock_.
    void deliver() {
        for (auto& [picture, stamp] : pictures_)
            target_->picture(std::move(picture), stamp);
        pictures_.clear();
    }

  private:
    PictureSink* target_;
    std::vector<std::pair<Picture, uint32_t>> pictures_;
};

}  // namespace

H264Decoder::~H264Decoder() {
    close();
}

void H264Decoder::setExpectedSize(int width, int height) {
    std::lock_guard lock(decoderLock_);
    width_ = static_cast<uint16_t>(width);
    height_ = static_cast<uint16_t>(height);
}

void H264Decoder::close() {
    std::lock_guard lock(decoderLock_);
    Hi264DecDestroy(handle_);
    handle_ = nullptr;
    stamps_.clear();
}

PictureSize H264Decoder::expectedSize() const {
    std::lock_guard lock(decoderLock_);
    return {width_, height_};
}

bool H264Decoder::hasDecoder() const {
    std::lock_guard lock(decoderLock_);
    return handle_ != nullptr;
}

uint64_t H264Decoder::creations() const {
    std::lock_guard lock(decoderLock_);
    return creations_;
}

int H264Decoder::recreateLocked(int width, int height, PictureSink& sink) {
    const int flushed = flushLocked(sink);
    Hi264DecDestroy(handle_);
    handle_ = nullptr;
    stamps_.clear();
    Hi264DecAttr attr{};
    attr.picWidthInMbs = static_cast<uint32_t>((width + 8) / 16);
    attr.picHeightInMbs = static_cast<uint32_t>((height + 8) / 16);
    attr.decodeMode = kDecodeMode;
    handle_ = Hi264DecCreate(&attr);
    ++creations_;
    width_ = static_cast<uint16_t>(width);
    height_ = static_cast<uint16_t>(height);
    return flushed;
}

bool H264Decoder::emitLocked(PictureSink& sink, bool cacheCopy) {
    if (frame_.width > UINT16_MAX || frame_.height > UINT16_MAX)
        return false;
    const uint32_t stamp = stamps_.out(Hi264DecPictureTimeStamp(handle_));
    // A reordering decoder hands out pictures of earlier units, so a picture of another
    // size is not redecoded: it is the stream's new size, and the decoder follows it.
    width_ = static_cast<uint16_t>(frame_.width);
    height_ = static_cast<uint16_t>(frame_.height);
    Picture picture;
    if (!sink.wantsPacked())
        picture = keepLocked();
    if (picture.empty())
        picture = packLocked(sink, cacheCopy);
    sink.picture(std::move(picture), stamp);
    return true;
}

Picture H264Decoder::keepLocked() {
    Hi264DecPicture* kept = Hi264DecKeepPicture(handle_);
    if (kept == nullptr)
        return {};
    Picture p;
    try {
        p.owner = std::shared_ptr<Hi264DecPicture>(kept, Hi264DecReleasePicture);
    } catch (const std::bad_alloc&) {
        return {};  // the deleter has released it
    }
    p.planes[0] = frame_.pY;
    p.planes[1] = frame_.pV;
    p.planes[2] = frame_.pU;
    p.yStride = static_cast<int>(frame_.yStride);
    p.uvStride = static_cast<int>(frame_.uvStride);
    p.width = static_cast<int>(frame_.width);
    p.height = static_cast<int>(frame_.height);
    return p;
}

Picture H264Decoder::packLocked(PictureSink& sink, bool cacheCopy) {
    const int w = static_cast<int>(frame_.width), h = static_cast<int>(frame_.height);
    const size_t cw = static_cast<size_t>(w) / 2, ch = static_cast<size_t>(h) / 2;
    const size_t lumaBytes = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::shared_ptr<PictureBytes> bytes = sink.packedBuffer();
    if (bytes->size() < lumaBytes * 3 / 2)
        bytes->resize(lumaBytes * 3 / 2);
    uint8_t* out = bytes->data();
    uint8_t* outV = out + lumaBytes;
    uint8_t* outU = outV + lumaBytes / 4;
    // Planes without row padding go over in one piece each.
    if (frame_.yStride == frame_.width) {
        copyPlane(out, frame_.pY, lumaBytes, cacheCopy);
    } else {
        for (size_t row = 0; row < static_cast<size_t>(h); ++row)
            std::memcpy(out + row * w, frame_.pY + row * frame_.yStride, w);
    }
    if (frame_.uvStride == cw) {
        copyPlane(outV, frame_.pV, cw * ch, cacheCopy);
        copyPlane(outU, frame_.pU, cw * ch, cacheCopy);
    } else {
        for (size_t row = 0; row < ch; ++row) {
            std::memcpy(outV + row * cw, frame_.pV + row * frame_.uvStride, cw);
            std::memcpy(outU + row * cw, frame_.pU + row * frame_.uvStride, cw);
        }
    }
    return Picture::packed(std::move(bytes), w, h);
}

int H264Decoder::flushLocked(PictureSink& target, int maxPictures) {
    int pictures = 0;
    while (handle_ != nullptr && pictures < maxPictures) {
        if (Hi264DecFlush(handle_, &frame_) != HI264DEC_PICTURE) {
            stamps_.clear();  // none left: the next unit starts a new stream
            break;
        }
        if (emitLocked(target, true))
            ++pictures;
    }
    return pictures;
}

H264Decoder::Outcome H264Decoder::decode(const uint8_t* payload, size_t length, uint8_t frameType,
                                         uint32_t stampMs, PictureSink& sink, bool cacheCopy) {
    Outcome outcome;
    if (payload == nullptr || length == 0 || length > UINT32_MAX)
        return outcome;
    Deferred deferred(&sink);
    {
        std::lock_guard lock(decoderLock_);
        outcome = decodeLocked(payload, length, frameType, stampMs, deferred, cacheCopy);
    }
    deferred.deliver();
    return outcome;
}

H264Decoder::Outcome H264Decoder::decodeLocked(const uint8_t* payload, size_t length,
                                               uint8_t frameType, uint32_t stampMs,
                                               PictureSink& sink, bool cacheCopy) {
    Outcome outcome;
    if (frameType == kFrameTypeWithSps) {
        if (auto size = readAccessUnitPictureSize(payload, length)) {
            if (handle_ == nullptr || !sameCodedSize(size->width, size->height, width_, height_))
                outcome.pictures += recreateLocked(size->width, size->height, sink);
        }
    }
    if (handle_ == nullptr)
        outcome.pictures += recreateLocked(kFallbackWidth, kFallbackHeight, sink);
    const bool idr = isIdrUnit(payload, length);

    for (bool retried = false;; retried = true) {
        int32_t result = HI264DEC_ERROR;
        if (handle_ != nullptr) {
            const uint64_t unit = ++unitsFed_;
            stamps_.fed(unit, stampMs, idr);
            result = Hi264DecAU(handle_, payload, static_cast<uint32_t>(length), unit, &frame_, 0);
        }
        if (result == HI264DEC_PICTURE) {
            outcome.ok = emitLocked(sink, cacheCopy);
            outcome.pictures += outcome.ok ? 1 : 0;
            return outcome;
        }
        if (result == HI264DEC_NO_PICTURE &&
            h264::hasSlice(std::span<const uint8_t>(payload, length))) {
            outcome.ok = true;  // held back for reordering: it comes out with a later unit
            return outcome;
        }
        // No picture from a unit without one (parameter sets alone, or no H.264 at all), or
        // the decoder failed on the unit: once, it is made anew (its held pictures flushed
        // out first) and the unit tried again.
        if (retried)
            return outcome;
        outcome.pictures += recreateLocked(kFallbackWidth, kFallbackHeight, sink);
    }
}

int H264Decoder::flush(PictureSink& sink, int maxPictures) {
    Deferred deferred(&sink);
    int pictures = 0;
    {
        std::lock_guard lock(decoderLock_);
        pictures = flushLocked(deferred, maxPictures);
    }
    deferred.deliver();
    return pictures;
}

void H264Decoder::discardHeld() {
    Deferred dropped(nullptr);
    std::lock_guard lock(decoderLock_);
    flushLocked(dropped);
}

}  // namespace zelplay
