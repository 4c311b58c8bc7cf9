#include "session/session_env.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/media.h"

namespace {

std::atomic<int> g_forks{0};

// The environment as a program finds it without a session bus: an X display named (libdbus
// autolaunches only then) and no bus in the runtime folder.
void noSessionBus(const testsupport::TempDir& runtime) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("DISPLAY", ":4095", 1);
}

}  // namespace

TEST(SessionBus, WithoutOneSdlsAudioStartsWithoutForkingTheProcess) {
    static const int registered = pthread_atfork([] { ++g_forks; }, nullptr, nullptr);
    ASSERT_EQ(registered, 0);
    testsupport::TempDir runtime;
    noSessionBus(runtime);
    session::refuseBusAutolaunch();
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const int before = g_forks.load();
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    SDL_Quit();
    EXPECT_EQ(g_forks.load(), before) << "something forked to look for a session bus";
}

TEST(SessionBus, ABusThatIsNamedOrFoundInTheRuntimeFolderIsLeftAlone) {
    testsupport::TempDir runtime;
    noSessionBus(runtime);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus", 1);
    session::refuseBusAutolaunch();
    EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/run/user/1000/bus");

    // A socket at $XDG_RUNTIME_DIR/bus is what libdbus connects to by itself.
    noSessionBus(runtime);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (runtime.path() / "bus").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    session::refuseBusAutolaunch();
    EXPECT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
    close(fd);

    // A file of that name that is no socket is no bus.
    std::filesystem::remove(path);
    std::FILE* plain = std::fopen(path.c_str(), "w");
    ASSERT_NE(plain, nullptr);
    std::fclose(plain);
    session::refuseBusAutolaunch();
    EXPECT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
}
