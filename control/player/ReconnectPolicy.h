// When a window's play thread begins its next run after one ended or failed. One place for the
// schedule and its numbers: the first retry is at once, each further one without a picture in
// between waits twice as long as the one before, from 1 s up to 30 s, and the first picture
// starts the schedule again. Each wait is drawn between half the schedule's step and the
// whole of it, so that windows which lost one server together do not all come back to it
// in the same millisecond.
//
// Not thread-safe: one policy belongs to one play thread.
#pragma once

#include <chrono>
#include <functional>

namespace monvid {

class ReconnectPolicy {
  public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;

    static constexpr Duration kFirstBackoff{1000};  // wait before the second retry
    static constexpr Duration kMaxBackoff{30000};   // no wait is longer than this
    static constexpr int kBackoffFactor = 2;        // each wait doubles the one before

    // `now` reads the clock the due times are given in (the steady clock unless a test
    // puts its own here); `draw` gives numbers in [0, 1] that place each wait between half
    // its step and the whole step (random unless a test puts its own here).
    explicit ReconnectPolicy(std::function<Clock::time_point()> now = &Clock::now,
                             std::function<double()> draw = {});

    // A run ended. `showedPicture`: it showed at least one picture, which resets the
    // schedule. Returns the wait before the next run: the step of nextDelay(), spread.
    Duration runEnded(bool showedPicture);
    // The first picture of a run: the next run after this one starts at once.
    void pictureShown() { m_failuresInARow = 0; }

    // The schedule's step for the next failure (the longest its wait can be), without
    // counting one.
    Duration nextDelay() const;
    // Time the next run is due, as set by the last runEnded.
    Clock::time_point dueAt() const { return m_dueAt; }
    // Runs ended since the last picture.
    int failuresInARow() const { return m_failuresInARow; }

  private:
    std::function<Clock::time_point()> m_now;
    std::function<double()> m_draw;
    int m_failuresInARow = 0;
    Clock::time_point m_dueAt{};
};

}  // namespace monvid
