#include "callback_gate.h"

namespace zelplay {

namespace {
// The innermost call this thread is running (a callback may start another call, for
// instance by feeding a second port from inside its own callback).
thread_local const CallbackGate::Call* innermostCall = nullptr;
}  // namespace

CallbackGate::Call::Call(CallbackGate& gate)
    : gate_(gate), outer_(innermostCall), context_(gate.portOrder_) {
    {
        std::lock_guard lock(gate_.lock_);
        ++gate_.running_;
    }
    innermostCall = this;
}

CallbackGate::Call::~Call() {
    innermostCall = outer_;
    {
        std::lock_guard lock(gate_.lock_);
        --gate_.running_;
    }
    gate_.idle_.notify_all();
}

int CallbackGate::callsOnThisThread() const {
    int n = 0;
    for (const Call* c = innermostCall; c != nullptr; c = c->outer_) {
        if (&c->gate_ == this)
            ++n;
    }
    return n;
}

void CallbackGate::waitForOtherCalls() {
    const int own = callsOnThisThread();
    std::unique_lock lock(lock_);
    idle_.wait(lock, [&] { return running_ <= own; });
}

int CallbackGate::runningCalls() {
    std::lock_guard lock(lock_);
    return running_;
}

}  // namespace zelplay
