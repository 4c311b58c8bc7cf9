// Files named by a caller (record and AVI files, snapshot files) opened so that the open
// never waits for the outside world: a FIFO without a writer or reader, a terminal or a
// device would block an open(2) without O_NONBLOCK for as long as nobody comes. The file is
// opened without blocking, checked to be a regular file, and only then made blocking for its
// reads and writes (which on a regular file do not wait for anybody).
#pragma once

#include <cstdio>

namespace files {

// As open(2) with flags (O_RDONLY, O_RDWR, O_WRONLY with O_CREAT / O_TRUNC / O_APPEND),
// close-on-exec: a descriptor, or -1 with errno set; EINVAL when the path names something
// other than a regular file (a new file, made by O_CREAT, is a regular one). O_TRUNC is
// applied only once the file is known to be regular.
int openRegular(const char* path, int flags, unsigned mode = 0666);

// As std::fopen with mode "r", "rb", "r+", "rb+", "w", "wb", "w+", "wb+", "a", "ab": a
// stream over openRegular, or null with errno set (EINVAL also for another mode).
std::FILE* fopenRegular(const char* path, const char* mode);

}  // namespace files
