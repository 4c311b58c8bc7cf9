// monvid-regsvr [-u] [-s] LIBRARY
//
// Loads a component library and calls its DllRegisterServer (or, with -u, its
// DllUnregisterServer), which writes (or removes) its classes in the per-user registry
// ($MONVID_REGISTRY, else $XDG_CONFIG_HOME/monvid/registry.ini). Prints the outcome with the
// result code in hex; -s prints nothing on success. Exit code 0 on success, 1 on failure,
// 2 on bad usage.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "Component.h"
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

std::string describe(component::HRESULT hr) {
    char text[64];
    const char* name = component::hresultName(hr);
    std::snprintf(text, sizeof text, "0x%08X%s%s", static_cast<unsigned>(hr), *name ? ", " : "",
                  name);
    return text;
}

// A loaded library, closed with the object.
class Library {
  public:
    explicit Library(const std::string& path)
        : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_)
            dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const { return dlsym(handle_, name); }

  private:
    void* handle_;
};

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

    // The library is loaded by its full path, so that the path it registers for itself is the
    // one a host can load it from, wherever the host runs.
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(libraryArg, ec);
    if (ec) {
        std::fprintf(stderr, "monvid-regsvr: %s: no such library file\n", libraryArg.c_str());
        return kExitFailure;
    }
    if (!std::filesystem::is_regular_file(library, ec)) {
        std::fprintf(stderr, "monvid-regsvr: %s: not a library file\n", libraryArg.c_str());
        return kExitFailure;
    }
    Library loaded(library.string());
    if (!loaded.loaded()) {
        const char* message = dlerror();
        std::fprintf(stderr, "monvid-regsvr: cannot load %s: %s\n", library.c_str(),
                     message ? message : "unknown error");
        return kExitFailure;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const auto entry = reinterpret_cast<DllRegisterServerFn>(loaded.symbol(entryName));
    if (!entry) {
        std::fprintf(stderr, "monvid-regsvr: %s was loaded, but it has no entry point %s\n",
                     library.c_str(), entryName);
        return kExitFailure;
    }
    component::HRESULT hr = component::E_FAIL;
    try {
        hr = entry();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "monvid-regsvr: %s in %s threw: %s\n", entryName, library.c_str(),
                     e.what());
        return kExitFailure;
    } catch (...) {
        std::fprintf(stderr, "monvid-regsvr: %s in %s threw\n", entryName, library.c_str());
        return kExitFailure;
    }
    if (component::FAILED(hr)) {
        std::fprintf(stderr, "monvid-regsvr: %s in %s failed (%s)\n", entryName, library.c_str(),
                     describe(hr).c_str());
        return kExitFailure;
    }
    if (!silent) {
        std::printf("%s in %s succeeded (%s)\n", entryName, library.c_str(), describe(hr).c_str());
        std::printf("registry: %s\n", component::Registry::defaultPath().c_str());
    }
    return kExitSuccess;
}
