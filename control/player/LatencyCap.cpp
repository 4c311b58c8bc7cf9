#include "LatencyCap.h"

#include <algorithm>

namespace monvid {

void LatencyCap::observe(std::int64_t offsetUs, std::int64_t nowUs) {
    if (!m_anchored || offsetUs - m_baseOffsetUs > kTimeBreakUs ||
        m_baseOffsetUs - offsetUs > kTimeBreakUs) {
        m_anchored = true;
        m_baseOffsetUs = offsetUs;
        m_lastNowUs = nowUs;
        return;
    }
    const std::int64_t elapsedUs = std::max<std::int64_t>(0, nowUs - m_lastNowUs);
    m_lastNowUs = nowUs;
    const std::int64_t crept = m_baseOffsetUs + elapsedUs * kBaseCreepPerSecondUs / 1'000'000;
    m_baseOffsetUs = std::min(offsetUs, crept);
}

std::int64_t LatencyCap::latenessUs(std::int64_t ptsUs, std::int64_t nowUs) const {
    if (!m_anchored || ptsUs == kNoTime)
        return 0;
    return std::max<std::int64_t>(0, nowUs - ptsUs - m_baseOffsetUs);
}

LatencyCap::Verdict LatencyCap::onVideoPacket(std::int64_t ptsUs, bool keyFrame,
                                              std::int64_t nowUs) {
    if (ptsUs == kNoTime) {
        // Nothing to measure: while catching up only a key frame ends it.
        if (!m_catchingUp)
            return Verdict::Decode;
        if (!keyFrame)
            return Verdict::Drop;
        m_catchingUp = false;
        return Verdict::FlushThenDecode;
    }
    const bool reordered = !keyFrame && m_latestPtsUs != kNoTime && ptsUs < m_latestPtsUs &&
                           m_latestPtsUs - ptsUs <= kReorderSpanUs;
    if (reordered)
        return m_catchingUp && enabled() ? Verdict::Drop : Verdict::Decode;
    m_latestPtsUs = ptsUs;
    observe(nowUs - ptsUs, nowUs);
    if (!enabled())
        return Verdict::Decode;
    const bool late = latenessUs(ptsUs, nowUs) > m_maxDelayUs;
    if (!m_catchingUp) {
        if (!late)
            return Verdict::Decode;
        m_catchingUp = true;
        m_lateKeySeen = false;
    }
    if (keyFrame && !late) {
        m_catchingUp = false;
        return Verdict::FlushThenDecode;
    }
    if (keyFrame) {
        const std::int64_t offsetUs = nowUs - ptsUs;
        if (m_lateKeySeen && m_lateKeyOffsetUs - offsetUs < m_maxDelayUs / 2) {
            // A key-frame interval of dropping took off less than half the cap: the stream
            // is read as fast as it is sent, so its stamps moved, not its pictures.
            m_baseOffsetUs = offsetUs;
            m_lastNowUs = nowUs;
            m_catchingUp = false;
            return Verdict::FlushThenDecode;
        }
        m_lateKeySeen = true;
        m_lateKeyOffsetUs = offsetUs;
    }
    return Verdict::Drop;
}

}  // namespace monvid
