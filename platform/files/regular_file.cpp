#include "files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace files {

int openRegular(const char* path, int flags, unsigned mode) {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const int truncate = flags & O_TRUNC;
    const int fd = ::open(path, (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = st.st_mode != 0 && !S_ISREG(st.st_mode) ? EINVAL : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if ((truncate != 0 && ftruncate(fd, 0) != 0) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::FILE* fopenRegular(const char* path, const char* mode) {
    struct Mode {
        const char* text;
        int flags;
    };
    static const Mode kModes[] = {
        {"r", O_RDONLY},
        {"rb", O_RDONLY},
        {"r+", O_RDWR},
        {"rb+", O_RDWR},
        {"r+b", O_RDWR},
        {"w", O_WRONLY | O_CREAT | O_TRUNC},
        {"wb", O_WRONLY | O_CREAT | O_TRUNC},
        {"w+", O_RDWR | O_CREAT | O_TRUNC},
        {"wb+", O_RDWR | O_CREAT | O_TRUNC},
        {"w+b", O_RDWR | O_CREAT | O_TRUNC},
        {"a", O_WRONLY | O_CREAT | O_APPEND},
        {"ab", O_WRONLY | O_CREAT | O_APPEND},
    };
    for (const Mode& m : kModes) {
        if (mode == nullptr || std::strcmp(mode, m.text) != 0)
            continue;
        const int fd = openRegular(path, m.flags);
        if (fd < 0)
            return nullptr;
        std::FILE* file = fdopen(fd, mode);
        if (file == nullptr) {
            const int error = errno;
            ::close(fd);
            errno = error;
        }
        return file;
    }
    errno = EINVAL;
    return nullptr;
}

}  // namespace files
