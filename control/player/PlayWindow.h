// What a playback run needs of its window, and nothing more: the run's flags, the pictures it
// hands over, the state of the link and the counters of the health overlay. The window
// implements it; a run (CStreamPlayer) sees the window only through it, so a run can be driven
// without widgets.
//
// Threads: every member is called on the play thread of the run, and may be called by the
// leaving thread of a restart and its successor at the same time; implementations guard their
// state accordingly.
#pragma once

#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <string>

extern "C" {
struct AVFrame;
}

// Counters of a window's runs and pictures since construction, read by tests, benchmarks and
// the health overlay. Written by the play thread, read by any thread.
struct PlayCounters {
    std::atomic<std::uint64_t> runs{0};           // playback runs begun
    std::atomic<std::uint64_t> soundOpened{0};    // runs that held the sound device
    std::atomic<std::uint64_t> received{0};       // video packets read (pictures received)
    std::atomic<std::uint64_t> bytesRead{0};      // bytes of all packets read
    std::atomic<std::uint64_t> decoded{0};        // pictures the decoder delivered
    std::atomic<std::uint64_t> shown{0};          // pictures handed to the window and kept
    std::atomic<std::uint64_t> dropped{0};        // pictures not shown, for any of the reasons:
    std::atomic<std::uint64_t> droppedLate{0};    //   skipped by the latency cap, not decoded
    std::atomic<std::uint64_t> droppedSize{0};    //   another size than the run's first picture
    std::atomic<std::uint64_t> droppedHidden{0};  // the window was hidden
    std::atomic<std::uint64_t> droppedBusy{0};    // a capture was in progress or playing stopped
    std::atomic<std::int64_t> latencyUs{-1};      // lateness of the last live picture; -1: none
};

// What the overlay says about the input of the current run.
struct StreamFacts {
    std::string codec;  // decoder's short name, e.g. "h264"
    int width = 0;      // the stream's own picture size
    int height = 0;
    bool live = false;  // RTSP or RTMP: lateness is measured and capped
};

// How a run ended, for the reconnect policy and the badge.
struct RunOutcome {
    bool played = false;  // the input opened and its read loop ran (Play returned true)
    std::uint64_t picturesShown = 0;
    int error = 0;             // FFmpeg error code that ended or failed the run; 0: none
    bool stoppedByUs = false;  // the run was stopped (m_bPlaying cleared, restart, close)
    bool live = false;
};

class IPlayWindow {
  public:
    // Flags of the run (Parts of the window's behaviour that the run honours).
    virtual bool isShownForPlay() const = 0;  // visible: pictures are handed over
    virtual bool isPlaying() const = 0;       // m_bPlaying: cleared to stop the run
    virtual bool stopRequested() const = 0;   // a stop came in since the last run ended
    // A run's write of m_bPlaying; ignored once `quit` is set, and a start (true) is ignored
    // after a stop request.
    virtual void setPlayingFromRun(const std::atomic<bool>& quit, bool value) = 0;

    // Pictures. The size pictures are to be converted to (the video area); empty while the
    // window has none.
    virtual QSize pictureTarget() const = 0;
    // Offers a picture already converted to pictureTarget(), with the decoded frame it came
    // from (kept for capture at the stream's own size). When the window keeps it, `picture`
    // receives the window's previous picture in exchange (to be reused) and the result is
    // true; otherwise `picture` is left as it was and the drop is counted.
    virtual bool offerPicture(QImage& picture, const AVFrame* source) = 0;

    // The state of the link: what the input is, once its decoder is open; the first picture
    // of a run (the link is back).
    virtual void streamOpened(const StreamFacts& facts) = 0;
    virtual void linkRestored() = 0;

    // Latency cap for live input in milliseconds; 0 turns it off.
    virtual int maxDelayMs() const = 0;

    virtual PlayCounters& counters() = 0;

  protected:
    ~IPlayWindow() = default;
};
