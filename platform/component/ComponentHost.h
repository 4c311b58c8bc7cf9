// The host's side: creating a registered control by class identifier or ProgID, through the
// registry, the library's DllGetClassObject and its class factory. GUI thread.
#pragma once

#include <memory>
#include <string>

#include "Component.h"
#include "Registry.h"

namespace component {

struct ReleaseDeleter {
    void operator()(IReleasable* object) const {
        if (object)
            object->Release();
    }
};
using ControlPtr = std::unique_ptr<IOleControl, ReleaseDeleter>;

// Creates the control registered under `clsidOrProgId` ("{...}" or a ProgID) and its window
// as a child of `parent`. On failure returns null and sets *error (REGDB_E_CLASSNOTREG when
// the class is not registered or its library cannot be loaded, or the factory's result).
// The library stays loaded for the rest of the process.
ControlPtr createControl(const std::string& clsidOrProgId, QWidget* parent,
                         HRESULT* error = nullptr, const Registry& registry = Registry());

}  // namespace component
