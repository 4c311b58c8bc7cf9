// Waiting for a condition with a deadline, for tests that have no event loop to keep going.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Polls pred() every pollMs until it holds or timeoutMs has passed; returns pred().
template <typename Pred>
bool waitFor(Pred pred, int timeoutMs, int pollMs = 2) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

}  // namespace testsupport
