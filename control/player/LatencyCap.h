// The latency cap of live input: a window never shows a live picture more than the cap behind
// its stream once it has caught up. Behind by more (after a stall of the play thread, a burst
// after a network loss, a machine too slow for the stream), it drops the pictures up to the
// next key frame that is on time instead of playing the backlog.
//
// The stream's lateness is measured against its own history: the offset between the local
// clock and a picture's time stamp is smallest for pictures that arrived as soon as they were
// sent, so the smallest offset seen is the base and a picture's lateness is how far its offset
// lies above it. The base creeps upwards slowly so that a sender's clock running slower than
// ours is not mistaken for growing lateness; a jump far beyond any stall is a break in the
// time stamps and starts the measure afresh.
//
// Pictures arrive in decoding order. One whose time stamp lies a little below the latest seen
// (a B-frame, shown before a picture that came earlier) is not measured: it goes with the
// pictures around it. Lateness that a whole key-frame interval of dropping did not shrink is
// no backlog (a backlog is read far faster than it was sent) but time stamps that stepped
// back, as when an encoder restarts behind a relay: the measure starts afresh there.
//
// Pure: times are given by the caller (microseconds). One per run, on the play thread.
#pragma once

#include <cstdint>

namespace monvid {

inline constexpr int kDefaultMaxDelayMs = 500;  // the cap unless the host sets another; 0: off

class LatencyCap {
  public:
    static constexpr std::int64_t kNoTime = INT64_MIN;
    static constexpr std::int64_t kBaseCreepPerSecondUs = 1000;  // 1 ms a second: 0.1 % drift
    static constexpr std::int64_t kTimeBreakUs = 30'000'000;     // a jump this large re-anchors
    // Time stamps at most this far below the latest are reordered pictures, not a step back.
    static constexpr std::int64_t kReorderSpanUs = 500'000;

    enum class Verdict {
        Decode,           // on time: decode as usual
        Drop,             // behind: dropped while catching up
        FlushThenDecode,  // the key frame that ends catching up: flush the decoder first
    };

    // maxDelayMs 0 turns the cap off: every packet is decoded (the lateness is still measured).
    explicit LatencyCap(int maxDelayMs)
        : m_maxDelayUs(static_cast<std::int64_t>(maxDelayMs) * 1000) {}

    // A video packet with time stamp ptsUs (kNoTime when it has none) read at nowUs.
    Verdict onVideoPacket(std::int64_t ptsUs, bool keyFrame, std::int64_t nowUs);

    // How far a picture with time stamp ptsUs shown at nowUs is behind its stream; 0 before
    // anything was measured or without a time stamp.
    std::int64_t latenessUs(std::int64_t ptsUs, std::int64_t nowUs) const;

    bool catchingUp() const { return m_catchingUp; }
    bool enabled() const { return m_maxDelayUs > 0; }

  private:
    void observe(std::int64_t offsetUs, std::int64_t nowUs);

    std::int64_t m_maxDelayUs;
    bool m_anchored = false;
    std::int64_t m_baseOffsetUs = 0;  // smallest (arrival - time stamp) seen, creeping upwards
    std::int64_t m_lastNowUs = 0;
    bool m_catchingUp = false;
    std::int64_t m_latestPtsUs = kNoTime;  // the largest time stamp since the last break
    bool m_lateKeySeen = false;            // a late key frame was seen while catching up ...
    std::int64_t m_lateKeyOffsetUs = 0;    // ... with this offset
};

}  // namespace monvid
