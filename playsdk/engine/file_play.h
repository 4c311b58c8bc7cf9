// File play of one port: a video thread that reads, decodes, shows and paces the frames of
// a record or AVI file, and an audio thread that plays its sound and keeps it in step with
// the pictures; with pause, single step, speed and seek.
//
// Threads: the port's controlling calls use FilePlayer (one at a time for open, start and
// stop, which the port serialises; the controls and queries from any thread). The two file
// threads see only their session (below) and reach the port only through FilePlayHost,
// behind a gate that stop() closes when a thread does not end in time.
//
// Stopping is cooperative: every wait of a file thread ends on its run flag, and stop()
// waits for both threads. A thread stuck in a read (a stalled pipe or network file) is
// given stopBoundMs; then its gate is closed (it can no longer touch the port) and it is
// left to end by itself when the read returns, freeing what it holds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "file_facts.h"
#include "sound_output.h"
#include "zelplay/play.h"

namespace zelplay {

enum class FileState : int { Stopped = 0, Playing = 1, Paused = 2, Step = 3 };

enum class SeekResult {
    Landed,      // play goes on from a key frame at or after the target
    NoKeyFrame,  // none from the target on: play goes on where it was
    Asked,       // not answered yet (a long search, or asked from the video thread itself)
    NotPlaying,  // play is not running: no position
};

// What writing PCM to a port's sound output came to.
struct SoundWrite {
    int result = kSoundWritten;  // kSoundWritten, kSoundDropped or kSoundFull
    int64_t retryMs = 0;         // kSoundFull: when there will be room
};

// What the file threads need from their port. Each method is called by one file thread,
// never under a FilePlayer lock.
class FilePlayHost {
  public:
    virtual ~FilePlayHost() = default;
    // Video thread: SEI user data of a frame about to be decoded.
    virtual void reportFileSei(const uint8_t* frame, size_t length, uint32_t stampMs) = 0;
    // Video thread: the position of the frame about to be shown (played time).
    virtual void notePlayPosition(uint32_t positionMs) = 0;
    // Video thread: decodes the frame; each picture that comes out becomes the port's
    // picture, adjusted, and goes to the decode callback and the output. The pictures
    // shown: 0 when the decoder holds the frame's picture back (B-frames) or when
    // keepRunning turned false while the port's decoding was busy; -1 when the frame did not
    // decode.
    virtual int showFilePicture(const uint8_t* frame, size_t length, uint8_t frameType,
                                uint32_t positionMs, int32_t frameRate,
                                const std::atomic<bool>& keepRunning) = 0;
    // Video thread, at the end of the file: shows the next picture the decoder still holds;
    // 0 when none is left.
    virtual int flushFilePicture(int32_t frameRate, const std::atomic<bool>& keepRunning) = 0;
    // Video thread, after a jump: drops the pictures the decoder still holds.
    virtual void discardFilePictures(const std::atomic<bool>& keepRunning) = 0;
    // Audio thread: the port's sound output open for this format (re-made when the bits
    // differ); restartSound stops and starts it after a jump.
    virtual void prepareSound(int bits, int rate) = 0;
    virtual void restartSound() = 0;
    // Audio thread: whether this port is the one heard.
    virtual bool isSoundPort() = 0;
    // Audio thread: decoded PCM to the decode callback, and to the sound output.
    virtual void reportPcm(const uint8_t* pcm, size_t bytes, int bits, uint32_t stampMs) = 0;
    // bits: the format prepareSound was given; PCM of another format is not heard. Never
    // waits: when the output is full, the thread waits retryMs itself (a wait that a stop
    // cuts short) and writes again.
    virtual SoundWrite writePcm(const uint8_t* pcm, size_t bytes, int bits) = 0;
};

// What opening the file learned; fixed until the next open.
struct FileOpenFacts {
    FileKind kind = FileKind::Other;
    std::string path;
    uint32_t baseOffset = 0;
    uint32_t startTime = 0;  // seconds since 1970 (record), start sample (AVI)
    uint32_t durationMs = 0;
    uint32_t totalFrames = 0;
    bool hasAudio = false;
    bool factsRead = false;      // false: an AVI whose facts could not be read, or another kind
    uint32_t initialSeekMs = 0;  // where play begins (ZelPlay_OpenFileEx), 0 = at the start
    MediaFacts avi;              // AVI files: the media facts
};

struct FileSession;
struct FileThreadLink;
struct FileEndTarget;

class FilePlayer {
  public:
    explicit FilePlayer(ZELPLAY_PORT port);
    ~FilePlayer();
    FilePlayer(const FilePlayer&) = delete;
    FilePlayer& operator=(const FilePlayer&) = delete;

    static constexpr int kStopBoundMs = 2000;
    static constexpr int kSeekAnswerMs = 3000;

    // Open and close (the port's state lock held).
    void setOpened(FileOpenFacts facts);
    void clearOpened();
    // Starts the video thread and, for a file with audio, the audio thread. False when a
    // thread cannot be started (nothing is left running).
    bool start(FilePlayHost& host);
    // What a stopped play leaves to end: its threads. Destroying it waits for them (see
    // above) and posts the end message when the video thread had to be left.
    class Ending {
      public:
        virtual ~Ending() = default;
    };
    // Asks both threads to stop and hands the wait for them to the Ending it returns (null
    // when nothing was playing), so that a caller can stop play under its locks and wait
    // outside them, while the threads' callbacks may take those locks. Play may start again
    // at once.
    std::unique_ptr<Ending> detach();
    // Ends both threads: detach() and the wait.
    void stop() { detach(); }
    bool sessionActive();

    // Controls (any thread): each acts only while the video thread is there.
    void pause(bool pause);
    void step();
    void changeSpeed(double factor);  // fast 2, slow 0.5; only while playing
    void resetSpeed();                // back to 1.0, only while playing
    // Asks the video thread to jump to position (0..1) and waits up to kSeekAnswerMs for it
    // to find the key frame it lands on; the audio thread follows to that place.
    // wait false: asks without waiting (SeekResult::Asked).
    SeekResult seek(float position, bool wait = true);

    // Queries.
    FileState state();
    bool position(float* position);  // false when play is not running
    uint32_t durationMs();
    uint32_t playedFrames();
    FileOpenFacts opened();
    void setEndMessage(uintptr_t window, uint32_t message);

    // Test seams.
    double speed();
    void setStopBoundMs(int ms) { stopBoundMs_.store(ms); }

  private:
    std::shared_ptr<FileSession> currentSession();
    void wakeThreads();

    const ZELPLAY_PORT port_;
    std::atomic<int> stopBoundMs_{kStopBoundMs};

    std::mutex lock_;  // guards everything below; never held while waiting for a thread
    FileOpenFacts opened_;
    std::shared_ptr<FileSession> session_;
    std::shared_ptr<FileThreadLink> videoLink_;
    std::shared_ptr<FileThreadLink> audioLink_;
    std::thread videoThread_;
    std::thread audioThread_;
    // Where the end message goes; shared with the sessions, which post it from their thread.
    std::shared_ptr<FileEndTarget> endTarget_;
};

}  // namespace zelplay
