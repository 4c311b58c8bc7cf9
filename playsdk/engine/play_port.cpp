#include "play_port.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "port_table.h"
#include "sei.h"
#include "snapshot_path.h"
#include "zelplay/voice.h"

namespace zelplay {

namespace {

constexpr uint32_t kMinSourceBytes = ZELPLAY_SOURCE_BUFFER_MIN;
constexpr uint32_t kMaxSourceBytes = ZELPLAY_SOURCE_BUFFER_MAX;
constexpr size_t kPcmBufferBytes = 1024;
constexpr size_t kLargestCodedAudioPcm = 642;  // 321 ADPCM samples
static_assert(kLargestCodedAudioPcm <= kPcmBufferBytes);
constexpr uint32_t kMaxAudioPayload = 1u << 24;
// The longest a caller's input thread waits for room: one whole buffer of 8-bit sound at
// 8 kHz plays in 2.05 s. A device that takes nothing for longer has stalled, and the frame
// is dropped. The scheduler never waits: it serves every buffered port.
constexpr int64_t kLongestSoundWaitMs = 3000;

// The output format an audio payload decodes to, by DecAudioFrame's classification.
struct AudioFormat {
    int bits;
    int rate;
};
AudioFormat classifyAudio(const uint8_t* p, size_t length) {
    if (length >= 4 && p[0] == 0 && p[1] == 1 && p[3] == 0 && (p[2] == 82 || p[2] == 160)) {
        return {16, 8000};  // ADPCM or A-law voice frame
    }
    if (length >= 4 && (length % 642 == 0 || length % 640 == 0))
        return {16, 16000};  // raw PCM
    if (length < 4)
        return {16, 8000};
    return {8, 8000};  // raw unsigned 8-bit PCM
}

bool headerSizeMatches(const uint8_t* record, uint32_t size) {
    if (record == nullptr || size < kFrameHeaderBytes)
        return false;
    return static_cast<uint64_t>(readLe32(record + 12)) + kFrameHeaderBytes == size;
}

}  // namespace

PlayPort::PlayPort(std::unique_ptr<VideoOutput> video, std::unique_ptr<SoundOutput> sound)
    : video_(std::move(video)), sound_(std::move(sound)) {
    picture_ = Picture::packed(pictures_.acquire(kInitialPictureBytes), kInitialPictureWidth,
                               kInitialPictureHeight);
}

// Each picture out of the decoder, adjusted, published and shown by publishPicture. A
// picture is copied packed into a buffer of the port's pool (so that the last picture stays
// whole, and a snapshot need not wait, while it is decoded) when it is to be adjusted or
// handed to the decode callback, which takes it packed; a picture that is only shown and kept
// for snapshots stays in the decoder's own planes, uncopied.
class PlayPort::Delivery final : public PictureSink {
  public:
    Delivery(PlayPort& port, int32_t frameRate)
        : port_(port),
          frameRate_(frameRate),
          colour_(ColourSettings::unpack(port.colour_.load())) {}
    // Adjusted pictures are worked on at once, so their copies should stay in the cache.
    bool adjusting() const { return !colour_.lumaNeutral() || !colour_.chromaNeutral(); }

    bool wantsPacked() override { return adjusting() || port_.decodeCallback().fn != nullptr; }
    std::shared_ptr<PictureBytes> packedBuffer() override {
        given_.push_back(port_.pictures_.acquire(0));
        return given_.back();
    }
    void picture(Picture picture, uint32_t stampMs) override {
        // A picture in a buffer given out here is the port's own to adjust.
        PictureBytes* writable = nullptr;
        for (auto it = given_.begin(); it != given_.end(); ++it) {
            if (picture.owner == *it) {
                writable = it->get();
                given_.erase(it);
                break;
            }
        }
        port_.publishPicture(std::move(picture), adjusting() ? writable : nullptr, stampMs,
                             frameRate_, colour_);
    }

  private:
    PlayPort& port_;
    const int32_t frameRate_;
    const ColourSettings colour_;                       // one setting for all pictures of a decode
    std::vector<std::shared_ptr<PictureBytes>> given_;  // packed buffers not yet published
};

PlayPort::~PlayPort() {
    Leftovers leftovers;  // waited for last, after the locks
    std::lock_guard decode(decodeLock_);
    std::lock_guard state(stateLock_);
    leftovers = closeLocked();
    std::lock_guard sound(soundLock_);
    silenceLocked();
}

void PlayPort::finishStopping(Leftovers leftovers) {
    leftovers.file.reset();
    leftovers.video.reset();
    callbackGate_.waitForOtherCalls();  // the cleared decode callback is not running anywhere
}

bool PlayPort::mayWaitHere() {
    if (CallbackContext::mayWaitFor(order_))
        return true;
    setError(ZELPLAY_ERR_RESOURCES);
    return false;
}

int32_t PlayPort::setPlayMode(int32_t mode) {
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    {
        std::lock_guard decode(decodeLock_);
        flushHeldPicturesLocked();
        std::lock_guard state(stateLock_);
        leftovers = closeLocked();
        mode_.store(mode);
    }
    finishStopping(std::move(leftovers));
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::setDelayTime(int32_t seconds) {
    startDelaySeconds_.store(seconds);
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::openStream(uint32_t bufferBytes) {
    if (mode_.load() == kModeFile) {
        setError(ZELPLAY_ERR_MODE);
        return 0;
    }
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    uint32_t code = ZELPLAY_ERR_NONE;
    {
        std::lock_guard decode(decodeLock_);
        flushHeldPicturesLocked();
        std::lock_guard state(stateLock_);
        leftovers = closeLocked();
        if (mode_.load() == kModeFile) {
            code = ZELPLAY_ERR_MODE;  // changed meanwhile
        } else if (mode_.load() == kModeBuffered) {
            std::lock_guard queue(queueLock_);
            if (bufferBytes < kMinSourceBytes || bufferBytes > kMaxSourceBytes)
                code = ZELPLAY_ERR_ARGUMENT;
            else if (!source_.open(bufferBytes))
                code = ZELPLAY_ERR_RESOURCES;
            else
                queue_.clear();
        }
        if (code == ZELPLAY_ERR_NONE)
            opened_.store(true);
    }
    finishStopping(std::move(leftovers));
    setError(code);
    return code == ZELPLAY_ERR_NONE ? 1 : 0;
}

int32_t PlayPort::close() {
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    {
        std::lock_guard decode(decodeLock_);
        flushHeldPicturesLocked();
        std::lock_guard state(stateLock_);
        leftovers = closeLocked();
    }
    finishStopping(std::move(leftovers));
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

PlayPort::Leftovers PlayPort::closeLocked() {
    Leftovers leftovers = stopLocked();
    file_.clearOpened();
    {
        std::lock_guard queue(queueLock_);
        dropQueuedFramesLocked();
        source_.close();
        opened_.store(false);
    }
    return leftovers;
}

void PlayPort::dropQueuedFramesLocked() {
    for (const QueuedFrame& f : queue_) {
        source_.release(f.payload);
        source_.release(f.header);
    }
    queue_.clear();
}

int32_t PlayPort::play(uintptr_t window) {
    Leftovers leftovers;  // of a start that failed half-way; waited for after the lock
    std::lock_guard state(stateLock_);
    if (!opened_.load()) {
        setError(ZELPLAY_ERR_NOT_OPEN);
        return 0;
    }
    if (playing_.load()) {
        if (mode_.load() == kModeFile)
            file_.resetSpeed();
        std::lock_guard queue(queueLock_);
        if (mode_.load() == kModeBuffered && streamState_ == StreamState::Playing)
            streamSpeed_ = 1.0;
        setError(ZELPLAY_ERR_NONE);
        return 1;
    }
    video_->selectDevice(displayDevice_);
    if (window != 0 &&
        !video_->setup(SurfaceKind::Yv12, window, kInitialPictureWidth, kInitialPictureHeight)) {
        setError(ZELPLAY_ERR_RENDERER);
        return 0;
    }
    window_ = window;
    decoder_.setExpectedSize(kInitialPictureWidth, kInitialPictureHeight);
    {
        std::lock_guard queue(queueLock_);
        if (mode_.load() == kModeBuffered) {
            streamSpeed_ = 1.0;
            streamState_ = StreamState::Playing;
        }
        firstTimeStamp_.store(kNoTimeStamp);
        playedTime_.store(0);
        playing_.store(true);
    }
    if (mode_.load() == kModeFile && !file_.start(*this)) {
        leftovers = stopLocked();  // nothing decodes yet: no file thread runs
        setError(ZELPLAY_ERR_RESOURCES);
        return 0;
    }
    PortTable::instance().wakeScheduler();
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::stop() {
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    {
        std::lock_guard decode(decodeLock_);
        flushHeldPicturesLocked();
        std::lock_guard state(stateLock_);
        leftovers = stopLocked();
    }
    finishStopping(std::move(leftovers));
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

PlayPort::Leftovers PlayPort::stopLocked() {
    Leftovers leftovers;
    if (playing_.load()) {
        // The file threads are asked to end; a decode of theirs waits for decodeLock_, and
        // finds then that it is not to run.
        leftovers.file = file_.detach();
        {
            // No decode is running (decodeLock_ is held), and none starts after this.
            std::lock_guard queue(queueLock_);
            playing_.store(false);
            streamState_ = StreamState::Idle;
        }
        decoder_.close();
        leftovers.video = video_->detach();
        window_ = 0;
    }
    std::lock_guard callbacks(callbackLock_);
    decodeCallback_ = {};
    return leftovers;
}

void PlayPort::flushHeldPicturesLocked() {
    if (!playing_.load() || mode_.load() == kModeFile)
        return;
    try {
        flushPictures(lastFrameRate_, INT_MAX);
    } catch (const std::bad_alloc&) {
        // No buffer for a held picture: it is lost with the decoder, the stop goes on.
    }
}

int PlayPort::flushPictures(int32_t frameRate, int maxPictures) {
    Delivery delivery(*this, frameRate);
    return decoder_.flush(delivery, maxPictures);
}

int32_t PlayPort::pause(bool pauseFlag) {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    if (mode_.load() == kModeFile)
        file_.pause(pauseFlag);
    if (mode_.load() == kModeBuffered) {
        std::lock_guard queue(queueLock_);
        if (pauseFlag && streamState_ == StreamState::Playing)
            streamState_ = StreamState::Paused;
        if (!pauseFlag && streamState_ == StreamState::Paused)
            streamState_ = StreamState::Playing;
    }
    PortTable::instance().wakeScheduler();
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

void PlayPort::changeSpeed(double factor) {
    if (mode_.load() == kModeFile)
        file_.changeSpeed(factor);
    if (mode_.load() != kModeBuffered)
        return;
    std::lock_guard queue(queueLock_);
    const double next = std::clamp(streamSpeed_ * factor, kMinSpeed, kMaxSpeed);
    if (streamState_ == StreamState::Playing)
        streamSpeed_ = next;
}

int32_t PlayPort::fast() {
    return changeSpeedChecked(2.0);
}

int32_t PlayPort::slow() {
    return changeSpeedChecked(0.5);
}

// Fast and slow: checked like every play call, then the speed changes and the scheduler
// looks at the port again.
int32_t PlayPort::changeSpeedChecked(double factor) {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    changeSpeed(factor);
    PortTable::instance().wakeScheduler();
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::oneByOne() {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    if (mode_.load() == kModeFile)
        file_.step();
    if (mode_.load() == kModeBuffered) {
        std::lock_guard queue(queueLock_);
        streamState_ = StreamState::Step;
    }
    PortTable::instance().wakeScheduler();
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

uint32_t PlayPort::playedTime() {
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    setError(ZELPLAY_ERR_NONE);
    return playedTime_.load();
}

int32_t PlayPort::pictureSize(int32_t* width, int32_t* height) {
    if (width == nullptr || height == nullptr)
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (mode_.load() == kModeFile)
        return pictureSizeOfFile(width, height) ? 1 : 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    std::lock_guard picture(pictureLock_);
    *width = picture_.width;
    *height = picture_.height;
    return 1;
}

double PlayPort::streamSpeed() {
    std::lock_guard queue(queueLock_);
    return streamSpeed_;
}

StreamState PlayPort::streamState() {
    std::lock_guard queue(queueLock_);
    return streamState_;
}

// ---- Stream input -------------------------------------------------------------------

int32_t PlayPort::inputVideo(const uint8_t* record, uint32_t size) {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    if (!headerSizeMatches(record, size))
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    const FrameHeader header = readFrameHeader(record);
    const uint8_t* payload = record + kFrameHeaderBytes;
    const int mode = mode_.load();
    if (mode == kModeRealTime) {
        if (!mayWaitHere())
            return 0;
        std::lock_guard decode(decodeLock_);
        if (!playing_.load() || mode_.load() != kModeRealTime)
            return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
        return decodeAndShow(header, payload) ? 1 : 0;
    }
    if (mode != kModeBuffered)
        return setError(ZELPLAY_ERR_MODE), 0;
    {
        std::lock_guard queue(queueLock_);
        if (!playing_.load() || mode_.load() != kModeBuffered)
            return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
        uint8_t* headerBlock = source_.allocate(kFrameHeaderBytes);
        uint8_t* payloadBlock = headerBlock ? source_.allocate(header.payloadLength) : nullptr;
        if (payloadBlock == nullptr) {
            source_.release(headerBlock);
            return setError(ZELPLAY_ERR_BUFFER_FULL), 0;
        }
        std::memcpy(payloadBlock, payload, header.payloadLength);
        writeFrameHeader(header, source_.offsetOf(payloadBlock), headerBlock);
        queue_.push_back({headerBlock, payloadBlock});
    }
    PortTable::instance().wakeScheduler();
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::inputAudio(const uint8_t* record, uint32_t size) {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    if (!headerSizeMatches(record, size))
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    const FrameHeader header = readFrameHeader(record);
    const int mode = mode_.load();
    if (mode != kModeRealTime && mode != kModeBuffered)
        return setError(ZELPLAY_ERR_MODE), 0;
    if (!mayWaitHere())
        return 0;
    DecodedPcm pcm;
    {
        std::lock_guard decode(decodeLock_);  // Stop waits for this frame (and its callback)
        if (!playing_.load())
            return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
        if (mode == kModeBuffered) {
            std::lock_guard queue(queueLock_);
            if (!speedIsNormal(streamSpeed_)) {
                setError(ZELPLAY_ERR_NONE);
                return 1;  // no sound away from normal speed
            }
        }
        if (!decodeAudio(header, record + kFrameHeaderBytes, pcm))
            return 0;
    }
    // Waiting for room holds the caller's thread to the device's pace, never the pictures.
    if (pcm.bytes > 0)
        writeHeard(pcm.data, pcm.bytes, pcm.bits, kLongestSoundWaitMs);
    return 1;
}

int32_t PlayPort::sourceBufferRemain() {
    if (mode_.load() != kModeBuffered)
        return setError(ZELPLAY_ERR_MODE), 0;
    setError(ZELPLAY_ERR_NONE);
    const int64_t remain = source_.remainingBytes();
    return static_cast<int32_t>(std::clamp<int64_t>(remain, INT32_MIN, INT32_MAX));
}

int32_t PlayPort::resetSourceBuffer() {
    if (mode_.load() != kModeBuffered)
        return setError(ZELPLAY_ERR_MODE), 0;
    {
        std::lock_guard queue(queueLock_);
        dropQueuedFramesLocked();
        source_.reset();
    }
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

// ---- Snapshots -------------------------------------------------------------------------

int32_t PlayPort::snapshot(const char* path, SnapshotFormat format, int32_t quality, bool tagged,
                           const char* tag) {
    const int jpegQuality = quality & 0xFF;  // only the low byte counts
    if (path == nullptr || (format == SnapshotFormat::Jpeg && jpegQuality > kMaxJpegQuality) ||
        (tagged && tag == nullptr)) {
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    }
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    const SnapshotTarget target = snapshotTarget(path, defaultSnapshotFolder());
    if (!ensureFolder(target.folder))
        return setError(ZELPLAY_ERR_SNAPSHOT_FOLDER), 0;
    // A copy, so that neither the caption nor the file holds up the decoding threads. The
    // picture's bytes never change once published: only the reference is taken under the
    // lock.
    Picture newest;
    {
        std::lock_guard picture(pictureLock_);
        newest = picture_;
    }
    PlanarImage image;
    image.width = newest.width;
    image.height = newest.height;
    image.planes.resize(newest.lumaBytes() * 3 / 2);
    newest.copyPacked(image.planes.data());
    if (tagged) {
        std::optional<PlanarImage> withTag = composeTagged(image.view(), tag);
        if (!withTag)
            return setError(ZELPLAY_ERR_ARGUMENT), 0;
        image = std::move(*withTag);
    }
    if (!writeSnapshotFile(target.file, format, jpegQuality, image.view()))
        return setError(ZELPLAY_ERR_SNAPSHOT_WRITE), 0;
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

// ---- Callbacks and picture settings --------------------------------------------------

int32_t PlayPort::setDecodeCallback(ZELPLAY_DEC_CALLBACK callback, ZELPLAY_USER user) {
    // The wait below is for calls on other threads; from this port's own callback it is fine.
    if (!CallbackContext::onlyOwnAndOlder(order_))
        return setError(ZELPLAY_ERR_RESOURCES), 0;
    {
        std::lock_guard callbacks(callbackLock_);
        decodeCallback_ = {callback, user};
    }
    callbackGate_.waitForOtherCalls();
    return 1;
}

int32_t PlayPort::setSeiCallback(ZELPLAY_SEI_CALLBACK callback, ZELPLAY_USER user) {
    if (!CallbackContext::onlyOwnAndOlder(order_))
        return setError(ZELPLAY_ERR_RESOURCES), 0;
    {
        std::lock_guard callbacks(callbackLock_);
        seiCallback_ = {callback, user};
    }
    callbackGate_.waitForOtherCalls();
    return 1;
}

int32_t PlayPort::setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_USER user) {
    // Waits for a draw in progress on the render thread, which may be running the old
    // callback: the rule of the setters above.
    if (!CallbackContext::onlyOwnAndOlder(order_))
        return setError(ZELPLAY_ERR_RESOURCES), 0;
    video_->setDrawCallback(callback, handle(), user, order_);
    return 1;
}

int32_t PlayPort::setDisplayDevice(int32_t index) {
    std::lock_guard state(stateLock_);
    displayDevice_ = index;
    if (!video_->selectDevice(index))
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    return 1;
}

int32_t PlayPort::setColour(int32_t brightness, int32_t contrast, int32_t saturation, int32_t hue) {
    for (int32_t v : {brightness, contrast, saturation, hue}) {
        if (v < 0 || v > kColourMax)
            return setError(ZELPLAY_ERR_ARGUMENT), 0;
    }
    colour_.store(ColourSettings{static_cast<uint8_t>(brightness), static_cast<uint8_t>(contrast),
                                 static_cast<uint8_t>(saturation), static_cast<uint8_t>(hue)}
                      .pack());
    return 1;
}

int32_t PlayPort::getColour(int32_t* brightness, int32_t* contrast, int32_t* saturation,
                            int32_t* hue) {
    const ColourSettings c = ColourSettings::unpack(colour_.load());
    if (brightness)
        *brightness = c.brightness;
    if (contrast)
        *contrast = c.contrast;
    if (saturation)
        *saturation = c.saturation;
    if (hue)
        *hue = c.hue;
    return 1;
}

PlayPort::DecodeCallback PlayPort::decodeCallback() {
    std::lock_guard callbacks(callbackLock_);
    return decodeCallback_;
}

PlayPort::SeiCallback PlayPort::seiCallback() {
    std::lock_guard callbacks(callbackLock_);
    return seiCallback_;
}

// ---- Decoding ------------------------------------------------------------------------

bool PlayPort::decodeAndShow(const FrameHeader& header, const uint8_t* payload) {
    if (header.payloadLength == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
    }
    if (waitingForKey_) {
        if (!header.isKeyFrame())
            return setError(ZELPLAY_ERR_VIDEO_DECODE), false;
        waitingForKey_ = false;
    }
    if (!(lastSequence_ == 0 || header.sequence == lastSequence_ + 1 || header.isKeyFrame())) {
        lastSequence_ = 0;
        waitingForKey_ = true;
        return setError(ZELPLAY_ERR_VIDEO_DECODE), false;
    }
    lastSequence_ = header.sequence;
    if (firstTimeStamp_.load() == kNoTimeStamp)
        firstTimeStamp_.store(header.timeStamp);
    playedTime_.store(header.timeStamp - firstTimeStamp_.load());

    // A picture held back for reordering is no failure: it comes out with a later frame.
    const H264Decoder::Outcome outcome =
        decodeUnit(payload, header.payloadLength, static_cast<uint8_t>(header.frameType),
                   header.timeStamp, header.frameRate);
    if (!outcome.ok)
        return setError(ZELPLAY_ERR_VIDEO_DECODE), false;
    setError(ZELPLAY_ERR_NONE);
    return true;
}

H264Decoder::Outcome PlayPort::decodeUnit(const uint8_t* payload, uint32_t length,
                                          uint8_t frameType, uint32_t stampMs, int32_t frameRate) {
    lastFrameRate_ = frameRate;
    Delivery delivery(*this, frameRate);
    return decoder_.decode(payload, length, frameType, stampMs, delivery, delivery.adjusting());
}

void PlayPort::publishPicture(Picture picture, PictureBytes* writable, uint32_t stampMs,
                              int32_t frameRate, const ColourSettings& colour) {
    const int w = picture.width, h = picture.height;
    if (writable != nullptr) {
        uint8_t* y = writable->data();
        const size_t luma = picture.lumaBytes();
        adjustPicture(colour, y, y + luma, y + luma * 5 / 4, w, h);
    }
    {
        std::lock_guard lock(pictureLock_);
        picture_ = picture;
    }
    {
        CallbackGate::Call call(callbackGate_);
        if (const DecodeCallback cb = decodeCallback(); cb.fn != nullptr) {
            // The callback takes its pictures packed; one set meanwhile may find a picture
            // that is not.
            Picture packed = picture;
            if (!packed.isPacked()) {
                const std::shared_ptr<PictureBytes> bytes =
                    pictures_.acquire(picture.lumaBytes() * 3 / 2);
                picture.copyPacked(bytes->data());
                packed = Picture::packed(bytes, w, h);
            }
            const ZELPLAY_FRAME_INFO info{w, h, static_cast<int32_t>(stampMs),
                                          ZELPLAY_FRAME_TYPE_YV12, frameRate};
            cb.fn(handle(), packed.y(), static_cast<int32_t>(packed.lumaBytes() * 3 / 2), &info,
                  cb.user);
        }
    }
    video_->presentShared(std::move(picture));
}

bool PlayPort::decodeAudio(const FrameHeader& header, const uint8_t* payload, DecodedPcm& out) {
    const size_t length = header.payloadLength;
    if (length > kMaxAudioPayload)
        return setError(ZELPLAY_ERR_AUDIO_DECODE), false;
    const AudioFormat format = classifyAudio(payload, length);
    {
        std::lock_guard sound(soundLock_);
        if (format.bits != soundFormat_)
            openSoundLocked(format.bits, format.rate);  // on failure the next frame tries again
    }
    // Voice frames decode to at most 642 bytes and raw PCM is copied whole: raw PCM longer
    // than the fixed buffer gets a buffer of its own length.
    uint8_t* pcm = out.fixed.data();
    if (length > out.fixed.size()) {
        try {
            out.large.resize(length);
        } catch (const std::bad_alloc&) {
            return setError(ZELPLAY_ERR_RESOURCES), false;
        }
        pcm = out.large.data();
    }
    int pcmBytes = 0;
    if (DecAudioFrame(payload, static_cast<int>(length), pcm, &pcmBytes) == 0) {
        return setError(ZELPLAY_ERR_AUDIO_DECODE), false;
    }
    setError(ZELPLAY_ERR_NONE);
    if (pcmBytes <= 0)
        return true;  // too short to carry sound
    {
        CallbackGate::Call call(callbackGate_);
        if (const DecodeCallback cb = decodeCallback(); cb.fn != nullptr) {
            const ZELPLAY_FRAME_INFO info{
                0, 0, static_cast<int32_t>(header.timeStamp),
                format.bits == 8 ? ZELPLAY_FRAME_TYPE_PCM8 : ZELPLAY_FRAME_TYPE_PCM16,
                format.bits * 1000 / pcmBytes};
            cb.fn(handle(), pcm, pcmBytes, &info, cb.user);
        }
    }
    out.data = pcm;
    out.bytes = static_cast<size_t>(pcmBytes);
    out.bits = format.bits;
    return true;
}

// ---- Sound -------------------------------------------------------------------------------

void PlayPort::closeSoundLocked() {
    if (soundFormat_ != 0) {
        sound_->stop();
        sound_->destroy();
    }
    soundFormat_ = 0;
    soundRoom_.notify_all();
}

void PlayPort::silenceLocked() {
    closeSoundLocked();
    heard_ = false;
    sound_->setAudible(false);
}

bool PlayPort::openSoundLocked(int bitsPerSample, int sampleRate) {
    closeSoundLocked();
    // An audible output opens its device on start.
    if (sound_->create() != 0 || sound_->setFormat(bitsPerSample, sampleRate) != 0 ||
        sound_->start() != 0) {
        sound_->destroy();
        return false;
    }
    sound_->setVolume(volumePercent(volume_.load()));
    soundFormat_ = bitsPerSample;
    return true;
}

SoundWrite PlayPort::writeHeard(const uint8_t* pcm, size_t bytes, int bitsPerSample,
                                int64_t waitMs) {
    std::unique_lock sound(soundLock_);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    // Heard, and still in the format this frame was decoded for.
    while (heard_ && soundFormat_ == bitsPerSample) {
        const int result = sound_->writePcm(pcm, bytes);
        if (result != kSoundFull)
            return {result, 0};
        const auto room = std::chrono::milliseconds(sound_->msUntilRoom());
        const auto now = std::chrono::steady_clock::now();
        if (now >= giveUp)
            return {kSoundFull, room.count()};
        soundRoom_.wait_for(sound,
                            std::min<std::chrono::steady_clock::duration>(room, giveUp - now));
    }
    return {kSoundDropped, 0};
}

int32_t PlayPort::startHeard(int32_t bitsPerSample, int32_t sampleRate) {
    {
        std::lock_guard sound(soundLock_);
        heard_ = true;
        // An output that runs unheard opens its device in its own format now; a port
        // without one gets one in the format asked for.
        bool ok = sound_->setAudible(true) == 0;
        if (ok && soundFormat_ == 0)
            ok = openSoundLocked(bitsPerSample, sampleRate);
        if (!ok) {
            silenceLocked();
            return setError(ZELPLAY_ERR_SOUND_FORMAT), 0;
        }
    }
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

void PlayPort::silence() {
    std::lock_guard sound(soundLock_);
    silenceLocked();
}

int32_t PlayPort::setSoundVolume(uint32_t volume) {
    const auto v = static_cast<uint16_t>(volume & 0xFFFF);
    {
        std::lock_guard sound(soundLock_);
        volume_.store(v);
        if (soundFormat_ != 0)
            sound_->setVolume(volumePercent(v));
    }
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

uint32_t PlayPort::soundVolume() {
    setError(ZELPLAY_ERR_NONE);
    return volume_.load();
}

SoundOutputState PlayPort::soundState() {
    std::lock_guard sound(soundLock_);
    return sound_->state();
}

void PlayPort::extractAndReportSei(const FrameHeader& header, const uint8_t* payload) {
    CallbackGate::Call call(callbackGate_);
    if (seiCallback().fn == nullptr)
        return;
    for (const ZELPLAY_SEI_RECORD& record : extractSei(payload, header.payloadLength)) {
        // Looked up per record: a callback that clears itself is not called again.
        const SeiCallback cb = seiCallback();
        if (cb.fn == nullptr)
            return;
        cb.fn(handle(), &record, header.timeStamp, cb.user);
    }
}

// ---- The scheduler's visit -----------------------------------------------------------

ServiceResult PlayPort::serviceBufferedStream(uint32_t nowMs) {
    ServiceResult result;
    if (mode_.load() != kModeBuffered || !playing_.load())
        return result;
    // Busy with audio input or a closing call: never wait here, other ports are due too.
    std::unique_lock decode(decodeLock_, std::try_to_lock);
    if (!decode.owns_lock()) {
        result.waitMs = 1;
        return result;
    }
    if (mode_.load() != kModeBuffered || !playing_.load())
        return result;
    FrameHeader header;
    try {
        switch (takeDueHead(nowMs, result, header)) {
            case HeadAction::ShowVideo:
                extractAndReportSei(header, queuedPayload_.data());
                decodeAndShow(header, queuedPayload_.data());
                break;
            case HeadAction::PlayAudio: {
                // Never a wait for room here: a device that stops taking sound loses this
                // frame, and no port's pictures wait for it.
                DecodedPcm pcm;
                if (decodeAudio(header, queuedPayload_.data(), pcm) && pcm.bytes > 0)
                    writeHeard(pcm.data, pcm.bytes, pcm.bits, 0);
                break;
            }
            case HeadAction::Nothing:
                break;
        }
    } catch (const std::bad_alloc&) {
        setError(ZELPLAY_ERR_RESOURCES);  // this frame is lost; the next one is tried
    }
    return result;
}

PlayPort::HeadAction PlayPort::takeDueHead(uint32_t nowMs, ServiceResult& result,
                                           FrameHeader& header) {
    std::lock_guard queue(queueLock_);
    if (queue_.empty())
        return HeadAction::Nothing;

    if (!buffering_ && queue_.size() > 3) {
        const FrameHeader head = readFrameHeader(queue_.front().header);
        const FrameHeader tail = readFrameHeader(queue_.back().header);
        const int64_t span =
            std::llabs(static_cast<int64_t>(head.timeStamp) - static_cast<int64_t>(tail.timeStamp));
        if (head.isVideo() && tail.isVideo() &&
            span >= static_cast<int64_t>(startDelaySeconds_.load()) * 1000) {
            buffering_ = true;
            depthAtStart_ = static_cast<long>(queue_.size());
        }
    }
    if (!buffering_)
        return HeadAction::Nothing;
    if (streamState_ == StreamState::Paused)
        return HeadAction::Nothing;
    if (streamState_ == StreamState::Step)
        streamState_ = StreamState::Paused;

    const QueuedFrame frame = queue_.front();
    header = readFrameHeader(frame.header);
    PaceInput in;
    in.nowMs = nowMs;
    in.stampMs = header.timeStamp;
    in.video = header.isVideo();
    in.queued = static_cast<long>(queue_.size());
    in.depthAtStart = depthAtStart_;
    in.lastIntervalMs = lastInterval_;
    if (nominalRate_ == 0)
        nominalRate_ = 1;
    in.nominalRate = nominalRate_;
    in.speed = streamSpeed_;
    const PaceResult pace = paceFrame(header.isVideo() ? videoClock_ : audioClock_, in);
    if (pace.verdict == PaceVerdict::Wait) {
        result.waitMs = pace.waitMs;
        return HeadAction::Nothing;
    }
    HeadAction action = HeadAction::Nothing;
    if (pace.verdict == PaceVerdict::Due) {
        if (header.isVideo()) {
            lastInterval_ = static_cast<uint32_t>(pace.stampLenMs);
            const bool show = displayedSequence_ != 0 ? header.sequence != displayedSequence_
                                                      : header.isKeyFrame();
            if (show) {
                displayedSequence_ = header.sequence;
                action = HeadAction::ShowVideo;
            }
        } else {
            action = HeadAction::PlayAudio;
        }
    }
    // The frame leaves the queue and the pool before it is shown, so that the callbacks run
    // without the queue and pool locks, and a reset or close meanwhile cannot pull its
    // payload away. The copy keeps its capacity from frame to frame.
    try {
        if (action != HeadAction::Nothing)
            queuedPayload_.assign(frame.payload, frame.payload + header.payloadLength);
    } catch (const std::bad_alloc&) {
        setError(ZELPLAY_ERR_RESOURCES);
        action = HeadAction::Nothing;
    }
    queue_.pop_front();
    source_.release(frame.payload);
    source_.release(frame.header);
    result.progressed = true;
    return action;
}

}  // namespace zelplay
