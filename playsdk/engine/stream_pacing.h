// When a buffered frame is due: the pacing rule of the scheduler as a pure function over
// the stream's clocks, so it is tested without threads.
#pragma once

#include <cstdint>

namespace zelplay {

// First time stamp and first tick of one kind of frame (0 = unset).
struct StreamClock {
    uint32_t firstStamp = 0;
    uint32_t firstTick = 0;
};

struct PaceInput {
    uint32_t nowMs = 0;    // millisecond tick
    uint32_t stampMs = 0;  // the head frame's time stamp
    bool video = true;
    long queued = 0;              // frames queued now
    long depthAtStart = 0;        // frames queued when buffering ended
    uint32_t lastIntervalMs = 0;  // stamp span of the last shown video frame
    int nominalRate = 3;          // frames per second of the catch-up rule
    double speed = 1.0;
};

enum class PaceVerdict {
    Due,        // show it now
    Wait,       // not yet: waitMs to go
    DropAudio,  // audio while the speed is not 1: thrown away
};

struct PaceResult {
    PaceVerdict verdict = PaceVerdict::Due;
    int64_t stampLenMs = 0;  // the (speed-scaled) span used; becomes the last interval
    int64_t waitMs = 0;      // for Wait
};

inline constexpr int64_t kClockResetMs = 1000;

bool speedIsNormal(double speed);

// Applies the rule to the clock of the frame's kind (updated in place).
PaceResult paceFrame(StreamClock& clock, const PaceInput& in);

}  // namespace zelplay
