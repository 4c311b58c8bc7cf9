// The readers open paths: each fuzz input is written to one scratch file per process.
#pragma once

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzfile {

inline const std::string& scratchPath() {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_formats_XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
        }
        std::string p = name;
        static std::string removeAtExit;
        removeAtExit = p;
        atexit([] { unlink(removeAtExit.c_str()); });
        return p;
    }();
    return path;
}

inline bool writeInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(scratchPath().c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = size == 0 || fwrite(data, size, 1, f) == 1;
    return fclose(f) == 0 && ok;
}

// The AVI reader prints its diagnostics on standard error, which the fuzzer's log needs.
// While an object lives, standard error goes to /dev/null; sanitizer reports keep going to
// the original standard error through a duplicate of it.
class QuietStderr {
  public:
    QuietStderr() {
        static const int saved = [] {
            int fd = dup(STDERR_FILENO);
            if (fd >= 0) {
                __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
            }
            return fd;
        }();
        static const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        saved_ = saved;
        fflush(stderr);
        if (saved_ >= 0 && devNull >= 0) {
            dup2(devNull, STDERR_FILENO);
        }
    }
    ~QuietStderr() {
        fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

}  // namespace fuzzfile
