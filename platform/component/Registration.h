// Self-registration of a component library: loading it by its full path and calling its
// DllRegisterServer or DllUnregisterServer, which write or remove its classes in the
// per-user registry. What the registration tool does, and what a host does on its first run
// for the library it was installed with.
#pragma once

#include <string>

#include "Component.h"

namespace component {

struct RegistrationOutcome {
    // The entry point's result; E_FAIL when it could not be called, CO_E_ERRORINDLL when the
    // library has no such entry point.
    HRESULT result = E_FAIL;
    // What went wrong, one sentence naming the library ("cannot load /x/libmonvid.so: ...",
    // with the loader's own message); empty on success.
    std::string detail;
    // The library's full path (symbolic links resolved): the one it registers for itself.
    std::string libraryPath;

    bool succeeded() const { return SUCCEEDED(result); }
};

enum class RegistrationAction { Register, Unregister };

// Loads `libraryPath` (made absolute, links resolved), runs the entry point and unloads the
// library again. Never throws: an exception from the entry point is a failure.
RegistrationOutcome runSelfRegistration(const std::string& libraryPath,
                                        RegistrationAction action = RegistrationAction::Register);

// "0x80040154, REGDB_E_CLASSNOTREG": a result code in hex with its name when it has one.
std::string describeResult(HRESULT hr);

}  // namespace component
