#include "session/session_env.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace session {

namespace {
constexpr const char* kAddressVariable = "DBUS_SESSION_BUS_ADDRESS";
// A path that is no socket: connecting fails at once with "connection refused".
constexpr const char* kNoBus = "unix:path=/dev/null";
}  // namespace

void refuseBusAutolaunch() {
    if (const char* address = std::getenv(kAddressVariable); address && *address)
        return;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat st {};
        if (::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            return;  // libdbus finds this one by itself
    }
    ::setenv(kAddressVariable, kNoBus, 1);
}

}  // namespace session
