#include "end_message.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace zelplay {

namespace {

struct ConnectionCloser {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

}  // namespace

bool sendEndMessage(uintptr_t window, uint32_t message, ZELPLAY_PORT port) {
    if (window == 0)
        return false;
    // xcb, not Xlib: a vanished window comes back as an error value instead of going to the
    // process-wide Xlib error handler, whose default ends the program.
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()))
        return false;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = static_cast<xcb_atom_t>(message);
    const auto handle = static_cast<uint64_t>(port);
    event.data.data32[0] = static_cast<uint32_t>(handle);
    event.data.data32[1] = static_cast<uint32_t>(handle >> 32);
    xcb_void_cookie_t cookie =
        xcb_send_event_checked(connection.get(), 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&event));
    xcb_generic_error_t* error = xcb_request_check(connection.get(), cookie);
    if (error != nullptr) {
        std::free(error);
        return false;
    }
    return true;
}

}  // namespace zelplay
