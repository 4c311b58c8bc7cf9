// monvid-regsvr [-u] [-s] LIBRARY
//
// Loads a component library and calls its DllRegisterServer (or, with -u, its
// DllUnregisterServer), which writes (or removes) its classes in the per-user registry
// ($MONVID_REGISTRY, else $XDG_CONFIG_HOME/monvid/registry.ini). Prints the outcome with the
// result code in hex; -s prints nothing on success. Exit code 0 on success, 1 on failure,
// 2 on bad usage.
#include <cstdio>
#include <string>
#include <string_view>

#include "Registration.h"
#include "Registry.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: monvid-regsvr [-u] [-s] LIBRARY\n"
                 "  registers the component library LIBRARY for this user\n"
                 "  -u  unregister instead\n"
                 "  -s  silent: print nothing on success\n"
                 "registry: %s\n",
                 component::Registry::defaultPath().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool silent = false;
    std::string libraryArg;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            printUsage(stdout);
            return kExitSuccess;
        } else if (!optionsEnded && arg == "-u") {
            unregister = true;
        } else if (!optionsEnded && arg == "-s") {
            silent = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            std::fprintf(stderr, "monvid-regsvr: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return kExitUsage;
        } else if (libraryArg.empty() && !arg.empty()) {
            libraryArg = argv[i];
        } else {
            std::fprintf(stderr, "monvid-regsvr: give exactly one library\n");
            printUsage(stderr);
            return kExitUsage;
        }
    }
    if (libraryArg.empty()) {
        printUsage(stderr);
        return kExitUsage;
    }

    const component::RegistrationOutcome outcome = component::runSelfRegistration(
        libraryArg, unregister ? component::RegistrationAction::Unregister
                               : component::RegistrationAction::Register);
    if (!outcome.succeeded()) {
        std::fprintf(stderr, "monvid-regsvr: %s\n", outcome.detail.c_str());
        return kExitFailure;
    }
    if (!silent) {
        std::printf("%s in %s succeeded (%s)\n",
                    unregister ? "DllUnregisterServer" : "DllRegisterServer",
                    outcome.libraryPath.c_str(), component::describeResult(outcome.result).c_str());
        std::printf("registry: %s\n", component::Registry::defaultPath().c_str());
    }
    return kExitSuccess;
}
