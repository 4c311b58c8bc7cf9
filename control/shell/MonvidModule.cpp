// The control library's entry points: self-registration, class factories for the control and
// its property page, and the unload query.
#include <atomic>

#include "Component.h"
#include "ControlLanguage.h"
#include "MonvidCtrl.h"
#include "MonvidIds.h"
#include "MonvidPropPage.h"
#include "MonvidTypeLib.h"
#include "Registry.h"

using namespace component;

namespace {

std::atomic<int> g_liveFactoryObjects{0};  // property page objects handed out

// The property page as a component: a dispatch object without members whose window is the
// page.
class CMonvidPropPageObject : public IDispatch {
  public:
    CMonvidPropPageObject() { g_liveFactoryObjects.fetch_add(1); }
    void Release() override { delete this; }
    HRESULT Invoke(std::int32_t, int, const QVariantList&, QVariant*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    ~CMonvidPropPageObject() override { g_liveFactoryObjects.fetch_sub(1); }
};

// Factories live for the whole process; Release does nothing.
class CMonvidCtrlFactory : public IClassFactory {
  public:
    void Release() override {}
    HRESULT CreateInstance(const Guid& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IDispatch || iid == IID_IUnknown || iid == monvid::kDispatchIid ||
              iid == monvid::kControlClsid))
            return E_NOINTERFACE;
        IOleControl* control = new CMonvidCtrl();  // ended by its Release
        *object = control;
        return S_OK;
    }
};

class CMonvidPropPageFactory : public IClassFactory {
  public:
    void Release() override {}
    HRESULT CreateInstance(const Guid& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IDispatch || iid == IID_IUnknown || iid == monvid::kPropPageClsid))
            return E_NOINTERFACE;
        IDispatch* page = new CMonvidPropPageObject();  // ended by its Release
        *object = page;
        return S_OK;
    }
};

CMonvidCtrlFactory g_controlFactory;
CMonvidPropPageFactory g_pageFactory;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    Registry registry;
    const std::string path = monvid::controlLibraryPath();
    if (!registry.registerTypeLib(monvid::monvidTypeLib(), path))
        return SELFREG_E_TYPELIB;

    ClassEntry control;
    control.clsid = monvid::kControlClsid;
    control.libraryPath = path;
    control.progId = monvid::kControlProgId;
    control.typeName = monvid::kControlTypeName;
    control.threadingModel = monvid::kThreadingModel;
    control.miscStatus = monvid::kMiscStatus;
    control.isControl = true;
    control.typeLib = monvid::kTypeLibId;
    control.typeLibVersion = "1.0";

    ClassEntry page;
    page.clsid = monvid::kPropPageClsid;
    page.libraryPath = path;
    page.progId = monvid::kPropPageProgId;
    page.typeName = monvid::kPropPageTypeName;
    page.threadingModel = monvid::kThreadingModel;

    if (!registry.registerClass(control) || !registry.registerClass(page))
        return SELFREG_E_CLASS;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    Registry registry;
    if (!registry.hasTypeLib(monvid::kTypeLibId, monvid::kTypeLibMajor, monvid::kTypeLibMinor) ||
        !registry.unregisterTypeLib(monvid::kTypeLibId, monvid::kTypeLibMajor,
                                    monvid::kTypeLibMinor))
        return SELFREG_E_TYPELIB;
    if (!registry.unregisterClass(monvid::kControlClsid) ||
        !registry.unregisterClass(monvid::kPropPageClsid))
        return SELFREG_E_CLASS;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid,
                                                                 void** factory) {
    if (!clsid || !iid || !factory)
        return E_POINTER;
    *factory = nullptr;
    IClassFactory* found = nullptr;
    if (*clsid == monvid::kControlClsid)
        found = &g_controlFactory;
    else if (*clsid == monvid::kPropPageClsid)
        found = &g_pageFactory;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!(*iid == IID_IClassFactory || *iid == IID_IUnknown))
        return E_NOINTERFACE;
    *factory = found;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return CMonvidCtrl::liveObjects() == 0 && g_liveFactoryObjects.load() == 0 ? S_OK : S_FALSE;
}
}
