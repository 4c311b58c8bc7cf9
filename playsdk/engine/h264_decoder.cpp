#include "h264_decoder.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelplay {

namespace {
constexpr uint8_t kFrameTypeWithSps = 3;
constexpr uint32_t kDecodeMode = 2;
// A stream whose pictures keep changing size under the same access unit is given up on
// after this many re-creations within one decode.
constexpr int kMaxSizeRetries = 3;

// Pictures whose sizes round up to the same macroblocks are coded alike: a decoder set up
// for one takes the other (1080 lines are coded as the 1088 of 68 macroblock rows).
bool sameCodedSize(int w1, int h1, int w2, int h2) {
    auto mbs = [](int pixels) { return (pixels + 15) / 16; };
    return mbs(w1) == mbs(w2) && mbs(h1) == mbs(h2);
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

bool H264Decoder::recreateLocked(int width, int height) {
    Hi264DecDestroy(handle_);
    handle_ = nullptr;
    Hi264DecAttr attr{};
    attr.picWidthInMbs = static_cast<uint32_t>((width + 8) / 16);
    attr.picHeightInMbs = static_cast<uint32_t>((height + 8) / 16);
    attr.decodeMode = kDecodeMode;
    handle_ = Hi264DecCreate(&attr);
    ++creations_;
    width_ = static_cast<uint16_t>(width);
    height_ = static_cast<uint16_t>(height);
    return handle_ != nullptr;
}

bool H264Decoder::copyPictureLocked(std::vector<uint8_t>& picture, bool cacheCopy) {
    const size_t w = frame_.width, h = frame_.height;
    const size_t lumaBytes = w * h;
    const size_t total = lumaBytes * 3 / 2;
    if (picture.size() < total)
        picture.resize(total);
    uint8_t* out = picture.data();
    uint8_t* outV = out + lumaBytes;
    uint8_t* outU = outV + lumaBytes / 4;
    const size_t cw = w / 2, ch = h / 2;
    // Planes without row padding go over in one piece each.
    if (frame_.yStride == w) {
        copyPlane(out, frame_.pY, lumaBytes, cacheCopy);
    } else {
        for (size_t row = 0; row < h; ++row)
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
    return true;
}

bool H264Decoder::decode(const uint8_t* payload, size_t length, uint8_t frameType,
                         std::vector<uint8_t>& picture, PictureSize& pictureSize, bool cacheCopy) {
    if (payload == nullptr || length == 0 || length > UINT32_MAX)
        return false;
    std::lock_guard lock(decoderLock_);
    if (frameType == kFrameTypeWithSps) {
        if (auto size = readAccessUnitPictureSize(payload, length)) {
            if (handle_ == nullptr || !sameCodedSize(size->width, size->height, width_, height_))
                recreateLocked(size->width, size->height);
        }
    }
    if (handle_ == nullptr)
        recreateLocked(kFallbackWidth, kFallbackHeight);

    bool retriedAfterFailure = false;
    int sizeRetries = 0;
    for (;;) {
        int32_t result =
            handle_ ? Hi264DecAU(handle_, payload, static_cast<uint32_t>(length), 0, &frame_, 0)
                    : -1;
        if (result != 0) {
            if (retriedAfterFailure)
                return false;
            retriedAfterFailure = true;
            recreateLocked(kFallbackWidth, kFallbackHeight);
            continue;
        }
        if (frame_.width > UINT16_MAX || frame_.height > UINT16_MAX)
            return false;
        const int w = static_cast<int>(frame_.width), h = static_cast<int>(frame_.height);
        if (w != width_ || h != height_) {
            if (sameCodedSize(w, h, width_, height_)) {
                // The cropped size of the coded size the decoder was made for.
                width_ = static_cast<uint16_t>(w);
                height_ = static_cast<uint16_t>(h);
            } else {
                if (++sizeRetries > kMaxSizeRetries)
                    return false;
                recreateLocked(w, h);
                continue;
            }
        }
        if (!copyPictureLocked(picture, cacheCopy))
            return false;
        pictureSize = {w, h};
        return true;
    }
}

}  // namespace zelplay
