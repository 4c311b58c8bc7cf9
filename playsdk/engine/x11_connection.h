// The library's own connections to the X server, and the Xlib error handler that keeps
// their errors (a caller's window destroyed under a playing port, a shared-memory segment
// the server cannot attach) away from the caller's handler, which Xlib would otherwise
// call and whose default ends the program.
//
// The handler is installed once, at the first connection; errors on connections that are
// not the library's go to the handler that was installed before it.
//
// Thread contract: each connection is used by one thread at a time (a render thread owns
// its own); open, the destructor and takeErrors may run on any thread. A connection comes
// with the extensions the library uses (MIT-SHM, XVideo, RandR) already set up, so that
// libXext's process-wide bookkeeping of them changes only while connections open and close,
// which happens one at a time.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <memory>

namespace zelplay {

struct X11Errors {
    int count = 0;              // errors since the last takeErrors()
    unsigned char code = 0;     // the last one's error code (BadWindow, BadAccess, ...)
    unsigned char request = 0;  // and the major opcode of the request that caused it
};

class X11Connection {
  public:
    // Opens the display named by $DISPLAY; null when there is none.
    static std::unique_ptr<X11Connection> open();
    // Takes over an open display (open() uses it).
    explicit X11Connection(Display* display) : display_(display) {}
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return display_; }
    // The errors that arrived since the last call. Errors arrive with the server's reply,
    // so call it after XSync.
    X11Errors takeErrors();

    // The error handler's entry: true when the error was on a library connection.
    static bool recordError(Display* display, const XErrorEvent& error);

  private:
    Display* display_;
    std::atomic<int> errorCount_{0};
    std::atomic<unsigned char> lastCode_{0};
    std::atomic<unsigned char> lastRequest_{0};
};

}  // namespace zelplay
