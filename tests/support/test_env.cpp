// Linked into every test program: the environment the tests run in, and the sanitizers'
// options, so that a test behaves the same under ctest, by hand and in a debugger.
#include <cstdlib>

#include "session/session_env.h"

namespace {

// No sound card and no X server unless a test asks for one itself, and no D-Bus session bus
// started for Qt or SDL.
[[gnu::constructor]] void setTestEnvironmentDefaults() {
    session::refuseBusAutolaunch();
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("MONVID_TEST_MEDIA", MONVID_TEST_MEDIA_DIR, 0);
}

}  // namespace

extern "C" {

const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=1";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

// fontconfig keeps the patterns of the fonts pango asked for in caches that live as long as
// the process (pango's font map of each thread holds them) and frees none of them at exit.
// SDL opens its D-Bus connection with its first subsystem and closes it only in SDL_Quit,
// which the playback library never calls (its host may use SDL itself).
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

// Qt is not built with ThreadSanitizer and synchronises with its own futex-based locks,
// which the sanitizer does not see: the hand-over of a queued call between threads, and the
// worker threads QtGui draws large images with.
const char* __tsan_default_suppressions() {
    return "race:QtPrivate::QSlotObject\n"
           "race:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           // pango sets fontconfig up on a thread of its own and hands the result over with
           // GLib's futex-based locks, which the sanitizer does not see either.
           "race:libfontconfig.so\n";
}
}
