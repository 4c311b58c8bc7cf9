#include "file_play.h"

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <span>
#include <system_error>
#include <vector>

#include "end_message.h"
#include "file_audio.h"
#include "file_pacing.h"
#include "format_handles.h"
#include "h264/annexb.h"

namespace zelplay {

using formats::AviPtr;
using formats::RecordPtr;

namespace {

constexpr size_t kRecordFrameBytes = 2 << 20;     // room for the largest record video frame
constexpr long kLargestAviFrameBytes = 64 << 20;  // an AVI frame beyond this is damage
constexpr long kLargestAviChunkBytes = 16 << 20;
constexpr int kMinAudioBufferBytes = 1024;
constexpr uint8_t kRecordKeyType = 3;  // record types 3 and 5 are key frames
constexpr int64_t kVideoPauseStepMs = 40;
constexpr int64_t kAudioPauseStepMs = 10;
constexpr int64_t kFollowStepMs = 10;    // audio of a port not heard follows the pictures
constexpr int64_t kSyncWaitStepMs = 20;  // sound ahead of the pictures waits for them
constexpr int64_t kRecordSyncCheckMs = 3000;
constexpr int64_t kRecordSyncToleranceMs = 2000;
constexpr int64_t kAviSyncCheckMs = 1000;
constexpr int kRecordSoundRate = 8000;

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Where an AVI seek may land: a frame with an IDR picture or a sequence parameter set,
// wherever a delimiter or SEI puts it.
bool isKeyFrame(const std::vector<uint8_t>& frame, long size) {
    return size > 0 &&
           h264::isKeyAccessUnit(std::span<const uint8_t>(frame.data(), static_cast<size_t>(size)));
}

// How long a writer of sound goes on finding the output full before the sound is dropped:
// the device has stalled.
constexpr int64_t kLongestSoundStallMs = 3000;

}  // namespace

struct FileEndTarget {
    std::mutex lock;
    uintptr_t window = 0;  // guarded by lock
    uint32_t message = 0;  // guarded by lock
};

// One play, from start() to stop(): what the two threads and the controls share.
struct FileSession {
    FileOpenFacts facts;  // fixed
    ZELPLAY_PORT port = 0;
    std::shared_ptr<FileEndTarget> endTarget;

    std::atomic<int> state{static_cast<int>(FileState::Stopped)};
    std::atomic<uint32_t> durationMs{0};  // 0 once the video thread has ended
    std::atomic<uint32_t> positionMs{0};  // time stamp of the last frame shown
    std::atomic<uint32_t> playedFrames{0};
    std::atomic<uint32_t> videoSeekMs{0};  // 0 none, 1 the start, else the target in ms
    std::atomic<uint32_t> audioSeekMs{0};
    std::atomic<double> sleepFactor{1.0};  // 1 / speed
    std::mutex speedLock;
    double speed = 1.0;  // guarded by speedLock
    std::atomic<bool> endPosted{false};

    // Seek requests and the video thread's answers: whether it landed on a key frame.
    std::mutex seekLock;
    std::condition_variable seekAnswer;
    uint64_t seeksAsked = 0;     // guarded by seekLock
    uint64_t seeksAnswered = 0;  // guarded by seekLock
    bool lastSeekLanded = true;  // guarded by seekLock
    bool videoEnded = false;     // guarded by seekLock

    // The video thread has dealt with every request asked so far.
    void answerSeeks(bool landed) {
        {
            std::lock_guard l(seekLock);
            seeksAnswered = seeksAsked;
            lastSeekLanded = landed;
        }
        seekAnswer.notify_all();
    }
    void noteVideoEnded() {
        {
            std::lock_guard l(seekLock);
            videoEnded = true;
        }
        seekAnswer.notify_all();
    }

    FileState fileState() const { return static_cast<FileState>(state.load()); }
    bool paused() const { return fileState() == FileState::Paused; }

    // Posts the end message once per session.
    void postEnd() {
        if (endPosted.exchange(true))
            return;
        uintptr_t window = 0;
        uint32_t message = 0;
        {
            std::lock_guard l(endTarget->lock);
            window = endTarget->window;
            message = endTarget->message;
        }
        if (window != 0)
            sendEndMessage(window, message, port);
    }
};

// A file thread's link to its player: its run flag, the wake-up of its waits, its end, and
// the gate through which it reaches the port.
struct FileThreadLink {
    explicit FileThreadLink(FilePlayHost* h) : host(h) {}

    std::atomic<bool> run{true};
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;  // the thread has finished; guarded by lock

    std::mutex gateLock;
    FilePlayHost* host;  // null once the gate is closed; guarded by gateLock

    // Waits up to ms, ending early on stop or when woken with pred() holding; returns whether
    // the thread is still to run.
    template <typename Pred>
    bool waitFor(int64_t ms, Pred pred) {
        if (ms > 0) {
            std::unique_lock l(lock);
            cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return !run.load() || pred(); });
        }
        return run.load();
    }
    bool sleep(int64_t ms) {
        return waitFor(ms, [] { return false; });
    }
    void wake() {
        { std::lock_guard l(lock); }
        cv.notify_all();
    }
    void requestStop() {
        run.store(false);
        wake();
    }
    void finish() {
        std::lock_guard l(lock);
        done = true;
        cv.notify_all();
    }
    bool waitDone(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock l(lock);
        return cv.wait_until(l, deadline, [&] { return done; });
    }
    // Runs fn on the port unless the gate is closed; false when it is.
    template <typename Fn>
    bool withHost(Fn fn) {
        std::lock_guard g(gateLock);
        if (host == nullptr)
            return false;
        fn(*host);
        return true;
    }
    void closeGate() {
        std::lock_guard g(gateLock);
        host = nullptr;
    }
};

namespace {

using Session = FileSession;
using Link = FileThreadLink;

// The session whose video thread this is (a seek from its own callback answers itself).
thread_local const Session* videoThreadOf = nullptr;

// After a shown frame: the rest of its time, scaled by the speed; a seek cuts it short.
void paceFrame(Session& s, Link& link, int64_t frameMs, int64_t elapsedMs, int64_t defaultMs) {
    const int64_t wait = frameWaitMs(frameMs, elapsedMs, defaultMs);
    link.waitFor(scaledWaitMs(wait, s.sleepFactor.load()),
                 [&] { return s.videoSeekMs.load() != 0; });
}

// A pending single step has shown its frame; then the video holds while paused (a seek
// shows the frame it lands on and holds again).
void holdVideoWhilePaused(Session& s, Link& link) {
    int step = static_cast<int>(FileState::Step);
    s.state.compare_exchange_strong(step, static_cast<int>(FileState::Paused));
    while (link.run.load() && s.paused() && s.videoSeekMs.load() == 0) {
        link.waitFor(kVideoPauseStepMs, [&] { return !s.paused() || s.videoSeekMs.load() != 0; });
    }
}

// Hands PCM to the port's output. While the output is full the thread waits for room (a
// wait that a stop or pause cuts short); an output that takes nothing for seconds has
// stalled, and the PCM is dropped.
void writeSound(Session& s, Link& link, const uint8_t* pcm, size_t bytes, int bits) {
    const int64_t giveUp = nowMs() + kLongestSoundStallMs;
    for (;;) {
        SoundWrite w;
        if (!link.withHost([&](FilePlayHost& host) { w = host.writePcm(pcm, bytes, bits); }))
            return;
        if (w.result != kSoundFull || nowMs() >= giveUp)
            return;
        if (!link.waitFor(std::max<int64_t>(w.retryMs, 1), [&] { return s.paused(); }) ||
            s.paused())
            return;
    }
}

void holdAudioWhilePaused(Session& s, Link& link) {
    while (link.run.load() && s.paused())
        link.waitFor(kAudioPauseStepMs, [&] { return !s.paused(); });
}

// Shows one frame, paces it, and holds there while paused. A frame whose picture the
// decoder holds back (B-frames) is neither paced nor held: its time goes to the picture
// that comes out at the end (flushHeld), and a pause (or a seek while paused) holds on the
// next picture that comes out.
void showAndPace(Session& s, Link& link, const uint8_t* frame, size_t size, uint8_t type,
                 uint32_t position, int64_t frameMs, int64_t defaultMs) {
    const int64_t t0 = nowMs();
    int shown = 0;
    const int32_t rate = fileFrameRate(s.facts.totalFrames, s.facts.durationMs);
    link.withHost([&](FilePlayHost& host) {
        host.notePlayPosition(position);
        shown = host.showFilePicture(frame, size, type, position, rate, link.run);
    });
    if (shown > 0)
        paceFrame(s, link, frameMs, nowMs() - t0, defaultMs);
    if (shown != 0)
        holdVideoWhilePaused(s, link);
}

// At the end of the file: the pictures the decoder still holds, each paced as a frame.
void flushHeld(Session& s, Link& link, int64_t frameMs, int64_t defaultMs) {
    const int32_t rate = fileFrameRate(s.facts.totalFrames, s.facts.durationMs);
    while (link.run.load() && s.videoSeekMs.load() == 0) {
        const int64_t t0 = nowMs();
        int shown = 0;
        link.withHost([&](FilePlayHost& host) { shown = host.flushFilePicture(rate, link.run); });
        if (shown == 0)
            return;
        paceFrame(s, link, frameMs, nowMs() - t0, defaultMs);
        holdVideoWhilePaused(s, link);
    }
}

// At the end of the file: the pictures the decoder still holds come out. True when play
// goes on after all, for a seek asked meanwhile.
bool playsOnAfterEnd(Session& s, Link& link, int64_t frameMs, int64_t defaultMs) {
    if (!link.run.load())
        return false;
    flushHeld(s, link, frameMs, defaultMs);
    return link.run.load() && s.videoSeekMs.load() != 0;
}

// A seek landed: what the decoder holds belongs to the place before the jump, and the
// sound follows the pictures to where they landed.
void landed(Session& s, Link& link, uint32_t positionMs) {
    link.withHost([&](FilePlayHost& host) { host.discardFilePictures(link.run); });
    s.audioSeekMs.store(std::max<uint32_t>(positionMs, 1));
    s.answerSeeks(true);
}

void playRecordVideo(Session& s, Link& link) {
    RecordPtr record(custommp4_open(s.facts.path.c_str(), CUSTOMMP4_MODE_READ, s.facts.baseOffset));
    if (!record)
        return;
    custommp4_t* h = record.get();
    const int64_t defaultMs = defaultIntervalMs(s.facts.durationMs, s.facts.totalFrames);
    std::vector<uint8_t> frame(kRecordFrameBytes);
    const int capacity = static_cast<int>(frame.size());
    uint32_t position = 0;
    int32_t lastFrameMs = static_cast<int32_t>(defaultMs);
    for (;;) {
        if (!link.run.load() || position >= s.durationMs.load()) {
            if (!playsOnAfterEnd(s, link, lastFrameMs, defaultMs))
                break;
            position = 0;
        }
        uint32_t stamp = 0;
        int32_t frameMs = 0;
        uint8_t type = 0;
        int size = 0;
        if (const uint32_t seek = s.videoSeekMs.exchange(0); seek != 0) {
            // The record's index tells its key frames; without one at or after the target
            // play goes on where it was.
            if (custommp4_seek_to_time_stamp(h, seek == 1 ? 0 : seek) != 1) {
                s.answerSeeks(false);
                continue;
            }
            do {
                size =
                    custommp4_read_video_frame(h, frame.data(), capacity, &stamp, &frameMs, &type);
            } while (size > 0 && type < kRecordKeyType && link.run.load());
            if (size > 0)
                landed(s, link, stamp);
            else
                s.answerSeeks(false);
        } else {
            size = custommp4_read_video_frame(h, frame.data(), capacity, &stamp, &frameMs, &type);
        }
        if (size <= 0) {
            position = s.durationMs.load();  // the end: what the decoder holds comes out
            continue;
        }
        lastFrameMs = frameMs;
        link.withHost([&](FilePlayHost& host) {
            host.reportFileSei(frame.data(), static_cast<size_t>(size), stamp);
        });
        position = stamp;
        s.positionMs.store(position);
        s.playedFrames.store(custommp4_video_position(h));
        if (position > s.durationMs.load())
            continue;
        showAndPace(s, link, frame.data(), static_cast<size_t>(size),
                    type >= kRecordKeyType ? kRecordKeyType : 0, position, frameMs, defaultMs);
    }
}

// Reads AVI frame index into frame: its size, 0 for an empty frame, -1 at the end or on
// failure.
long readAviFrame(avi_reader_t* h, long index, std::vector<uint8_t>& frame) {
    if (avi_reader_seek_video(h, index) != 0)
        return -1;
    const long size = avi_reader_frame_size(h);
    if (size < 0 || size > kLargestAviFrameBytes)
        return -1;
    if (frame.size() < static_cast<size_t>(size) + 1)
        frame.resize(static_cast<size_t>(size) + 1);
    return avi_reader_read_video_bounded(h, frame.data(), static_cast<long>(frame.size()), nullptr);
}

void playAviVideo(Session& s, Link& link) {
    AviPtr avi(avi_reader_open(s.facts.path.c_str(), 1));
    if (!avi)
        return;
    avi_reader_t* h = avi.get();
    const long total = s.facts.totalFrames;
    const uint32_t duration = s.facts.durationMs;
    const int64_t defaultMs = defaultIntervalMs(duration, static_cast<double>(total));
    const double fps = s.facts.avi.frameRate;
    const int64_t frameMs = fps > 0.0 ? static_cast<int64_t>(1000.0 / fps) : kFallbackIntervalMs;
    std::vector<uint8_t> frame;
    long index = 0;
    uint32_t position = 0;
    for (;;) {
        if (!link.run.load() || position >= s.durationMs.load()) {
            if (!playsOnAfterEnd(s, link, frameMs, defaultMs))
                break;
            position = 0;
        }
        long shownIndex = index;
        long size = 0;
        if (const uint32_t seek = s.videoSeekMs.exchange(0); seek != 0) {
            long at = seek == 1 ? 0
                                : indexAtMs(static_cast<double>(seek) + s.facts.startTime, duration,
                                            total);
            do {
                shownIndex = at;
                size = readAviFrame(h, at++, frame);
            } while (size >= 0 && !isKeyFrame(frame, size) && link.run.load());
            if (size < 0) {
                // No key frame from the target on: play goes on where it was.
                s.answerSeeks(false);
                continue;
            }
            index = at;
            landed(s, link, msAtIndex(shownIndex, total, duration));
        } else {
            size = readAviFrame(h, index++, frame);
        }
        if (size < 0) {
            position = s.durationMs.load();  // the end: what the decoder holds comes out
            continue;
        }
        position = msAtIndex(shownIndex, total, duration);
        s.positionMs.store(position);
        s.playedFrames.store(static_cast<uint32_t>(index));
        if (size == 0) {
            // An empty chunk (a dropped frame) is time without a picture.
            paceFrame(s, link, frameMs, 0, defaultMs);
            continue;
        }
        link.withHost([&](FilePlayHost& host) {
            host.reportFileSei(frame.data(), static_cast<size_t>(size), position);
        });
        showAndPace(s, link, frame.data(), static_cast<size_t>(size), 0, position, frameMs,
                    defaultMs);
    }
}

void playRecordAudio(Session& s, Link& link) {
    RecordPtr record(custommp4_open(s.facts.path.c_str(), CUSTOMMP4_MODE_READ, s.facts.baseOffset));
    if (!record)
        return;
    custommp4_t* h = record.get();
    const int bits = custommp4_audio_bits_per_sample(h);
    const int64_t defaultMs = defaultIntervalMs(s.facts.durationMs, custommp4_audio_frames(h));
    link.withHost([&](FilePlayHost& host) { host.prepareSound(bits, kRecordSoundRate); });
    std::vector<uint8_t> in(
        static_cast<size_t>(std::max(kMinAudioBufferBytes, custommp4_audio_frame_size(h))));
    std::vector<uint8_t> pcm;
    int64_t lastCheck = nowMs();
    while (link.run.load() && s.fileState() != FileState::Stopped) {
        if (const uint32_t seek = s.audioSeekMs.exchange(0); seek != 0)
            custommp4_seek_to_time_stamp(h, seek == 1 ? 0 : seek);
        bool heard = false;
        link.withHost([&](FilePlayHost& host) { heard = host.isSoundPort(); });
        if (!heard) {
            custommp4_seek_to_time_stamp(h, s.positionMs.load());
            link.sleep(kFollowStepMs);
            continue;
        }
        uint32_t stamp = 0;
        int32_t frameMs = 0;
        const int size =
            custommp4_read_audio_frame(h, in.data(), static_cast<int>(in.size()), &stamp, &frameMs);
        if (size <= 0 || stamp > s.durationMs.load())
            break;
        const int64_t t0 = nowMs();
        const DecodedAudio decoded = decodeRecordAudio(in.data(), static_cast<size_t>(size), pcm);
        if (decoded.bits != 0 && decoded.bytes > 0) {
            link.withHost([&](FilePlayHost& host) {
                host.reportPcm(pcm.data(), decoded.bytes, bits, stamp);
            });
        }
        const double factor = s.sleepFactor.load();
        int64_t wait = 0;
        if (isNormalSpeed(factor)) {
            if (decoded.bytes > 0)
                writeSound(s, link, pcm.data(), decoded.bytes, bits);
            if (nowMs() - lastCheck >= kRecordSyncCheckMs) {
                lastCheck = nowMs();
                const int64_t video = s.positionMs.load();
                if (std::llabs(video - static_cast<int64_t>(stamp)) > kRecordSyncToleranceMs) {
                    if (video - static_cast<int64_t>(stamp) < 1) {
                        // Sound ahead: wait for the pictures (or for their end).
                        while (link.run.load() && s.positionMs.load() < stamp &&
                               s.fileState() != FileState::Stopped)
                            link.sleep(kSyncWaitStepMs);
                        if (s.fileState() == FileState::Stopped)
                            break;
                    } else {
                        custommp4_seek_to_time_stamp(h, static_cast<uint32_t>(video));
                    }
                }
            }
            wait = frameWaitMs(frameMs, nowMs() - t0, defaultMs);
        } else {
            link.sleep(scaledWaitMs(frameMs, factor));
            wait = frameMs - (nowMs() - t0);
            if (wait <= 0 || wait > kLongestFrameWaitMs)
                wait = defaultMs;
        }
        link.sleep(scaledWaitMs(wait, factor));
        holdAudioWhilePaused(s, link);
    }
}

void playAviAudio(Session& s, Link& link) {
    AviPtr avi(avi_reader_open(s.facts.path.c_str(), 1));
    if (!avi)
        return;
    avi_reader_t* h = avi.get();
    const MediaFacts& facts = s.facts.avi;
    const AviAudioFormat format{facts.audioFormat, facts.audioChannels, facts.audioBits};
    const int outBits = aviOutputBits(format);
    const long chunks = avi_reader_audio_chunks(h);
    const uint32_t duration = s.facts.durationMs;
    const double bytesPerSecond = facts.audioBytesPerSecond;
    const double audioSeconds =
        bytesPerSecond > 0 ? static_cast<double>(facts.audioBytes) / bytesPerSecond : 0.0;
    const int64_t defaultMs = defaultIntervalMs(duration, audioSeconds * 50);
    const int rate = facts.audioRate > 0 ? static_cast<int>(facts.audioRate) : kRecordSoundRate;
    link.withHost([&](FilePlayHost& host) { host.prepareSound(outBits, rate); });
    auto videoIndex = [&] { return indexAtMs(s.positionMs.load(), duration, chunks); };
    auto restart = [&] { link.withHost([](FilePlayHost& host) { host.restartSound(); }); };
    std::vector<uint8_t> in, pcm;
    long index = 0;
    int64_t lastCheck = nowMs();
    while (link.run.load() && s.fileState() != FileState::Stopped) {
        if (const uint32_t seek = s.audioSeekMs.exchange(0); seek != 0) {
            index = seek == 1 ? 0 : indexAtMs(seek, duration, chunks);
            restart();
        }
        bool heard = false;
        link.withHost([&](FilePlayHost& host) { heard = host.isSoundPort(); });
        if (!heard) {
            index = videoIndex();
            link.sleep(kFollowStepMs);
            continue;
        }
        const long size = avi_reader_audio_chunk_size(h, index);
        if (size < 0 || size > kLargestAviChunkBytes || avi_reader_seek_audio_chunk(h, index) != 0)
            break;
        in.resize(static_cast<size_t>(std::max(size, 1L)));
        if (avi_reader_read_audio(h, in.data(), size) != size)
            break;
        ++index;
        const int64_t t0 = nowMs();
        const DecodedAudio decoded =
            decodeAviAudio(format, in.data(), static_cast<size_t>(size), pcm);
        if (decoded.bits == 0)
            break;
        link.withHost([&](FilePlayHost& host) {
            host.reportPcm(pcm.data(), decoded.bytes, decoded.bits, 0);
        });
        const int64_t chunkMs =
            bytesPerSecond > 0 ? static_cast<int64_t>(size * 1000.0 / bytesPerSecond) : defaultMs;
        const double factor = s.sleepFactor.load();
        int64_t wait = 0;
        if (isNormalSpeed(factor)) {
            writeSound(s, link, pcm.data(), decoded.bytes, outBits);
            if (nowMs() - lastCheck >= kAviSyncCheckMs) {
                lastCheck = nowMs();
                const long expected = videoIndex();
                if (index + 1 < expected) {
                    index = expected;  // behind: jump to the pictures
                    restart();
                } else if (index > expected + 1) {
                    while (link.run.load() && index > videoIndex() + 1 &&
                           s.fileState() != FileState::Stopped)
                        link.sleep(kSyncWaitStepMs);
                }
            }
            wait = frameWaitMs(chunkMs, nowMs() - t0, defaultMs);
        } else {
            index = videoIndex();
            link.sleep(scaledWaitMs(chunkMs, factor));
            wait = chunkMs - (nowMs() - t0);
            if (wait <= 0 || wait > kLongestFrameWaitMs)
                wait = defaultMs;
        }
        link.sleep(scaledWaitMs(wait, factor));
        holdAudioWhilePaused(s, link);
    }
}

void runVideoThread(std::shared_ptr<Session> s, std::shared_ptr<Link> link) {
    pthread_setname_np(pthread_self(), "zelplay-fvideo");
    videoThreadOf = s.get();
    if (s->facts.factsRead) {
        if (s->facts.kind == FileKind::Record)
            playRecordVideo(*s, *link);
        else if (s->facts.kind == FileKind::Avi)
            playAviVideo(*s, *link);
    }
    s->noteVideoEnded();
    s->state.store(static_cast<int>(FileState::Stopped));
    s->durationMs.store(0);
    s->positionMs.store(0);
    // Posted here unless stop() gave up on this thread (it posts then).
    link->withHost([&](FilePlayHost&) { s->postEnd(); });
    link->finish();
}

void runAudioThread(std::shared_ptr<Session> s, std::shared_ptr<Link> link) {
    pthread_setname_np(pthread_self(), "zelplay-faudio");
    if (s->facts.kind == FileKind::Record)
        playRecordAudio(*s, *link);
    else if (s->facts.kind == FileKind::Avi)
        playAviAudio(*s, *link);
    link->finish();
}

// Stops one thread: joined when it ends by the deadline, else cut off from the port and
// left to end by itself. True when it ended in time.
bool endThread(Link* link, std::thread& thread, std::chrono::steady_clock::time_point deadline) {
    if (!thread.joinable())
        return true;
    if (link->waitDone(deadline)) {
        thread.join();
        return true;
    }
    link->closeGate();
    thread.detach();
    return false;
}

}  // namespace

FilePlayer::FilePlayer(ZELPLAY_PORT port)
    : port_(port), endTarget_(std::make_shared<FileEndTarget>()) {}

FilePlayer::~FilePlayer() {
    stop();
}

void FilePlayer::setOpened(FileOpenFacts facts) {
    std::lock_guard l(lock_);
    opened_ = std::move(facts);
}

void FilePlayer::clearOpened() {
    std::lock_guard l(lock_);
    opened_ = FileOpenFacts{};
}

bool FilePlayer::start(FilePlayHost& host) {
    std::lock_guard l(lock_);
    auto session = std::make_shared<FileSession>();
    session->facts = opened_;
    session->port = port_;
    session->endTarget = endTarget_;
    session->durationMs.store(opened_.durationMs);
    session->videoSeekMs.store(opened_.initialSeekMs);
    session->audioSeekMs.store(opened_.initialSeekMs);
    // Playing from the start, so that controls and queries right after Play find it.
    session->state.store(static_cast<int>(FileState::Playing));
    auto videoLink = std::make_shared<FileThreadLink>(&host);
    std::thread video;
    try {
        video = std::thread(runVideoThread, session, videoLink);
    } catch (const std::system_error&) {
        return false;
    }
    std::shared_ptr<FileThreadLink> audioLink;
    std::thread audio;
    if (opened_.hasAudio && opened_.factsRead) {
        audioLink = std::make_shared<FileThreadLink>(&host);
        try {
            audio = std::thread(runAudioThread, session, audioLink);
        } catch (const std::system_error&) {
            videoLink->requestStop();
            video.join();
            return false;
        }
    }
    session_ = std::move(session);
    videoLink_ = std::move(videoLink);
    audioLink_ = std::move(audioLink);
    videoThread_ = std::move(video);
    audioThread_ = std::move(audio);
    return true;
}

namespace {

// The threads of a stopped play, waited for when it is destroyed.
struct StoppedPlay final : FilePlayer::Ending {
    std::shared_ptr<FileSession> session;
    std::shared_ptr<FileThreadLink> videoLink, audioLink;
    std::thread video, audio;
    int boundMs = FilePlayer::kStopBoundMs;

    ~StoppedPlay() override {
        if (!session)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        const bool videoEnded = endThread(videoLink.get(), video, deadline);
        if (audioLink)
            endThread(audioLink.get(), audio, deadline);
        if (!videoEnded)
            session->postEnd();
    }
};

}  // namespace

std::unique_ptr<FilePlayer::Ending> FilePlayer::detach() {
    // Made before the threads are taken over, so that they are never dropped unjoined.
    auto stopped = std::make_unique<StoppedPlay>();
    {
        std::lock_guard l(lock_);
        stopped->session = std::move(session_);
        stopped->videoLink = std::move(videoLink_);
        stopped->audioLink = std::move(audioLink_);
        stopped->video = std::move(videoThread_);
        stopped->audio = std::move(audioThread_);
    }
    if (!stopped->session)
        return nullptr;
    stopped->boundMs = stopBoundMs_.load();
    stopped->session->state.store(static_cast<int>(FileState::Stopped));
    stopped->videoLink->requestStop();
    if (stopped->audioLink)
        stopped->audioLink->requestStop();
    return stopped;
}

bool FilePlayer::sessionActive() {
    std::lock_guard l(lock_);
    return session_ != nullptr;
}

std::shared_ptr<FileSession> FilePlayer::currentSession() {
    std::lock_guard l(lock_);
    return session_;
}

void FilePlayer::wakeThreads() {
    std::lock_guard l(lock_);
    if (videoLink_)
        videoLink_->wake();
    if (audioLink_)
        audioLink_->wake();
}

void FilePlayer::pause(bool pause) {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s)
        return;
    int from = static_cast<int>(pause ? FileState::Playing : FileState::Paused);
    s->state.compare_exchange_strong(
        from, static_cast<int>(pause ? FileState::Paused : FileState::Playing));
    wakeThreads();
}

void FilePlayer::step() {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s)
        return;
    int current = s->state.load();
    while (current != static_cast<int>(FileState::Stopped) &&
           !s->state.compare_exchange_weak(current, static_cast<int>(FileState::Step))) {
    }
    wakeThreads();
}

void FilePlayer::changeSpeed(double factor) {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s)
        return;
    std::lock_guard l(s->speedLock);
    const double next = steppedSpeed(s->speed, factor);
    if (s->fileState() == FileState::Playing) {
        s->speed = next;
        s->sleepFactor.store(1.0 / next);
    }
}

void FilePlayer::resetSpeed() {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s)
        return;
    std::lock_guard l(s->speedLock);
    if (s->fileState() == FileState::Playing) {
        s->speed = 1.0;
        s->sleepFactor.store(1.0);
    }
}

SeekResult FilePlayer::seek(float position, bool wait) {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s || s->fileState() == FileState::Stopped)
        return SeekResult::NotPlaying;
    const uint32_t target = seekRequestMs(position, s->durationMs.load());
    uint64_t ticket = 0;
    {
        std::lock_guard l(s->seekLock);
        ticket = ++s->seeksAsked;
        if (s->videoEnded)
            return SeekResult::NotPlaying;
    }
    // The sound follows once the pictures have found their key frame.
    s->videoSeekMs.store(target);
    wakeThreads();
    if (!wait || videoThreadOf == s.get())
        return SeekResult::Asked;  // from a callback on the video thread: it answers later
    std::unique_lock l(s->seekLock);
    const bool answered = s->seekAnswer.wait_for(l, std::chrono::milliseconds(kSeekAnswerMs), [&] {
        return s->seeksAnswered >= ticket || s->videoEnded;
    });
    if (!answered)
        return SeekResult::Asked;  // a long search: it goes on, and play follows it
    if (s->seeksAnswered < ticket)
        return SeekResult::NotPlaying;  // play ended first
    return s->lastSeekLanded ? SeekResult::Landed : SeekResult::NoKeyFrame;
}

FileState FilePlayer::state() {
    const std::shared_ptr<FileSession> s = currentSession();
    return s ? s->fileState() : FileState::Stopped;
}

bool FilePlayer::position(float* position) {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s || s->fileState() == FileState::Stopped)
        return false;
    const uint32_t duration = s->durationMs.load();
    *position = duration == 0
                    ? 0.0f
                    : static_cast<float>(static_cast<double>(s->positionMs.load()) / duration);
    return true;
}

uint32_t FilePlayer::durationMs() {
    std::lock_guard l(lock_);
    return session_ ? session_->durationMs.load() : opened_.durationMs;
}

uint32_t FilePlayer::playedFrames() {
    const std::shared_ptr<FileSession> s = currentSession();
    return s ? s->playedFrames.load() : 0;
}

FileOpenFacts FilePlayer::opened() {
    std::lock_guard l(lock_);
    return opened_;
}

void FilePlayer::setEndMessage(uintptr_t window, uint32_t message) {
    std::lock_guard l(endTarget_->lock);
    endTarget_->window = window;
    endTarget_->message = message;
}

double FilePlayer::speed() {
    const std::shared_ptr<FileSession> s = currentSession();
    if (!s)
        return 1.0;
    std::lock_guard l(s->speedLock);
    return s->speed;
}

}  // namespace zelplay
