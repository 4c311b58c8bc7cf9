// The pacing rules of file play as pure functions: how long a file thread waits after a
// frame, where a position or a seek lands, and how the speed steps.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zelplay {

inline constexpr int64_t kLongestFrameWaitMs = 1000;  // a longer wait is taken as a gap
inline constexpr int64_t kFallbackIntervalMs = 40;    // when a file gives no usable interval
inline constexpr double kFileMaxSpeed = 16.0;
inline constexpr double kFileMinSpeed = 1.0 / 16.0;

// The interval a thread waits when a frame's own wait is out of bounds: the average frame
// length, at most a second; the fallback when the file gives nothing to divide.
inline int64_t defaultIntervalMs(double durationMs, double count) {
    if (count <= 0.0 || durationMs <= 0.0)
        return kFallbackIntervalMs;
    const auto avg = static_cast<int64_t>(durationMs / count);
    return avg <= 0 ? kFallbackIntervalMs : std::min<int64_t>(kLongestFrameWaitMs, avg);
}

// The wait after a frame of frameMs that took elapsedMs to decode and show: the rest of its
// time, or nothing when it took longer; a rest over a second is the default interval.
inline int64_t frameWaitMs(int64_t frameMs, int64_t elapsedMs, int64_t defaultMs) {
    if (elapsedMs >= frameMs)
        return 0;
    const int64_t wait = frameMs - elapsedMs;
    return wait > kLongestFrameWaitMs ? defaultMs : wait;
}

// A wait scaled by the sleep factor (1 / speed), truncated to whole ms.
inline int64_t scaledWaitMs(int64_t ms, double sleepFactor) {
    return static_cast<int64_t>(static_cast<double>(ms) * sleepFactor);
}

// The next speed after a fast (factor 2) or slow (factor 0.5) step.
inline double steppedSpeed(double speed, double factor) {
    return std::clamp(speed * factor, kFileMinSpeed, kFileMaxSpeed);
}

inline bool isNormalSpeed(double sleepFactor) {
    return sleepFactor > 1.0 - 0.0001 && sleepFactor < 1.0 + 0.0001;
}

// A seek request for position 0..1 of a file of durationMs: the target in ms, at least 1
// (1 stands for the start; 0 means no request).
inline uint32_t seekRequestMs(float position, uint32_t durationMs) {
    const auto target = static_cast<uint32_t>(static_cast<double>(position) * durationMs);
    return std::max<uint32_t>(target, 1);
}

// The element of count evenly spread over durationMs that time ms falls on (AVI frames and
// audio chunks), truncated, at most count.
inline long indexAtMs(double ms, uint32_t durationMs, long count) {
    if (durationMs == 0 || count <= 0 || ms <= 0.0)
        return 0;
    const auto index = static_cast<long>(ms / durationMs * static_cast<double>(count));
    return std::min(index, count);
}

// The time of element index of count spread over durationMs, truncated.
inline uint32_t msAtIndex(long index, long count, uint32_t durationMs) {
    if (count <= 0 || index <= 0)
        return 0;
    // In integers: a double quotient can fall just short of a whole ms and truncate a step.
    return static_cast<uint32_t>(static_cast<uint64_t>(index) * durationMs /
                                 static_cast<uint64_t>(count));
}

// Frames per second reported with each file picture: total frames * 1000 / duration.
inline int32_t fileFrameRate(uint32_t totalFrames, uint32_t durationMs) {
    return durationMs == 0
               ? 0
               : static_cast<int32_t>(static_cast<uint64_t>(totalFrames) * 1000 / durationMs);
}

}  // namespace zelplay
