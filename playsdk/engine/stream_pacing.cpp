#include "stream_pacing.h"

#include <cmath>
#include <cstdlib>

namespace zelplay {

bool speedIsNormal(double speed) {
    return std::fabs(speed - 1.0) <= 0.0001;
}

PaceResult paceFrame(StreamClock& clock, const PaceInput& in) {
    PaceResult r;
    if (clock.firstStamp == 0 || clock.firstStamp > in.stampMs)
        clock.firstStamp = in.stampMs;
    if (clock.firstTick == 0 || clock.firstTick > in.nowMs)
        clock.firstTick = in.nowMs;
    const int64_t tickLen = static_cast<int64_t>(in.nowMs) - clock.firstTick;
    int64_t stampLen = static_cast<int64_t>(in.stampMs) - clock.firstStamp;
    if (in.video && in.queued < in.depthAtStart - 2) {
        // The queue runs low: hold frames at least one nominal frame time apart.
        const int rate = in.nominalRate == 0 ? 1 : in.nominalRate;
        const int64_t floorLen = static_cast<int64_t>(in.lastIntervalMs) + 1000 / rate;
        if (stampLen < floorLen)
            stampLen = floorLen;
    }
    if (!in.video && !speedIsNormal(in.speed)) {
        clock.firstTick = in.nowMs;
        clock.firstStamp = in.stampMs;
        r.verdict = PaceVerdict::DropAudio;
        return r;
    }
    if (!speedIsNormal(in.speed))
        stampLen = static_cast<int64_t>(static_cast<double>(stampLen) / in.speed);
    if (std::llabs(tickLen - stampLen) > kClockResetMs) {
        // A jump in the time stamps (or a long pause): restart the clock at this frame.
        clock.firstTick = in.nowMs;
        clock.firstStamp = in.stampMs;
        r.stampLenMs = 0;
        r.verdict = PaceVerdict::Due;
        return r;
    }
    r.stampLenMs = stampLen;
    if (tickLen < stampLen) {
        r.verdict = PaceVerdict::Wait;
        r.waitMs = stampLen - tickLen;
        return r;
    }
    r.verdict = PaceVerdict::Due;
    return r;
}

}  // namespace zelplay
