#include <unistd.h>

#include <cstdio>

#include "commands.h"

namespace ifvtool {

Progress::Progress(bool enabled, int64_t total)
    : enabled_(enabled && total > 0 && isatty(STDERR_FILENO) == 1), total_(total) {}

Progress::~Progress() {
    finish();
}

void Progress::finish() {
    if (enabled_ && lastPercent_ >= 0) {
        fputc('\n', stderr);
    }
    enabled_ = false;
}

void Progress::update(int64_t done) {
    if (!enabled_) {
        return;
    }
    int percent = static_cast<int>(done * 100 / total_);
    if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    int filled = percent * kWidth / 100;
    fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
            kWidth - filled, "", percent);
    fflush(stderr);
}

}  // namespace ifvtool
