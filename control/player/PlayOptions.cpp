#include "PlayOptions.h"

#include <algorithm>
#include <cctype>

namespace monvid {

static bool startsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size())
            return false;
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

AddressKind addressKind(const std::string& address) {
    if (startsWithNoCase(address, "rtsp://") || startsWithNoCase(address, "rtsps://"))
        return AddressKind::Rtsp;
    for (const char* scheme :
         {"rtmp://", "rtmps://", "rtmpt://", "rtmpe://", "rtmpte://", "rtmpts://"})
        if (startsWithNoCase(address, scheme))
            return AddressKind::Rtmp;
    return AddressKind::File;
}

std::vector<std::pair<std::string, std::string>> openOptionsFor(const std::string& address) {
    std::vector<std::pair<std::string, std::string>> options = {
        {"max_delay", "100"},
        {"bufsize", "7*1024"},
        {"probesize", "4096*10"},
    };
    switch (addressKind(address)) {
        case AddressKind::Rtsp:
            options.emplace_back("timeout", kSocketTimeoutUs);
            break;
        case AddressKind::Rtmp:
            options.emplace_back("rw_timeout", kSocketTimeoutUs);
            break;
        case AddressKind::File:
            break;
    }
    return options;
}

std::int64_t PresentationClock::delayUs(std::int64_t ptsUs, std::int64_t nowUs) {
    if (ptsUs == INT64_MIN)
        return 0;
    if (!anchored_ || ptsUs < lastPtsUs_ || ptsUs - lastPtsUs_ > kMaxJumpUs) {
        anchored_ = true;
        originWallUs_ = nowUs;
        originPtsUs_ = ptsUs;
    }
    lastPtsUs_ = ptsUs;
    const std::int64_t due = originWallUs_ + (ptsUs - originPtsUs_);
    return std::max<std::int64_t>(0, due - nowUs);
}

}  // namespace monvid
