// Pure rules of a playback run: the input options, which addresses are live, and how
// pictures of a stored file are paced.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace monvid {

// Socket time-out of network inputs, in microseconds (10 s).
inline constexpr const char* kSocketTimeoutUs = "10000000";

// A live input that delivers nothing for this long while it plays is taken as lost: the run
// ends (reason: timed out) and the window's reconnect policy takes over. Time in which the play
// thread itself was held up does not count.
inline constexpr int kLiveSilenceMs = 4000;

// The options given to the opening of an address, in the order they are set. Besides the
// demuxing limits every input gets, the 10-second socket time-out is carried by "timeout"
// for RTSP and by "rw_timeout" for RTMP (where "timeout" would make FFmpeg listen).
std::vector<std::pair<std::string, std::string>> openOptionsFor(const std::string& address);

enum class AddressKind { File, Rtsp, Rtmp };
AddressKind addressKind(const std::string& address);

// Live inputs are shown as they arrive; everything else is paced by its time stamps.
inline bool isLiveAddress(const std::string& address) {
    return addressKind(address) != AddressKind::File;
}

// Paces the pictures of a stored input by their presentation times: the first picture sets
// the origin, and each later one is due at origin + (its time - first time). Times in
// microseconds; a jump backwards or of more than maxJumpUs re-anchors the clock so that a
// damaged time stamp never stalls the picture.
class PresentationClock {
  public:
    static constexpr std::int64_t kMaxJumpUs = 5'000'000;

    // Microseconds to wait before showing a picture with time ptsUs when the wall clock
    // reads nowUs; 0 when it is due. A picture without a time stamp is due at once.
    std::int64_t delayUs(std::int64_t ptsUs, std::int64_t nowUs);
    void reset() { anchored_ = false; }

  private:
    bool anchored_ = false;
    std::int64_t originWallUs_ = 0;
    std::int64_t originPtsUs_ = 0;
    std::int64_t lastPtsUs_ = 0;
};

}  // namespace monvid
