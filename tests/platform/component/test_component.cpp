// A minimal component library for the host's tests: the four entry points, a control whose
// window is a label, and a dispatch object that is no control. Counts its live objects
// (MonvidTest_LiveObjects) so tests can see that failed creations leave nothing behind.
#include <dlfcn.h>

#include <QLabel>
#include <QPointer>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "Component.h"
#include "Registry.h"
#include "TypeInfo.h"
#include "test_component.h"

using namespace component;

namespace {

std::atomic<int> liveObjects{0};

bool failing(const char* step) {
    const char* value = std::getenv(testcomponent::kFailVariable);
    return value && std::strcmp(value, step) == 0;
}

Guid guid(const char* text) {
    return *Guid::parse(text);
}

const TypeLibInfo& typeLib() {
    static const TypeLibInfo info{
        "MonvidTestLib",
        guid(testcomponent::kTypeLibId),
        1,
        0,
        0x0409,
        {{"_DAdder",
          guid("{0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9}"),
          {
              {testcomponent::kIdAdd,
               "Add",
               MemberKind::Method,
               {{"a", VarType::I4}, {"b", VarType::I4}},
               VarType::I4},
              {testcomponent::kIdEcho,
               "Echo",
               MemberKind::Method,
               {{"text", VarType::Str8}, {"times", VarType::I2}},
               VarType::Bstr},
              {testcomponent::kIdCaption, "Caption", MemberKind::Property, {}, VarType::Bstr},
          }}}};
    return info;
}

class Adder : public IOleControl {
  public:
    Adder() { ++liveObjects; }

    void Release() override { delete this; }

    HRESULT Invoke(std::int32_t dispid, int flags, const QVariantList& args,
                   QVariant* result) override {
        const MemberInfo* member = typeLib().interfaces.front().find(dispid);
        if (!member)
            return DISP_E_MEMBERNOTFOUND;
        QVariantList a;
        if (const HRESULT hr = checkInvoke(*member, flags, args, a); FAILED(hr))
            return hr;
        QVariant value;
        switch (dispid) {
            case testcomponent::kIdAdd:
                value = QVariant::fromValue<qint32>(a[0].value<qint32>() + a[1].value<qint32>());
                break;
            case testcomponent::kIdEcho:
                value = QString::fromUtf8(a[0].toByteArray()).repeated(a[1].value<qint16>());
                break;
            case testcomponent::kIdCaption:
                if (flags & DISPATCH_PROPERTYPUT) {
                    caption_ = a[0].toString();
                    if (label_)
                        label_->setText(caption_);
                } else {
                    value = caption_;
                }
                break;
        }
        if (result)
            *result = value;
        return S_OK;
    }

    HRESULT CreateControlWindow(QWidget* parent) override {
        if (failing("window"))
            return E_FAIL;
        if (label_)
            return E_FAIL;
        label_ = new QLabel(caption_, parent);  // owned by the parent
        return S_OK;
    }
    QWidget* controlWindow() override { return label_; }
    HRESULT ShowProperties() override { return S_OK; }

  private:
    ~Adder() override {
        delete label_.data();  // the parent may have ended it first
        --liveObjects;
    }
    QPointer<QLabel> label_;
    QString caption_;
};

class Plain : public IDispatch {
  public:
    Plain() { ++liveObjects; }
    void Release() override { delete this; }
    HRESULT Invoke(std::int32_t, int, const QVariantList&, QVariant*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    ~Plain() override { --liveObjects; }
};

template <typename Object>
class Factory : public IClassFactory {
  public:
    void Release() override {}  // static: lives as long as the library
    HRESULT CreateInstance(const Guid& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IDispatch || iid == IID_IUnknown))
            return E_NOINTERFACE;
        if (failing("instance"))
            return E_OUTOFMEMORY;
        if (failing("nullinstance"))
            return S_OK;
        if (failing("throw"))
            throw std::runtime_error("test component asked to throw");
        IDispatch* made = new Object();  // ended by its Release
        *object = made;
        return S_OK;
    }
};

Factory<Adder> adderFactory;
Factory<Plain> plainFactory;

std::string ownPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownPath), &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int MonvidTest_LiveObjects() {
    return liveObjects.load();
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    if (failing("register"))
        return SELFREG_E_CLASS;
    Registry registry;
    const std::string path = ownPath();
    if (!registry.registerTypeLib(typeLib(), path))
        return SELFREG_E_TYPELIB;
    ClassEntry adder;
    adder.clsid = guid(testcomponent::kControlClsid);
    adder.libraryPath = path;
    adder.progId = testcomponent::kControlProgId;
    adder.typeName = "Monvid Test Adder";
    adder.threadingModel = "Apartment";
    adder.miscStatus = 0x20191;
    adder.isControl = true;
    adder.typeLib = guid(testcomponent::kTypeLibId);
    adder.typeLibVersion = "1.0";
    ClassEntry plain;
    plain.clsid = guid(testcomponent::kPlainClsid);
    plain.libraryPath = path;
    plain.progId = testcomponent::kPlainProgId;
    plain.typeName = "Monvid Test Plain";
    plain.threadingModel = "Apartment";
    if (!registry.registerClass(adder) || !registry.registerClass(plain))
        return SELFREG_E_CLASS;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    if (failing("unregister"))
        return SELFREG_E_TYPELIB;
    Registry registry;
    if (!registry.unregisterTypeLib(guid(testcomponent::kTypeLibId), 1, 0))
        return SELFREG_E_TYPELIB;
    if (!registry.unregisterClass(guid(testcomponent::kControlClsid)) ||
        !registry.unregisterClass(guid(testcomponent::kPlainClsid)))
        return SELFREG_E_CLASS;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid,
                                                                 void** factory) {
    if (!clsid || !iid || !factory)
        return E_POINTER;
    *factory = nullptr;
    if (failing("factory"))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!(*iid == IID_IClassFactory || *iid == IID_IUnknown))
        return E_NOINTERFACE;
    if (*clsid == guid(testcomponent::kControlClsid))
        *factory = static_cast<IClassFactory*>(&adderFactory);
    else if (*clsid == guid(testcomponent::kPlainClsid))
        *factory = static_cast<IClassFactory*>(&plainFactory);
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return liveObjects.load() == 0 ? S_OK : S_FALSE;
}
}
