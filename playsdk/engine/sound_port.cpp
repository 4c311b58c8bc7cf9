#include "sound_port.h"

#include "play_port.h"
#include "port_table.h"

namespace zelplay {

SoundPort& SoundPort::instance() {
    static SoundPort soundPort;
    return soundPort;
}

int32_t SoundPort::play(const std::shared_ptr<PlayPort>& port, int32_t bitsPerSample,
                        int32_t sampleRate) {
    std::lock_guard designation(designationLock_);
    if (const std::shared_ptr<PlayPort> old = heard_.lock()) {
        old->silence();
        old->setError(ZELPLAY_ERR_NONE);
    }
    heard_.reset();
    // Freed while this call was on its way: it answers as a handle that is no port.
    if (PortTable::instance().find(port->handle()) != port)
        return 0;
    if (port->startHeard(bitsPerSample, sampleRate) == 0)
        return 0;
    heard_ = port;
    return 1;
}

void SoundPort::stop() {
    std::lock_guard designation(designationLock_);
    if (const std::shared_ptr<PlayPort> old = heard_.lock()) {
        old->silence();
        old->setError(ZELPLAY_ERR_NONE);
    }
    heard_.reset();
}

void SoundPort::forget(const PlayPort& port) {
    std::lock_guard designation(designationLock_);
    const std::shared_ptr<PlayPort> heard = heard_.lock();
    if (heard.get() != &port)
        return;
    heard_.reset();
    heard->silence();
}

bool SoundPort::isHeard(const PlayPort& port) {
    std::lock_guard designation(designationLock_);
    return heard_.lock().get() == &port;
}

}  // namespace zelplay
