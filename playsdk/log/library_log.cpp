#include "library_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zelplay {

namespace {
std::mutex logLock;  // keeps lines from different threads whole and in order
}  // namespace

void logLine(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    std::lock_guard lock(logLock);
    // Read each time, so a caller (or a test) may point the log elsewhere at any moment.
    const char* target = std::getenv("ZELPLAY_LOG");
    if (target != nullptr && std::strcmp(target, "off") == 0)
        return;
    if (target == nullptr || *target == '\0') {
        std::fprintf(stderr, "zelplay: %s\n", text);
        return;
    }
    if (std::FILE* f = std::fopen(target, "a")) {
        std::fprintf(f, "zelplay: %s\n", text);
        std::fclose(f);
    }
}

}  // namespace zelplay
