// Which ports' callbacks a thread is running, and the one rule that keeps callbacks calling
// into other ports from ever waiting for each other in a circle.
//
// A thread inside a callback of port P holds up P: its decoding, a stop waiting for it, a
// clearing call waiting for it. Such a thread may wait for another port only when that port
// was made after P (and after every other port whose callback it is inside, for callbacks
// that run inside callbacks). Every wait then goes from an older port to a newer one, and no
// circle can close. A call that would wait against the rule is refused instead.
//
// Thread contract: any thread; the state is the thread's own.
#pragma once

#include <cstdint>

namespace zelplay {

// Orders ports by when they were made: each new port takes the next number.
uint64_t nextPortOrder();

class CallbackContext {
  public:
    // The calling thread runs a callback of the port with this order for the object's life.
    explicit CallbackContext(uint64_t portOrder);
    ~CallbackContext();
    CallbackContext(const CallbackContext&) = delete;
    CallbackContext& operator=(const CallbackContext&) = delete;

    // Whether this thread may wait for the port with this order: it runs no callback, or
    // only callbacks of ports made before that one.
    static bool mayWaitFor(uint64_t portOrder);
    // Whether this thread runs callbacks of this port and of no port made after it.
    static bool onlyOwnAndOlder(uint64_t portOrder);

  private:
    uint64_t outer_;  // the thread's newest port before this context
};

}  // namespace zelplay
