#include "ReconnectPolicy.h"

#include <algorithm>
#include <random>

namespace monvid {

ReconnectPolicy::ReconnectPolicy(std::function<Clock::time_point()> now,
                                 std::function<double()> draw)
    : m_now(std::move(now)), m_draw(std::move(draw)) {
    if (!m_draw) {
        m_draw = [engine = std::minstd_rand(std::random_device{}())]() mutable {
            return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
        };
    }
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
    const Duration step = nextDelay();
    const double spread = std::clamp(m_draw(), 0.0, 1.0);
    const Duration wait = step / 2 + std::chrono::duration_cast<Duration>(step / 2 * spread);
    ++m_failuresInARow;
    m_dueAt = m_now() + wait;
    return wait;
}

}  // namespace monvid
