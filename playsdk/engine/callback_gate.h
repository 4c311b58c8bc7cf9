// Keeps count of the caller's callbacks running on library threads, so that clearing or
// replacing a callback can wait until no call of the old one is in progress. A call also
// marks its thread as running a callback of the gate's port (CallbackContext).
//
// Thread contract: any thread. A thread that is itself inside a call (a callback that
// clears its own registration) is not waited for, so it never waits for itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "callback_context.h"

namespace zelplay {

class CallbackGate {
  public:
    explicit CallbackGate(uint64_t portOrder) : portOrder_(portOrder) {}

    // Marks one callback call as running on this thread for the guard's life.
    class Call {
      public:
        explicit Call(CallbackGate& gate);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

      private:
        friend class CallbackGate;
        CallbackGate& gate_;
        const Call* outer_;  // the call this thread was in before this one
        CallbackContext context_;
    };

    // Returns once no call is running on any thread but this one.
    void waitForOtherCalls();
    // Calls running now, on every thread (for tests).
    int runningCalls();

  private:
    int callsOnThisThread() const;

    const uint64_t portOrder_;
    std::mutex lock_;
    std::condition_variable idle_;
    int running_ = 0;  // guarded by lock_
};

}  // namespace zelplay
