// One port: an independent player with its open stream, decoder, picture, outputs and, in
// the buffered mode, its source buffer and frame queue.
//
// Each public method is one exported call's work on this port (the export has already
// found the port): it makes the call's checks, stores the error code in the port and
// returns the call's result.
//
// Locks, in the order they are taken (never the other way round):
//   stateLock_    the open / play / mode state and what open and play make (window, video
//                 output set-up, the real-time decode path: continuity state, picture);
//                 taken by every controlling call and by real-time (mode 0) input.
//   queueLock_    the frame queue and the buffered-stream state (clocks, play state,
//                 speed, buffering); the scheduler holds it while it decodes a queued frame.
//   source_.mutex() the source buffer's pool (taken inside SourceBuffer, and by the
//                 scheduler around the decode of a pooled frame).
//   pictureLock_  the last-picture buffer while it is written or resized.
//   decoder_ (its own lock), soundLock_, callbackLock_: leaves.
// The decode path's fields (lastSequence_, waitingForKey_) belong to whichever of
// stateLock_ (mode 0) or queueLock_ (mode 1) the decoding thread holds; switching modes
// takes both.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "file_play.h"
#include "frame_record.h"
#include "h264_decoder.h"
#include "picture_adjust.h"
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

    // Callbacks and picture settings; on success these leave the last error as it was.
    int32_t setDecodeCallback(ZELPLAY_DEC_CALLBACK callback, ZELPLAY_USER user);
    int32_t setSeiCallback(ZELPLAY_SEI_CALLBACK callback, ZELPLAY_USER user);
    int32_t setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_USER user);
    int32_t setColour(int32_t brightness, int32_t contrast, int32_t saturation, int32_t hue);
    int32_t getColour(int32_t* brightness, int32_t* contrast, int32_t* saturation, int32_t* hue);

    // The scheduler thread: one visit of this port's frame queue (buffered mode).
    ServiceResult serviceBufferedStream(uint32_t nowMs);

    // For tests and benchmarks.
    double streamSpeed();
    StreamState streamState();
    uint64_t decoderCreations() const { return decoder_.creations(); }
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

    void closeLocked();
    void stopLocked();
    void dropQueuedFramesLocked();  // needs queueLock_
    // The real-time decode step: continuity, decode, adjustment, callback, output.
    bool decodeAndShow(const FrameHeader& header, const uint8_t* payload);
    // Decodes one access unit into the last picture, adjusts it, reports it to the decode
    // callback and presents it (the thread that decodes for the mode).
    bool decodeToPicture(const uint8_t* payload, uint32_t length, uint8_t frameType,
                         int32_t stampMs, int32_t frameRate);
    bool pictureSizeOfFile(int32_t* width, int32_t* height);
    bool fileQueryAllowed();  // opened (5), then mode 2 (2)
    // Opening in mode 2: closes, checks and stores; the checks' code on failure.
    int32_t openFileLocked(const char* path, uint32_t baseOffset, const uint32_t* startTime);

    // FilePlayHost: the file threads' way into the port.
    void reportFileSei(const uint8_t* frame, size_t length, uint32_t stampMs) override;
    void notePlayPosition(uint32_t positionMs) override;
    bool showFilePicture(const uint8_t* frame, size_t length, uint8_t frameType,
                         uint32_t positionMs, int32_t frameRate) override;
    void prepareSound(int bits, int rate) override;
    void restartSound() override;
    bool isSoundPort() override;
    void reportPcm(const uint8_t* pcm, size_t bytes, int bits, uint32_t stampMs) override;
    void writePcm(const uint8_t* pcm, size_t bytes) override;
    // The audio step: decode with DecAudioFrame, callback, sound output.
    bool playAudio(const FrameHeader& header, const uint8_t* payload);
    void extractAndReportSei(const FrameHeader& header, const uint8_t* payload);
    DecodeCallback decodeCallback();
    void changeSpeed(double factor);
    int32_t changeSpeedChecked(double factor);  // fast() and slow()

    std::atomic<uint32_t> lastError_{0};
    std::atomic<int> mode_{kModeRealTime};
    std::atomic<bool> opened_{false};
    std::atomic<bool> playing_{false};
    std::atomic<uint32_t> colour_{ColourSettings{}.pack()};
    std::atomic<uint16_t> volume_{0xFFFF};
    std::atomic<int> startDelaySeconds_{3};
    std::atomic<uint32_t> firstTimeStamp_{kNoTimeStamp};
    std::atomic<uint32_t> playedTime_{0};

    std::mutex stateLock_;
    uintptr_t window_ = 0;                // guarded by stateLock_
    int displayDevice_ = 0;               // guarded by stateLock_
    std::unique_ptr<VideoOutput> video_;  // set up under stateLock_; present from the decode path

    // The decode path (stateLock_ in mode 0, queueLock_ in mode 1).
    uint32_t lastSequence_ = 0;
    bool waitingForKey_ = false;
    H264Decoder decoder_;

    std::mutex pictureLock_;
    std::vector<uint8_t> lastPicture_;  // Y, V, U of the newest picture; guarded by pictureLock_
    size_t lastPictureBytes_ = 0;       // guarded by pictureLock_

    std::mutex soundLock_;
    std::unique_ptr<SoundOutput> sound_;  // guarded by soundLock_ (writePcm excepted)
    int soundFormat_ = 0;                 // bits the output is open for, 0 none; soundLock_

    std::mutex callbackLock_;
    DecodeCallback decodeCallback_;  // guarded by callbackLock_
    SeiCallback seiCallback_;        // guarded by callbackLock_

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
