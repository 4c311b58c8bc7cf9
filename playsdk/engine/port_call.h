// The shape of every exported port call: find the port, run the call on it, and turn
// anything thrown into a stored error; nothing crosses the C boundary.
#pragma once

#include <memory>

#include "port_table.h"

namespace zelplay {

// Runs fn on the port of handle; a handle that is no port gives failure and stores nothing.
template <typename R, typename Fn>
R withPort(ZELPLAY_PORT handle, R failure, Fn&& fn) noexcept {
    std::shared_ptr<PlayPort> port;
    try {
        port = PortTable::instance().find(handle);
        if (!port)
            return failure;
        return fn(*port);
    } catch (...) {
        if (port)
            port->setError(ZELPLAY_ERR_RESOURCES);
        return failure;
    }
}

}  // namespace zelplay
