#include "sound_port.h"

#include "play_port.h"
#include "port_table.h"

namespace zelplay {

SoundPort& SoundPort::instance() {
    static SoundPort soundPort;
    return soundPort;
}

std::shared_ptr<PlayPort> SoundPort::takeHeard() {
    std::lock_guard designation(designationLock_);
    std::shared_ptr<PlayPort> old = heard_.lock();
    heard_.reset();
    return old;
}

int32_t SoundPort::play(const std::shared_ptr<PlayPort>& port, int32_t bitsPerSample,
                        int32_t sampleRate) {
    std::lock_guard change(switchLock_);
    if (const std::shared_ptr<PlayPort> old = takeHeard()) {
        old->silence();
        old->setError(ZELPLAY_ERR_NONE);
    }
    if (port->startHeard(bitsPerSample, sampleRate) == 0)
        return 0;
    {
        // Freeing takes a port out of the table before it looks here, so a port still in
        // the table now is silenced by its freeing, and one already out is silenced below.
        std::lock_guard designation(designationLock_);
        if (PortTable::instance().find(port->handle()) == port) {
            heard_ = port;
            return 1;
        }
    }
    port->silence();  // freed while this call was on its way: it answers as no port
    return 0;
}

void SoundPort::stop() {
    std::lock_guard change(switchLock_);
    if (const std::shared_ptr<PlayPort> old = takeHeard()) {
        old->silence();
        old->setError(ZELPLAY_ERR_NONE);
    }
}

void SoundPort::forget(const PlayPort& port) {
    if (!isHeard(port))
        return;  // freeing a port that is not heard never waits for a switch
    // The heard port's device closes under the switch lock, so that no switch opens another
    // device while this one is still open.
    std::lock_guard change(switchLock_);
    std::shared_ptr<PlayPort> heard;
    {
        std::lock_guard designation(designationLock_);
        heard = heard_.lock();
        if (heard.get() != &port)
            return;  // a switch silenced it meanwhile
        heard_.reset();
    }
    heard->silence();
}

bool SoundPort::isHeard(const PlayPort& port) {
    std::lock_guard designation(designationLock_);
    return heard_.lock().get() == &port;
}

}  // namespace zelplay
