// One port: an independent player with its open stream, decoder, picture, outputs and, in
// the buffered mode, its source buffer and frame queue.
//
// Each public method is one exported call's work on this port (the export has already
// found the port): it makes the call's checks, stores the error code in the port and
// returns the call's result.
//
// Locks, in the order they are taken (never the other way round):
//   decodeLock_   the decode path: continuity state, the decoder's use, writing the picture,
//                 and the calls out to the decode and SEI callbacks and the video output.
//                 Held by real-time (mode 0) input, audio input and the scheduler's step
//                 of this port, and by the file video thread while it decodes; the calls
//                 that stop or close take it first, and so wait for a decode (and its
//                 callbacks) in progress. Callbacks run under it alone, so they may call
//                 every export on the port except those that stop or close it, feed it or
//                 free it.
//   stateLock_    the open / play / mode state and what open and play make (window, video
//                 output set-up); taken by every controlling call.
//   queueLock_    the frame queue and the buffered-stream state (clocks, play state,
//                 speed, buffering). The scheduler takes the head frame out under it and
//                 shows the frame after releasing it.
//   source_.mutex() the source buffer's pool (taken inside SourceBuffer).
//   pictureLock_  which buffer is the last picture, and its size: replaced under decodeLock_
//                 and pictureLock_ together, read under either (snapshots and the picture
//                 size take pictureLock_). A published buffer's bytes never change.
//   decoder_ (its own lock), soundLock_, callbackLock_, callbackGate_: leaves.
// soundLock_ comes after SoundPort's designation lock when the sound port changes; a writer
// waiting for room in the sound output releases it while it waits (soundRoom_), and never
// waits under decodeLock_.
//
// Stopping (Stop, Close, SetPlayMode, the opens, FreePort) changes the state under
// decodeLock_ and stateLock_ and asks the file threads and the render thread to end, then
// releases both locks before it waits for those threads: a callback running on one of them
// may take the port's locks (ZelPlay_Play, ZelPlay_SetDDrawDevice) without deadlock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "callback_context.h"
#include "callback_gate.h"
#include "file_play.h"
#include "frame_record.h"
#include "h264_decoder.h"
#include "picture_adjust.h"
#include "snapshot.h"
#include "sound_output.h"
#include "source_buffer.h"
#include "stream_pacing.h"
#include "video_output.h"
#include "zelplay/play.h"

namespace zelplay {

enum PlayMode : int { kModeRealTime = 0, kModeBuffered = 1, kModeFile = 2 };
enum class StreamState : int { Idle = 0, Playing = 1, Paused = 2, Step = 3 };

inline constexpr int kInitialPictureWidth = 352;
inline constexpr int kInitialPictureHeight = 288;
inline constexpr size_t kInitialPictureBytes = 1920 * 1088 * 3 / 2;  // grows with the picture
inline constexpr double kMaxSpeed = 16.0;
inline constexpr double kMinSpeed = 1.0 / 16.0;
inline constexpr uint32_t kNoTimeStamp = 0xFFFFFFFF;

// What the scheduler learned from one visit of a port.
struct ServiceResult {
    bool progressed = false;  // a frame was shown, skipped or dropped
    int64_t waitMs = -1;      // the head frame is due in this many ms (-1: nothing waiting)
};

class PlayPort : private FilePlayHost {
  public:
    PlayPort(std::unique_ptr<VideoOutput> video, std::unique_ptr<SoundOutput> sound);
    ~PlayPort() override;
    PlayPort(const PlayPort&) = delete;
    PlayPort& operator=(const PlayPort&) = delete;

    ZELPLAY_PORT handle() const { return reinterpret_cast<ZELPLAY_PORT>(this); }
    // The port's place in the order ports were made (CallbackContext).
    uint64_t order() const { return order_; }
    // Whether the calling thread may wait for this port's decoding and threads; when not
    // (it runs a callback of this port or of a newer one), stores code 16.
    bool mayWaitHere();
    uint32_t lastError() const { return lastError_.load(); }
    void setError(uint32_t code) { lastError_.store(code); }

    // Controlling calls (any thread).
    int32_t setPlayMode(int32_t mode);
    int32_t setDelayTime(int32_t seconds);
    int32_t openStream(uint32_t bufferBytes);
    int32_t close();
    int32_t play(uintptr_t window);
    int32_t stop();
    int32_t pause(bool pause);
    int32_t fast();
    int32_t slow();
    int32_t oneByOne();
    uint32_t playedTime();
    int32_t pictureSize(int32_t* width, int32_t* height);

    // File play (play_port_file.cpp).
    int32_t openFile(const char* path);
    int32_t openFileEx(const char* path, uint32_t baseOffset, uint32_t startTime);
    int32_t setPlayPos(float position);
    float playPos();
    int32_t setFileEndMsg(uintptr_t window, uint32_t message);
    uint32_t fileTime();
    uint32_t fileTotalFrames();
    uint32_t playedFrames();
    uint32_t fileStartTime();
    int32_t playInfo(char* path, uint32_t* baseOffset);

    // Stream input (the caller's thread).
    int32_t inputVideo(const uint8_t* record, uint32_t size);
    int32_t inputAudio(const uint8_t* record, uint32_t size);
    int32_t sourceBufferRemain();
    int32_t resetSourceBuffer();

    // Snapshots of the newest picture (tag null for a plain one).
    int32_t snapshot(const char* path, SnapshotFormat format, int32_t quality, bool tagged,
                     const char* tag);

    // Callbacks and picture settings; on success these leave the last error as it was.
    // Clearing or replacing a callback returns once no call of the old one is running on
    // another thread.
    int32_t setDecodeCallback(ZELPLAY_DEC_CALLBACK callback, ZELPLAY_USER user);
    int32_t setSeiCallback(ZELPLAY_SEI_CALLBACK callback, ZELPLAY_USER user);
    int32_t setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_USER user);
    int32_t setDisplayDevice(int32_t index);
    int32_t setColour(int32_t brightness, int32_t contrast, int32_t saturation, int32_t hue);
    int32_t getColour(int32_t* brightness, int32_t* contrast, int32_t* saturation, int32_t* hue);

    // Sound. Which port is heard is SoundPort's to decide; these are this port's part.
    // Makes this port heard, opening its output for bits and rate unless one runs already;
    // 0 with code 9 when the output refuses, leaving the port without output. Called by
    // SoundPort under its designation lock.
    int32_t startHeard(int32_t bitsPerSample, int32_t sampleRate);
    // Stops and destroys the output (silence at once) and stops being heard.
    void silence();
    int32_t setSoundVolume(uint32_t volume);  // the low 16 bits
    uint32_t soundVolume();
    SoundOutputState soundState();

    // The scheduler thread: one visit of this port's frame queue (buffered mode). Memory
    // running out while the frame is shown is stored on the port (code 16), not thrown.
    ServiceResult serviceBufferedStream(uint32_t nowMs);

    // For tests and benchmarks.
    double streamSpeed();
    StreamState streamState();
    uint64_t decoderCreations() const { return decoder_.creations(); }
    int runningCallbacks() { return callbackGate_.runningCalls(); }
    FilePlayer& filePlayer() { return file_; }

  private:
    struct QueuedFrame {
        uint8_t* header;   // 40-byte header block in the source buffer
        uint8_t* payload;  // payload block in the source buffer
    };
    struct DecodeCallback {
        ZELPLAY_DEC_CALLBACK fn = nullptr;
        ZELPLAY_USER user = 0;
    };
    struct SeiCallback {
        ZELPLAY_SEI_CALLBACK fn = nullptr;
        ZELPLAY_USER user = 0;
    };

    // What the scheduler does with the head frame it takes out of the queue.
    enum class HeadAction { Nothing, ShowVideo, PlayAudio };

    // What stopping leaves to end; destroyed (and so waited for) outside the port's locks.
    struct Leftovers {
        std::unique_ptr<FilePlayer::Ending> file;
        std::unique_ptr<VideoOutput::Ending> video;
    };
    // Each picture out of the decoder, on its way to the callback and the output.
    class Delivery;
    friend class Delivery;

    // Waits, outside the port's locks, for what stopping left running, then for callbacks
    // still running on other threads.
    void finishStopping(Leftovers leftovers);
    [[nodiscard]] Leftovers closeLocked();  // needs decodeLock_ and stateLock_
    [[nodiscard]] Leftovers stopLocked();   // needs decodeLock_ and stateLock_
    // The end of a stream (modes 0 and 1): the pictures the decoder still holds go out as
    // every picture does. Needs decodeLock_ and not stateLock_ (the callbacks may take it).
    void flushHeldPicturesLocked();
    // Up to maxPictures of the pictures the decoder holds, out as every picture goes; their
    // count. Needs decodeLock_.
    int flushPictures(int32_t frameRate, int maxPictures);
    void dropQueuedFramesLocked();  // needs queueLock_
    // Takes the head frame out when it is due (queueLock_ inside); its payload is copied to
    // queuedPayload_ for showing.
    HeadAction takeDueHead(uint32_t nowMs, ServiceResult& result, FrameHeader& header);
    // The real-time decode step: continuity, decode, adjustment, callback, output. Needs
    // decodeLock_.
    bool decodeAndShow(const FrameHeader& header, const uint8_t* payload);
    // Decodes one access unit; each picture that comes out becomes the last picture,
    // adjusted, and goes to the decode callback and the output (publishPicture). On the
    // thread that decodes for the mode, under decodeLock_.
    H264Decoder::Outcome decodeUnit(const uint8_t* payload, uint32_t length, uint8_t frameType,
                                    uint32_t stampMs, int32_t frameRate);
    // writable: the picture's bytes when they are the port's own to adjust, else null.
    void publishPicture(Picture picture, PictureBytes* writable, uint32_t stampMs,
                        int32_t frameRate, const ColourSettings& colour);
    bool pictureSizeOfFile(int32_t* width, int32_t* height);
    bool fileQueryAllowed();  // opened (5), then mode 2 (2)
    // Opening in mode 2: closes, checks and stores; the checks' code on failure.
    int32_t openFileLocked(const char* path, uint32_t baseOffset, const uint32_t* startTime,
                           Leftovers& leftovers);

    // FilePlayHost: the file threads' way into the port.
    void reportFileSei(const uint8_t* frame, size_t length, uint32_t stampMs) override;
    void notePlayPosition(uint32_t positionMs) override;
    int showFilePicture(const uint8_t* frame, size_t length, uint8_t frameType, uint32_t positionMs,
                        int32_t frameRate, const std::atomic<bool>& keepRunning) override;
    int flushFilePicture(int32_t frameRate, const std::atomic<bool>& keepRunning) override;
    void discardFilePictures(const std::atomic<bool>& keepRunning) override;
    void prepareSound(int bits, int rate) override;
    void restartSound() override;
    bool isSoundPort() override;
    void reportPcm(const uint8_t* pcm, size_t bytes, int bits, uint32_t stampMs) override;
    SoundWrite writePcm(const uint8_t* pcm, size_t bytes, int bits) override;
    // Takes decodeLock_ for the file video thread; false when it was asked to stop first.
    bool lockForFileDecode(std::unique_lock<std::mutex>& decode,
                           const std::atomic<bool>& keepRunning);
    // The audio step's decoding: DecAudioFrame into pcm and the decode callback. Needs
    // decodeLock_. False with the error stored; pcmBytes 0 when there is nothing to hear.
    struct DecodedPcm {
        std::vector<uint8_t> large;  // raw PCM longer than the fixed buffer
        std::array<uint8_t, 1024> fixed;
        const uint8_t* data = nullptr;
        size_t bytes = 0;
        int bits = 16;
    };
    bool decodeAudio(const FrameHeader& header, const uint8_t* payload, DecodedPcm& pcm);
    // These need soundLock_. Close stops and destroys the output (format 0) and wakes a
    // waiting writer; silence also stops being heard; open (re-)creates the output for a
    // format, and false leaves the port without one.
    void closeSoundLocked();
    void silenceLocked();
    bool openSoundLocked(int bitsPerSample, int sampleRate);
    // Feeds decoded PCM to the output when this port is heard in that format. While the
    // output has no room it waits up to waitMs (soundLock_ released); kSoundFull, with the
    // time until there is room, when it is still full then. Never waits under decodeLock_.
    SoundWrite writeHeard(const uint8_t* pcm, size_t bytes, int bitsPerSample, int64_t waitMs);
    void extractAndReportSei(const FrameHeader& header, const uint8_t* payload);
    DecodeCallback decodeCallback();
    SeiCallback seiCallback();
    void changeSpeed(double factor);
    int32_t changeSpeedChecked(double factor);  // fast() and slow()

    const uint64_t order_ = nextPortOrder();
    std::atomic<uint32_t> lastError_{0};
    std::atomic<int> mode_{kModeRealTime};
    std::atomic<bool> opened_{false};
    std::atomic<bool> playing_{false};
    std::atomic<uint32_t> colour_{ColourSettings{}.pack()};
    std::atomic<uint16_t> volume_{0xFFFF};
    std::atomic<int> startDelaySeconds_{3};
    std::atomic<uint32_t> firstTimeStamp_{kNoTimeStamp};
    std::atomic<uint32_t> playedTime_{0};

    std::mutex decodeLock_;
    uint32_t lastSequence_ = 0;           // guarded by decodeLock_
    bool waitingForKey_ = false;          // guarded by decodeLock_
    int32_t lastFrameRate_ = 0;           // of the last video frame fed; decodeLock_
    std::vector<uint8_t> queuedPayload_;  // the queued frame being shown; decodeLock_
    H264Decoder decoder_;                 // used under decodeLock_, closed under it too

    std::mutex stateLock_;
    uintptr_t window_ = 0;   // guarded by stateLock_
    int displayDevice_ = 0;  // guarded by stateLock_
    // Set up and torn down under stateLock_, present under decodeLock_; the draw callback is
    // the output's own to guard (its render thread calls it).
    std::unique_ptr<VideoOutput> video_;

    // The newest picture, with its size. It is shared with the video output and the decode
    // callback's caller, so it is never written again: each decode fills a buffer of its own
    // from pictures_ (or keeps the decoder's own planes) and then takes its place.
    PicturePool pictures_;
    std::mutex pictureLock_;
    Picture picture_;  // replaced under decodeLock_ and pictureLock_; read under either

    std::mutex soundLock_;
    std::condition_variable soundRoom_;   // wakes a waiting writer: room, stop, new format
    std::unique_ptr<SoundOutput> sound_;  // every use under soundLock_
    int soundFormat_ = 0;                 // bits the output is open for, 0 none; soundLock_
    bool heard_ = false;                  // this is the sound port; soundLock_

    std::mutex callbackLock_;
    DecodeCallback decodeCallback_;      // guarded by callbackLock_
    SeiCallback seiCallback_;            // guarded by callbackLock_
    CallbackGate callbackGate_{order_};  // counts decode and SEI callback calls in progress

    std::mutex queueLock_;
    std::deque<QueuedFrame> queue_;   // guarded by queueLock_
    SourceBuffer source_;             // region life under queueLock_; pool by its own lock
    StreamClock videoClock_;          // guarded by queueLock_
    StreamClock audioClock_;          // guarded by queueLock_
    uint32_t displayedSequence_ = 0;  // guarded by queueLock_
    uint32_t lastInterval_ = 0;       // guarded by queueLock_
    bool buffering_ = false;          // true once the start delay is queued; queueLock_
    long depthAtStart_ = 0;           // guarded by queueLock_
    int nominalRate_ = 3;             // guarded by queueLock_
    StreamState streamState_ = StreamState::Idle;  // guarded by queueLock_
    double streamSpeed_ = 1.0;                     // guarded by queueLock_

    // File play (mode 2): opened and started under stateLock_; its controls and queries
    // take its own lock. Its threads reach this port through FilePlayHost and take
    // pictureLock_, soundLock_ and callbackLock_ there, never stateLock_ or queueLock_.
    FilePlayer file_{handle()};
};

}  // namespace zelplay
