// The process environment our programs set for themselves, at the start of main, while
// they have one thread.
#pragma once

namespace session {

// Without a D-Bus session bus (none named in DBUS_SESSION_BUS_ADDRESS, no socket at
// $XDG_RUNTIME_DIR/bus) libdbus "autolaunches" one: it forks the calling process to run
// dbus-launch and reads the answer from a pipe. Qt and SDL both ask for the session bus,
// SDL each time its audio starts, on whatever thread that is; a child forked from a
// process with many threads can hang on a lock another thread held at the fork, and the
// thread that forked it then waits for its answer forever. So a program without a session
// bus names one that refuses at once. A bus that exists is left alone.
void refuseBusAutolaunch();

}  // namespace session
