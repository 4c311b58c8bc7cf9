// The message that tells a window that file play has ended: an X11 ClientMessage sent
// over a display connection of the library's own (the layout is in zelplay/play.h).
#pragma once

#include <cstdint>

#include "zelplay/play.h"

namespace zelplay {

// Sends the end message for port to window; false when there is no display or the window
// is gone. Any thread; opens and closes its own connection, so an error never reaches the
// application's X error handlers.
bool sendEndMessage(uintptr_t window, uint32_t message, ZELPLAY_PORT port);

}  // namespace zelplay
