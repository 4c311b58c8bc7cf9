// The process's ports: the list that validates every handle, the port count, and the one
// scheduler thread that serves every buffered-stream port while at least one port exists.
//
// Lookups take a reference to the port under listLock_, so a port freed on one thread
// while another thread is inside a call on it stays alive until that call returns; the
// freed handle is no longer found by any later call.
//
// Locks: lifeLock_ (port creation and destruction with the scheduler's start and stop),
// then listLock_ (the list). The scheduler takes only listLock_, briefly, to copy the list.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "play_port.h"

namespace zelplay {

// Millisecond tick count of a monotonic clock (never 0 in practice).
uint32_t tickCountMs();

// The scheduler thread: visits every port in turn; after a pass that showed nothing it
// sleeps until the earliest head frame is due or until new input or a control call wakes it.
class Scheduler {
  public:
    using Snapshot = std::vector<std::shared_ptr<PlayPort>>;
    using SnapshotFn = Snapshot (*)();

    explicit Scheduler(SnapshotFn snapshot) : snapshot_(snapshot) {}
    ~Scheduler() { stop(); }
    // Starts the thread; false when it cannot be started.
    bool start();
    // Asks the thread to leave and waits for it.
    void stop();
    // New input or a control change: the thread makes a pass soon.
    void wake();
    bool running() const { return thread_.joinable(); }

    // Longest sleep when no frame is waiting, ms.
    static constexpr int64_t kIdleWaitMs = 100;

  private:
    void run(const std::atomic<bool>& runFlag);
    // One port's step; an exception from it is stored on that port.
    static ServiceResult serviceOne(PlayPort& port);

    SnapshotFn snapshot_;
    std::thread thread_;                          // started and joined under PortTable's lifeLock_
    std::shared_ptr<std::atomic<bool>> runFlag_;  // the running thread's own flag
    std::mutex wakeLock_;
    std::condition_variable wakeCv_;
    bool wakePending_ = false;  // guarded by wakeLock_
};

class PortTable {
  public:
    static PortTable& instance();
    ~PortTable();

    // A new port in the list (starting the scheduler for the first); null when the port
    // cannot be made or the scheduler cannot be started.
    std::shared_ptr<PlayPort> create();
    // The port whose handle this is, or null.
    std::shared_ptr<PlayPort> find(ZELPLAY_PORT handle);
    // Takes the port out of the list, silences it if it is the sound port, closes it and,
    // for the last port, stops the scheduler. False when the handle is not a port.
    bool destroy(ZELPLAY_PORT handle);

    void wakeScheduler() { scheduler_.wake(); }

    size_t portCount();
    bool schedulerRunning();

  private:
    PortTable() : scheduler_(&PortTable::snapshotPorts) {}
    static Scheduler::Snapshot snapshotPorts();

    std::mutex lifeLock_;
    size_t portCount_ = 0;  // guarded by lifeLock_
    std::mutex listLock_;
    std::vector<std::shared_ptr<PlayPort>> ports_;  // oldest first; guarded by listLock_
    Scheduler scheduler_;                           // started and stopped under lifeLock_
};

}  // namespace zelplay
