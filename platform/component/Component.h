// The component layer shared by the video wall control and its hosts: result codes, the
// dispatch interface, class factories and the library entry points a host finds with dlsym.
//
// Objects cross the library boundary as raw pointers with a Release() that ends them, as
// in-process components do; hosts hold them in the RAII handles of ComponentHost.h.
#pragma once

#include <QVariant>
#include <QVariantList>

#include <cstdint>

#include "Guid.h"

class QWidget;

namespace component {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000F);
// The host's creator: a class string that is not "{...}" or a ProgID; no QApplication; a
// call from another thread than the application's; a library without DllGetClassObject.
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
inline constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010E);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);

inline bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline bool FAILED(HRESULT hr) {
    return hr < 0;
}

// The symbolic name of a result code ("S_OK", "REGDB_E_CLASSNOTREG"), or "" for others.
inline const char* hresultName(HRESULT hr) {
    switch (hr) {
        case S_OK:
            return "S_OK";
        case S_FALSE:
            return "S_FALSE";
        case E_FAIL:
            return "E_FAIL";
        case E_NOINTERFACE:
            return "E_NOINTERFACE";
        case E_POINTER:
            return "E_POINTER";
        case E_INVALIDARG:
            return "E_INVALIDARG";
        case E_OUTOFMEMORY:
            return "E_OUTOFMEMORY";
        case CLASS_E_CLASSNOTAVAILABLE:
            return "CLASS_E_CLASSNOTAVAILABLE";
        case REGDB_E_CLASSNOTREG:
            return "REGDB_E_CLASSNOTREG";
        case SELFREG_E_TYPELIB:
            return "SELFREG_E_TYPELIB";
        case SELFREG_E_CLASS:
            return "SELFREG_E_CLASS";
        case DISP_E_MEMBERNOTFOUND:
            return "DISP_E_MEMBERNOTFOUND";
        case DISP_E_TYPEMISMATCH:
            return "DISP_E_TYPEMISMATCH";
        case DISP_E_OVERFLOW:
            return "DISP_E_OVERFLOW";
        case DISP_E_BADPARAMCOUNT:
            return "DISP_E_BADPARAMCOUNT";
        case DISP_E_PARAMNOTOPTIONAL:
            return "DISP_E_PARAMNOTOPTIONAL";
        case CO_E_CLASSSTRING:
            return "CO_E_CLASSSTRING";
        case CO_E_NOTINITIALIZED:
            return "CO_E_NOTINITIALIZED";
        case RPC_E_WRONG_THREAD:
            return "RPC_E_WRONG_THREAD";
        case CO_E_ERRORINDLL:
            return "CO_E_ERRORINDLL";
        default:
            return "";
    }
}

// Invoke flags.
inline constexpr int DISPATCH_METHOD = 1;
inline constexpr int DISPATCH_PROPERTYGET = 2;
inline constexpr int DISPATCH_PROPERTYPUT = 4;

// Interface identifiers a factory is asked for.
inline const Guid IID_IUnknown = *Guid::parse("{00000000-0000-0000-C000-000000000046}");
inline const Guid IID_IClassFactory = *Guid::parse("{00000001-0000-0000-C000-000000000046}");
inline const Guid IID_IDispatch = *Guid::parse("{00020400-0000-0000-C000-000000000046}");

// Something made by a library and ended by the caller.
class IReleasable {
  public:
    virtual void Release() = 0;

  protected:
    virtual ~IReleasable() = default;
};

// Late-bound calls by dispatch id. Arguments in declaration order; 8-bit strings travel as
// QByteArray, BSTR as QString, integers as QVariant numbers.
class IDispatch : public IReleasable {
  public:
    virtual HRESULT Invoke(std::int32_t dispid, int flags, const QVariantList& args,
                           QVariant* result) = 0;
};

// A control a host embeds: a dispatch object with a window. GUI thread only.
class IOleControl : public IDispatch {
  public:
    // Creates the control's window as a child of `parent`; the window is owned by the parent
    // (and ended with it or with Release, whichever comes first).
    virtual HRESULT CreateControlWindow(QWidget* parent) = 0;
    virtual QWidget* controlWindow() = 0;
    // The Properties verb: opens the control's property page.
    virtual HRESULT ShowProperties() = 0;
};

// A class factory: makes objects of one class.
class IClassFactory : public IReleasable {
  public:
    // Makes a new object answering `iid` (IID_IDispatch for the control's dispatch interface,
    // or the class's own identifier); *object is then an IOleControl* or IDispatch*. Hosts
    // read it as IDispatch* (the first base of IOleControl) and ask for IOleControl with
    // dynamic_cast.
    virtual HRESULT CreateInstance(const Guid& iid, void** object) = 0;
};

}  // namespace component

// Entry points of a component library, looked up by name.
extern "C" {
using DllRegisterServerFn = component::HRESULT (*)();
using DllUnregisterServerFn = component::HRESULT (*)();
using DllGetClassObjectFn = component::HRESULT (*)(const component::Guid* clsid,
                                                   const component::Guid* iid, void** factory);
using DllCanUnloadNowFn = component::HRESULT (*)();
}
