#include "ReconnectPolicy.h"

#include <algorithm>

namespace monvid {

ReconnectPolicy::ReconnectPolicy(std::function<Clock::time_point()> now) : m_now(std::move(now)) {
    m_dueAt = m_now();
}

ReconnectPolicy::Duration ReconnectPolicy::nextDelay() const {
    if (m_failuresInARow == 0)
        return Duration::zero();
    Duration wait = kFirstBackoff;
    for (int i = 1; i < m_failuresInARow && wait < kMaxBackoff; ++i)
        wait *= kBackoffFactor;
    return std::min(wait, kMaxBackoff);
}

ReconnectPolicy::Duration ReconnectPolicy::runEnded(bool showedPicture) {
    if (showedPicture)
        m_failuresInARow = 0;
    const Duration wait = nextDelay();
    ++m_failuresInARow;
    m_dueAt = m_now() + wait;
    return wait;
}

}  // namespace monvid
