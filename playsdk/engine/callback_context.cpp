#include "callback_context.h"

#include <algorithm>
#include <atomic>

namespace zelplay {

namespace {
std::atomic<uint64_t> portsMade{0};
// The newest port whose callback this thread runs; 0 outside callbacks (orders start at 1).
thread_local uint64_t newestInCallback = 0;
}  // namespace

uint64_t nextPortOrder() {
    return ++portsMade;
}

CallbackContext::CallbackContext(uint64_t portOrder) : outer_(newestInCallback) {
    newestInCallback = std::max(outer_, portOrder);
}

CallbackContext::~CallbackContext() {
    newestInCallback = outer_;
}

bool CallbackContext::mayWaitFor(uint64_t portOrder) {
    return newestInCallback < portOrder;
}

bool CallbackContext::onlyOwnAndOlder(uint64_t portOrder) {
    return newestInCallback <= portOrder;
}

}  // namespace zelplay
