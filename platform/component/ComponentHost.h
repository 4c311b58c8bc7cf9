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
//
// Other failures: CO_E_CLASSSTRING for a malformed "{...}" or an empty text; E_POINTER for a
// null parent; CO_E_NOTINITIALIZED without a QApplication; RPC_E_WRONG_THREAD off the
// application's thread; CO_E_ERRORINDLL for a library without DllGetClassObject (it is not
// kept loaded); E_NOINTERFACE when the object made is not a control; E_FAIL when the library
// throws or its factory reports success without an object. Nothing made is kept on failure.
ControlPtr createControl(const std::string& clsidOrProgId, QWidget* parent,
                         HRESULT* error = nullptr, const Registry& registry = Registry());

// The same, with a readable account of a failure in *detail (for instance dlopen's message).
ControlPtr createControl(const std::string& clsidOrProgId, QWidget* parent, HRESULT* error,
                         std::string* detail, const Registry& registry = Registry());

}  // namespace component
