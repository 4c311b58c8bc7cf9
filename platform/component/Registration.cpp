#include "Registration.h"

#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <filesystem>

namespace component {

namespace {

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

std::string describeResult(HRESULT hr) {
    char text[64];
    const char* name = hresultName(hr);
    std::snprintf(text, sizeof text, "0x%08X%s%s", static_cast<unsigned>(hr), *name ? ", " : "",
                  name);
    return text;
}

RegistrationOutcome runSelfRegistration(const std::string& libraryPath, RegistrationAction action) {
    RegistrationOutcome outcome;
    // The library is loaded by its full path, so that the path it registers for itself is the
    // one a host can load it from, wherever the host runs.
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(libraryPath, ec);
    if (ec) {
        outcome.detail = libraryPath + ": no such library file";
        return outcome;
    }
    outcome.libraryPath = library.string();
    if (!std::filesystem::is_regular_file(library, ec)) {
        outcome.detail = libraryPath + ": not a library file";
        return outcome;
    }
    Library loaded(library.string());
    if (!loaded.loaded()) {
        const char* message = dlerror();
        outcome.detail =
            "cannot load " + library.string() + ": " + (message ? message : "unknown error");
        return outcome;
    }
    const char* entryName =
        action == RegistrationAction::Unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const auto entry = reinterpret_cast<DllRegisterServerFn>(loaded.symbol(entryName));
    if (!entry) {
        outcome.result = CO_E_ERRORINDLL;
        outcome.detail = library.string() + " was loaded, but it has no entry point " + entryName;
        return outcome;
    }
    try {
        outcome.result = entry();
    } catch (const std::exception& e) {
        outcome.result = E_FAIL;
        outcome.detail = std::string(entryName) + " in " + library.string() + " threw: " + e.what();
        return outcome;
    } catch (...) {
        outcome.result = E_FAIL;
        outcome.detail = std::string(entryName) + " in " + library.string() + " threw";
        return outcome;
    }
    if (FAILED(outcome.result))
        outcome.detail = std::string(entryName) + " in " + library.string() + " failed (" +
                         describeResult(outcome.result) + ")";
    return outcome;
}

}  // namespace component
