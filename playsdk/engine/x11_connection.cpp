#include "x11_connection.h"

#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xvlib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace zelplay {

namespace {

// The library's live connections; the handler looks an erring display up here.
std::mutex connectionsLock;
std::vector<X11Connection*> connections;  // guarded by connectionsLock

// libXext keeps each extension's displays in process-wide tables that it grows the first
// time an extension is used on a display (and, with it, the generic event extension's) and
// shrinks when the display closes; done on several threads at once, that bookkeeping loses
// entries. Connections therefore register the extensions they use when they open, and
// open and close one at a time.
std::mutex extensionTablesLock;

XErrorHandler previousHandler = nullptr;  // written once, before any library connection exists
std::once_flag handlerInstalled;

int libraryErrorHandler(Display* display, XErrorEvent* error) {
    if (X11Connection::recordError(display, *error))
        return 0;
    return previousHandler != nullptr ? previousHandler(display, error) : 0;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open() {
    // libX11 1.8 makes itself thread-safe on load; the call keeps older ones safe too
    // (several render threads open and use connections at once).
    XInitThreads();
    std::call_once(handlerInstalled,
                   [] { previousHandler = XSetErrorHandler(libraryErrorHandler); });
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return nullptr;
    std::unique_lock tables(extensionTablesLock);
    XShmQueryExtension(display);
    unsigned version = 0, revision = 0, request = 0, event = 0, error = 0;
    XvQueryExtension(display, &version, &revision, &request, &event, &error);
    int randrEvent = 0, randrError = 0;
    XRRQueryExtension(display, &randrEvent, &randrError);
    tables.unlock();
    auto connection = std::make_unique<X11Connection>(display);
    std::lock_guard lock(connectionsLock);
    connections.push_back(connection.get());
    return connection;
}

X11Connection::~X11Connection() {
    // Closing flushes what is still queued, so it stays registered until closed.
    {
        std::lock_guard tables(extensionTablesLock);
        XCloseDisplay(display_);
    }
    std::lock_guard lock(connectionsLock);
    connections.erase(std::remove(connections.begin(), connections.end(), this), connections.end());
}

X11Errors X11Connection::takeErrors() {
    X11Errors e;
    e.count = errorCount_.exchange(0);
    e.code = lastCode_.load();
    e.request = lastRequest_.load();
    return e;
}

bool X11Connection::recordError(Display* display, const XErrorEvent& error) {
    std::lock_guard lock(connectionsLock);
    for (X11Connection* c : connections) {
        if (c->display_ == display) {
            c->lastCode_.store(error.error_code);
            c->lastRequest_.store(error.request_code);
            c->errorCount_.fetch_add(1);
            return true;
        }
    }
    return false;
}

}  // namespace zelplay
