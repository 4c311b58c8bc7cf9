// The rules behind a live wall, without threads or windows: the reconnect schedule, the
// latency cap's drop-to-key-frame rule, the badge's words and the overlay's figures.
#include <gtest/gtest.h>

#include <QDateTime>

#include <cerrno>
#include <chrono>
#include <set>
#include <vector>

#include "HealthOverlay.h"
#include "LatencyCap.h"
#include "LostBadge.h"
#include "ReconnectPolicy.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace monvid;
using namespace std::chrono_literals;

namespace {

// A steady clock that moves only when the test says so.
struct FakeClock {
    ReconnectPolicy::Clock::time_point now{};
    std::function<ReconnectPolicy::Clock::time_point()> fn() {
        return [this] { return now; };
    }
};

}  // namespace

// Every wait drawn at the top of its step: the schedule itself.
double wholeStep() {
    return 1.0;
}

TEST(ReconnectPolicy, FirstRetryAtOnceThenDoublingUpToThirtySeconds) {
    FakeClock clock;
    ReconnectPolicy policy(clock.fn(), wholeStep);
    std::vector<long> waits;
    for (int i = 0; i < 9; ++i) {
        const auto wait = policy.runEnded(false);
        EXPECT_EQ(policy.dueAt(), clock.now + wait);
        waits.push_back(static_cast<long>(wait.count()));
        clock.now += wait + 5ms;  // the run itself took a moment
    }
    EXPECT_EQ(waits, (std::vector<long>{0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(policy.failuresInARow(), 9);
}

TEST(ReconnectPolicy, APictureStartsTheScheduleAgain) {
    FakeClock clock;
    ReconnectPolicy policy(clock.fn(), wholeStep);
    for (int i = 0; i < 5; ++i)
        policy.runEnded(false);
    EXPECT_EQ(policy.nextDelay(), 16000ms);
    // A run that showed pictures and then ended is retried at once, and the schedule after it
    // begins from the first step.
    EXPECT_EQ(policy.runEnded(true), 0ms);
    EXPECT_EQ(policy.runEnded(false), 1000ms);
    // The first picture of a run resets the schedule even before the run ends.
    policy.runEnded(false);
    policy.pictureShown();
    EXPECT_EQ(policy.nextDelay(), 0ms);
    EXPECT_EQ(policy.runEnded(false), 0ms);
}

TEST(ReconnectPolicy, WindowsThatLostOneServerSpreadTheirReturns) {
    // A draw at the bottom halves the step; none goes outside [step / 2, step].
    FakeClock clock;
    ReconnectPolicy low(clock.fn(), [] { return 0.0; });
    EXPECT_EQ(low.runEnded(false), 0ms);  // the first retry stays at once
    EXPECT_EQ(low.runEnded(false), 500ms);
    EXPECT_EQ(low.runEnded(false), 1000ms);
    ReconnectPolicy wild(clock.fn(), [] { return 7.0; });
    wild.runEnded(false);
    EXPECT_EQ(wild.runEnded(false), 1000ms);

    // Sixteen windows with the real draw, at their fourth failure (a step of 4 s): their
    // returns are spread over the step's second half, not stacked on one moment.
    std::set<long> returns;
    long first = 4000, last = 0;
    for (int w = 0; w < 16; ++w) {
        ReconnectPolicy policy(clock.fn());
        for (int i = 0; i < 3; ++i)
            policy.runEnded(false);
        const long wait = static_cast<long>(policy.runEnded(false).count());
        EXPECT_GE(wait, 2000);
        EXPECT_LE(wait, 4000);
        returns.insert(wait);
        first = std::min(first, wait);
        last = std::max(last, wait);
    }
    EXPECT_GE(returns.size(), 12u) << "returns stacked on a few moments";
    EXPECT_GE(last - first, 500) << "returns within " << last - first << " ms of each other";
}

// A live stream at 25 pictures a second with a key frame every 25, whose pictures leave the
// sender at their time stamps and reach the reader after `delayUs` of network.
struct SyntheticStream {
    static constexpr std::int64_t kFrameUs = 40'000;
    static constexpr int kGop = 25;
    std::int64_t sentUs(int n) const { return kStartUs + n * kFrameUs; }
    std::int64_t ptsUs(int n) const { return n * kFrameUs; }
    bool key(int n) const { return n % kGop == 0; }
    static constexpr std::int64_t kStartUs = 1'000'000'000;
};

TEST(LatencyCap, OnTimeStreamIsNeverDropped) {
    SyntheticStream s;
    LatencyCap cap(500);
    for (int n = 0; n < 2000; ++n) {
        // Network jitter of up to 30 ms.
        const std::int64_t arrival = s.sentUs(n) + 20'000 + (n * 7919 % 30) * 1000;
        ASSERT_EQ(cap.onVideoPacket(s.ptsUs(n), s.key(n), arrival), LatencyCap::Verdict::Decode)
            << n;
    }
}

TEST(LatencyCap, BacklogAfterAStallIsDroppedUpToTheNextKeyFrameOnTime) {
    // The reader keeps up for 100 pictures, then stalls 3 s. Afterwards the backlog comes in
    // far faster than it is shown: 2 ms a picture until it has caught up with the sender.
    SyntheticStream s;
    LatencyCap cap(500);
    std::int64_t now = 0;
    int n = 0;
    for (; n < 100; ++n) {
        now = s.sentUs(n) + 10'000;
        ASSERT_EQ(cap.onVideoPacket(s.ptsUs(n), s.key(n), now), LatencyCap::Verdict::Decode);
    }
    now += 3'000'000;
    int decodedLate = 0, dropped = 0, resumedAt = -1;
    for (; n < 400; ++n) {
        now = std::max(now + 2'000, s.sentUs(n) + 10'000);
        const auto verdict = cap.onVideoPacket(s.ptsUs(n), s.key(n), now);
        const bool late = cap.latenessUs(s.ptsUs(n), now) > 500'000;
        if (verdict == LatencyCap::Verdict::Drop) {
            ++dropped;
            continue;
        }
        if (verdict == LatencyCap::Verdict::FlushThenDecode) {
            EXPECT_TRUE(s.key(n)) << "resumes only at a key frame";
            EXPECT_EQ(resumedAt, -1) << "caught up once";
            resumedAt = n;
        }
        decodedLate += late;
    }
    EXPECT_EQ(decodedLate, 0) << "no picture beyond the cap is decoded";
    ASSERT_GE(resumedAt, 0);
    EXPECT_GE(dropped, 3'000'000 / SyntheticStream::kFrameUs);  // at least the backlog
    // Back on time within one key frame interval of the sender's pictures catching up.
    EXPECT_LE(s.sentUs(resumedAt) - (s.sentUs(100) + 3'000'000),
              SyntheticStream::kGop * SyntheticStream::kFrameUs + 500'000);
    EXPECT_FALSE(cap.catchingUp());
}

TEST(LatencyCap, SlowReaderDropsToKeyFramesInsteadOfFallingFurtherBehind) {
    // Each picture takes 50 ms to show, 10 ms more than the stream gives: without the cap
    // the reader would fall behind forever.
    SyntheticStream s;
    LatencyCap cap(500), off(0);
    std::int64_t now = 0, nowOff = 0, worst = 0, worstOff = 0;
    for (int n = 0; n < 1500; ++n) {
        now = std::max(now, s.sentUs(n));
        if (cap.onVideoPacket(s.ptsUs(n), s.key(n), now) != LatencyCap::Verdict::Drop) {
            worst = std::max(worst, cap.latenessUs(s.ptsUs(n), now));
            now += 50'000;
        }
        nowOff = std::max(nowOff, s.sentUs(n));
        EXPECT_EQ(off.onVideoPacket(s.ptsUs(n), s.key(n), nowOff), LatencyCap::Verdict::Decode);
        worstOff = std::max(worstOff, off.latenessUs(s.ptsUs(n), nowOff));
        nowOff += 50'000;
    }
    EXPECT_LE(worst, 500'000);
    EXPECT_GT(worstOff, 10'000'000) << "without the cap the backlog grows";
}

TEST(LatencyCap, SlowSenderClockIsNotTakenForLateness) {
    // The sender's clock runs 0.05 % slow: its time stamps fall behind ours by 0.5 ms a
    // second, 300 ms over ten minutes. The base follows, so nothing is dropped.
    SyntheticStream s;
    LatencyCap cap(200);
    for (int n = 0; n < 25 * 600; ++n) {
        const std::int64_t arrival = s.sentUs(n) + s.ptsUs(n) / 2000 + 5'000;
        ASSERT_NE(cap.onVideoPacket(s.ptsUs(n), s.key(n), arrival), LatencyCap::Verdict::Drop) << n;
    }
}

TEST(LatencyCap, BreakInTheTimeStampsStartsTheMeasureAfresh) {
    SyntheticStream s;
    LatencyCap cap(500);
    std::int64_t now = 0;
    for (int n = 0; n < 50; ++n)
        cap.onVideoPacket(s.ptsUs(n), s.key(n), now = s.sentUs(n));
    // The sender restarts its time stamps from zero, a minute later.
    for (int n = 0; n < 50; ++n) {
        now = s.sentUs(n) + 60'000'000;
        EXPECT_EQ(cap.onVideoPacket(s.ptsUs(n), s.key(n), now), LatencyCap::Verdict::Decode);
    }
    // Pictures without time stamps are decoded unless catching up.
    EXPECT_EQ(cap.onVideoPacket(LatencyCap::kNoTime, false, now), LatencyCap::Verdict::Decode);
}

TEST(LostBadge, FfmpegErrorsAreToldInAFewWords) {
    EXPECT_EQ(lossReasonFor(AVERROR(ECONNREFUSED)), LossReason::Refused);
    EXPECT_EQ(lossReasonFor(AVERROR(ENOENT)), LossReason::NotFound);
    EXPECT_EQ(lossReasonFor(AVERROR_HTTP_NOT_FOUND), LossReason::NotFound);
    EXPECT_EQ(lossReasonFor(AVERROR(ETIMEDOUT)), LossReason::TimedOut);
    EXPECT_EQ(lossReasonFor(AVERROR_INVALIDDATA), LossReason::Unsupported);
    EXPECT_EQ(lossReasonFor(AVERROR_STREAM_NOT_FOUND), LossReason::Unsupported);
    EXPECT_EQ(lossReasonFor(AVERROR_EOF), LossReason::Closed);
    EXPECT_EQ(lossReasonFor(AVERROR_HTTP_UNAUTHORIZED), LossReason::Denied);
    EXPECT_EQ(lossReasonFor(AVERROR(EHOSTUNREACH)), LossReason::Unreachable);
    EXPECT_EQ(lossReasonFor(AVERROR(EIO)), LossReason::Other);
    // Anything else shows FFmpeg's own words.
    EXPECT_EQ(lossReasonText(LossReason::Other, ffmpegErrorText(AVERROR(EIO))).toStdString(),
              ffmpegErrorText(AVERROR(EIO)));
    EXPECT_FALSE(ffmpegErrorText(AVERROR(EIO)).empty());
}

TEST(LostBadge, TellsSinceWhenWhyAndWhenTheNextTryIs) {
    using std::chrono::system_clock;
    // Local noon of some day, so that a few seconds either way stay on the same date.
    const QDateTime noon(QDate(2026, 3, 14), QTime(12, 0, 0));
    const system_clock::time_point now{std::chrono::duration_cast<system_clock::duration>(
        std::chrono::milliseconds(noon.toMSecsSinceEpoch()))};
    LinkLoss loss;
    EXPECT_TRUE(badgeLines(loss, now).isEmpty()) << "no badge while the link is up";

    loss.lost = true;
    loss.since = now - 75s;
    loss.reason = LossReason::Refused;
    loss.retrying = true;
    loss.nextTry = now + 4s;
    const QStringList lines = badgeLines(loss, now);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains("11:58:45")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(lossReasonText(LossReason::Refused, {})));
    EXPECT_TRUE(lines[2].contains("12:00:04")) << lines[2].toStdString();

    // Without replay there is no next try; a loss from another day carries its date.
    loss.retrying = false;
    loss.since = now - 24h;
    const QStringList older = badgeLines(loss, now);
    ASSERT_EQ(older.size(), 2);
    EXPECT_TRUE(older[0].contains("2026-03-13 12:00:00")) << older[0].toStdString();
}

TEST(HealthOverlay, FiguresFromTwoSamples) {
    HealthSample a, b;
    b.at = a.at + 2s;
    a.received = 100, b.received = 150;
    a.shown = 90, b.shown = 138;
    a.bytesRead = 1'000'000, b.bytesRead = 1'250'000;
    b.droppedLate = 7, b.droppedSize = 1, b.droppedHidden = 2, b.droppedBusy = 3;
    b.latencyUs = 123'456;
    const HealthFigures live = healthFigures(a, b, {"h264", 1280, 720, true});
    EXPECT_DOUBLE_EQ(live.receivedPerSecond, 25.0);
    EXPECT_DOUBLE_EQ(live.shownPerSecond, 24.0);
    EXPECT_DOUBLE_EQ(live.kilobitsPerSecond, 1000.0);
    EXPECT_EQ(live.latencyMs, 123);
    EXPECT_EQ(live.droppedLate, 7u);
    const QStringList lines = healthLines(live);
    EXPECT_TRUE(lines.join('\n').contains("1280×720"));
    EXPECT_TRUE(lines.join('\n').contains("h264"));
    EXPECT_TRUE(lines.join('\n').contains("123"));
    // A stored file has no lateness; no time between the samples gives no rates.
    const HealthFigures file = healthFigures(b, b, {"h264", 352, 288, false});
    EXPECT_EQ(file.latencyMs, -1);
    EXPECT_EQ(file.shownPerSecond, 0.0);
}

namespace {

// The synthetic stream with two B-frames between reference pictures, read in decoding order
// I0 P3 B1 B2 P6 B4 B5 ...: the k-th packet carries the time stamp of display picture
// displayOf(k). An encoder sends a packet once it has captured every picture the packet
// needs, so each leaves when the latest picture so far in display order was captured: the
// B-frames leave with the reference picture before them, up to two frames behind their own
// time stamps.
struct BFrameStream : SyntheticStream {
    static int displayOf(int k) {
        if (k % kGop == 0)
            return k;
        const int inGroup = (k % kGop - 1) % 3;
        const int base = k - inGroup;  // the slot of the group's reference picture
        return inGroup == 0 ? std::min(base + 2, (k / kGop + 1) * kGop - 1) : base + inGroup - 1;
    }
    std::int64_t sentUs(int k) const {
        int latest = 0;
        for (int j = std::max(0, k - 3); j <= k; ++j)
            latest = std::max(latest, displayOf(j));
        return kStartUs + latest * kFrameUs;
    }
    std::int64_t ptsOf(int k) const { return ptsUs(displayOf(k)); }
};

// Reads `count` pictures of `s` from picture `from` on, each arriving `delayUs` after it was
// sent (plus up to 30 ms of jitter), with the stream's stamps shifted by `shiftUs`; returns
// how many were dropped and (through lastDrop) the last one dropped.
int readOnTime(LatencyCap& cap, const SyntheticStream& s, int from, int count, std::int64_t shiftUs,
               int* lastDrop = nullptr) {
    int dropped = 0;
    for (int n = from; n < from + count; ++n) {
        const std::int64_t arrival = s.sentUs(n) + 20'000 + (n * 7919 % 30) * 1000;
        if (cap.onVideoPacket(s.ptsUs(n) + shiftUs, s.key(n), arrival) ==
            LatencyCap::Verdict::Drop) {
            ++dropped;
            if (lastDrop)
                *lastDrop = n;
        }
    }
    return dropped;
}

}  // namespace

TEST(LatencyCap, TimeStampsSteppingBackCostAtMostTwoKeyFrameIntervals) {
    // An encoder restarting behind a relay: the stamps go back by 2, 5 or 20 s while the
    // pictures keep coming on time. Dropping cannot make them less late; after at most two
    // key-frame intervals the measure starts afresh and every picture is shown again.
    for (const int capMs : {100, 500}) {
        for (const std::int64_t stepUs : {2'000'000, 5'000'000, 20'000'000}) {
            SCOPED_TRACE(std::to_string(capMs) + " ms cap, " + std::to_string(stepUs) + " us");
            SyntheticStream s;
            LatencyCap cap(capMs);
            ASSERT_EQ(readOnTime(cap, s, 0, 500, 0), 0);
            int lastDrop = -1;
            const int dropped = readOnTime(cap, s, 500, 15'000, -stepUs, &lastDrop);
            EXPECT_LE(dropped, 2 * SyntheticStream::kGop);
            EXPECT_LT(lastDrop, 500 + 2 * SyntheticStream::kGop);
            EXPECT_FALSE(cap.catchingUp());
        }
    }
}

TEST(LatencyCap, BFramesReadInDecodingOrderAreNotLate) {
    // 25 pictures a second with two B-frames, a 100 ms cap: the B-frames' stamps lie behind
    // the reference picture read before them, which is no lateness.
    BFrameStream s;
    LatencyCap cap(100);
    int dropped = 0;
    for (int k = 0; k < 25 * 120; ++k) {
        const std::int64_t arrival = s.sentUs(k) + 20'000 + (k * 7919 % 30) * 1000;
        dropped += cap.onVideoPacket(s.ptsOf(k), s.key(k), arrival) == LatencyCap::Verdict::Drop;
    }
    EXPECT_EQ(dropped, 0);

    // A stall still drops the B-frames with the rest, up to a key frame.
    std::int64_t now = s.sentUs(3000) + 2'000'000;
    int droppedAfterStall = 0;
    bool resumed = false;
    for (int k = 3000; k < 3200 && !resumed; ++k) {
        now = std::max(now + 2'000, s.sentUs(k) + 20'000);
        const auto verdict = cap.onVideoPacket(s.ptsOf(k), s.key(k), now);
        droppedAfterStall += verdict == LatencyCap::Verdict::Drop;
        resumed = verdict == LatencyCap::Verdict::FlushThenDecode;
    }
    EXPECT_TRUE(resumed);
    EXPECT_GE(droppedAfterStall, 2'000'000 / SyntheticStream::kFrameUs - 10);
}
