// The health overlay of a video window: pictures a second shown and received, bit rate,
// pictures dropped and why, the current lateness of live input, codec and size. The figures
// come from two samples of the window's counters taken some time apart.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

#include "PlayWindow.h"

class QPainter;
class QRect;

namespace monvid {

// The counters at one moment.
struct HealthSample {
    std::chrono::steady_clock::time_point at{};
    std::uint64_t received = 0;
    std::uint64_t shown = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t droppedLate = 0;
    std::uint64_t droppedSize = 0;
    std::uint64_t droppedHidden = 0;
    std::uint64_t droppedBusy = 0;
    std::int64_t latencyUs = -1;
};
HealthSample sampleCounters(const PlayCounters& counters, std::chrono::steady_clock::time_point at);

struct HealthFigures {
    double shownPerSecond = 0;
    double receivedPerSecond = 0;
    double kilobitsPerSecond = 0;
    std::uint64_t droppedLate = 0;  // totals since the window was made
    std::uint64_t droppedSize = 0;
    std::uint64_t droppedHidden = 0;
    std::uint64_t droppedBusy = 0;
    std::int64_t latencyMs = -1;  // -1: not live, or nothing shown yet
    StreamFacts facts;
};

// Rates between two samples (zero when no time passed between them), totals of the later one.
HealthFigures healthFigures(const HealthSample& earlier, const HealthSample& later,
                            const StreamFacts& facts);

// The overlay's lines, translated.
QStringList healthLines(const HealthFigures& figures);

// Draws the lines in a translucent panel at the top left of `area`.
void drawHealthOverlay(QPainter& painter, const QRect& area, const QStringList& lines);

}  // namespace monvid
