#include "library_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
    // Opened and written without waiting: a FIFO nobody reads, or a full pipe, loses the
    // line instead of holding up the thread (which may hold a port's lock).
    const int fd = ::open(target, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    char line[sizeof text + 16];
    const int length = std::snprintf(line, sizeof line, "zelplay: %s\n", text);
    if (length > 0) {
        const ssize_t written =
            ::write(fd, line, std::min(static_cast<size_t>(length), sizeof line - 1));
        (void)written;  // a line the file does not take at once is lost
    }
    ::close(fd);
}

}  // namespace zelplay
