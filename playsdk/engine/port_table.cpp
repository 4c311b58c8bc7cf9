#include "port_table.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "sound_port.h"

namespace zelplay {

uint32_t tickCountMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---- Scheduler -------------------------------------------------------------------------

bool Scheduler::start() {
    if (thread_.joinable())
        return true;
    auto runFlag = std::make_shared<std::atomic<bool>>(true);
    try {
        thread_ = std::thread([this, runFlag] { run(*runFlag); });
    } catch (const std::system_error&) {
        return false;
    }
    runFlag_ = std::move(runFlag);
    return true;
}

void Scheduler::stop() {
    if (!thread_.joinable())
        return;
    runFlag_->store(false);
    wake();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The last port was freed from a callback on this very thread: it leaves by itself
        // after this pass, and a later start makes a new thread with a flag of its own.
        thread_.detach();
        return;
    }
    thread_.join();
}

void Scheduler::wake() {
    {
        std::lock_guard lock(wakeLock_);
        wakePending_ = true;
    }
    wakeCv_.notify_one();
}

ServiceResult Scheduler::serviceOne(PlayPort& port) {
    try {
        return port.serviceBufferedStream(tickCountMs());
    } catch (...) {
        // Whatever one port's step throws (a caller's callback included) stays with that port.
        port.setError(ZELPLAY_ERR_RESOURCES);
        ServiceResult r;
        r.waitMs = 1;
        return r;
    }
}

void Scheduler::run(const std::atomic<bool>& runFlag) {
    pthread_setname_np(pthread_self(), "zelplay-sched");
    while (runFlag.load()) {
        bool progressed = false;
        int64_t sleepMs = kIdleWaitMs;
        try {
            Snapshot ports = snapshot_();
            // Newest port first.
            for (auto it = ports.rbegin(); it != ports.rend() && runFlag.load(); ++it) {
                const ServiceResult r = serviceOne(**it);
                progressed = progressed || r.progressed;
                if (r.waitMs >= 0)
                    sleepMs = std::min(sleepMs, r.waitMs);
            }
        } catch (const std::bad_alloc&) {
            sleepMs = 1;  // no memory for the list of ports: try again shortly
        }                 // the references go before the sleep, so a freed port dies promptly
        if (progressed)
            continue;
        std::unique_lock lock(wakeLock_);
        wakeCv_.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(sleepMs, 1)),
                         [this, &runFlag] { return wakePending_ || !runFlag.load(); });
        wakePending_ = false;
    }
}

// ---- Port table --------------------------------------------------------------------------

PortTable& PortTable::instance() {
    static PortTable table;
    return table;
}

PortTable::~PortTable() {
    scheduler_.stop();
    std::lock_guard list(listLock_);
    ports_.clear();
}

Scheduler::Snapshot PortTable::snapshotPorts() {
    PortTable& t = instance();
    std::lock_guard list(t.listLock_);
    return t.ports_;
}

std::shared_ptr<PlayPort> PortTable::create() {
    std::shared_ptr<PlayPort> port;
    try {
        port = std::make_shared<PlayPort>(createVideoOutput(), createSoundOutput());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::lock_guard life(lifeLock_);
    {
        std::lock_guard list(listLock_);
        ports_.push_back(port);
    }
    if (portCount_ == 0 && !scheduler_.start()) {
        std::lock_guard list(listLock_);
        ports_.pop_back();
        port->setError(ZELPLAY_ERR_RESOURCES);
        return nullptr;
    }
    ++portCount_;
    return port;
}

std::shared_ptr<PlayPort> PortTable::find(ZELPLAY_PORT handle) {
    if (handle == 0)
        return nullptr;
    std::lock_guard list(listLock_);
    for (const auto& p : ports_) {
        if (p->handle() == handle)
            return p;
    }
    return nullptr;
}

bool PortTable::destroy(ZELPLAY_PORT handle) {
    std::shared_ptr<PlayPort> port;
    {
        std::lock_guard list(listLock_);
        auto it = std::find_if(ports_.begin(), ports_.end(),
                               [&](const auto& p) { return p->handle() == handle; });
        if (it == ports_.end())
            return false;
        // Freeing waits for the port's decoding and threads: refused (code 16) where that
        // could close a circle of callbacks waiting for each other; the port stays.
        if (!(*it)->mayWaitHere())
            return false;
        port = std::move(*it);
        ports_.erase(it);
    }
    SoundPort::instance().forget(*port);  // also wakes an input call waiting to be heard
    port->close();                        // waits for calls in progress on it
    std::lock_guard life(lifeLock_);
    if (--portCount_ == 0)
        scheduler_.stop();
    return true;
}

size_t PortTable::portCount() {
    std::lock_guard life(lifeLock_);
    return portCount_;
}

bool PortTable::schedulerRunning() {
    std::lock_guard life(lifeLock_);
    return scheduler_.running();
}

}  // namespace zelplay
