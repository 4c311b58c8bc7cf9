// Child processes for tests: servers and feeders that must never outlive the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// A child process in a process group of its own. The destructor ends the whole group
// (SIGTERM, then SIGKILL after a grace period) and reaps it, so nothing it started lingers.
class ChildProcess {
  public:
    // Starts argv[0] (searched on PATH) with the given arguments; stdout and stderr go to
    // logPath when given, else to /dev/null. Throws std::runtime_error when it cannot start.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& logPath = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Sends SIGTERM to the group and waits up to graceMs before SIGKILL.
    void stop(int graceMs = 2000);
    // Waits up to timeoutMs for the child to exit; returns its exit status or -1.
    int wait(int timeoutMs);

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a command to its end (at most timeoutMs, then it is killed); returns the exit code,
// or -1 when it was killed or could not start.
int runCommand(const std::vector<std::string>& argv, int timeoutMs,
               const std::string& logPath = {});

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeTcpPort();

// Polls until something accepts connections on 127.0.0.1:port, at most timeoutMs.
bool waitForTcpPort(int port, int timeoutMs);

// Number of open file descriptors and threads of this process, and its resident memory.
int openFdCount();
int threadCount();
long residentKiB();
// Starts and joins one thread, so that the threads a sanitizer starts along with a process's
// first thread (ThreadSanitizer's background thread) are there before a test counts threads.
void startSanitizerThreads();

}  // namespace testsupport
