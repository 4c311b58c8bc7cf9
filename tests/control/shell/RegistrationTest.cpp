// The control library as a host meets it: registered into a registry file, created by ProgID
// or class identifier through dlopen and its class factory, called by dispatch id, and
// unregistered again.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QWidget>

#include <fstream>

#include "../player/QtTestMain.h"
#include "Component.h"
#include "ComponentHost.h"
#include "Registry.h"
#include "support/media.h"

using namespace component;

namespace {

const char* kControlClsid = "{C979313E-99A1-467A-8715-85F91ABF8F95}";
const char* kPageClsid = "{1008E962-5171-4C04-B040-237E4BAD334A}";

// The built control library, loaded once for the whole program.
struct Library {
    void* handle = dlopen(MONVID_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    DllRegisterServerFn registerServer =
        handle ? reinterpret_cast<DllRegisterServerFn>(dlsym(handle, "DllRegisterServer"))
               : nullptr;
    DllUnregisterServerFn unregisterServer =
        handle ? reinterpret_cast<DllUnregisterServerFn>(dlsym(handle, "DllUnregisterServer"))
               : nullptr;
    DllGetClassObjectFn getClassObject =
        handle ? reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"))
               : nullptr;
    DllCanUnloadNowFn canUnloadNow =
        handle ? reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow")) : nullptr;
};

Library& library() {
    static Library lib;
    return lib;
}

class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("MONVID_REGISTRY", dir_.file("registry.ini").c_str(), 1);
        ASSERT_NE(library().handle, nullptr) << dlerror();
        ASSERT_NE(library().registerServer, nullptr);
    }
    void TearDown() override { unsetenv("MONVID_REGISTRY"); }
    testsupport::TempDir dir_;
};

}  // namespace

TEST_F(RegistrationTest, RegisterCreateCallUnregisterAndCreationThenFails) {
    ASSERT_EQ(library().registerServer(), S_OK);
    Registry registry;
    const auto entry = registry.findClass(*Guid::parse(kControlClsid));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->progId, "MONVID.MonvidCtrl.1");
    EXPECT_EQ(entry->typeName, "Monvid Control");
    EXPECT_EQ(entry->miscStatus, 0x20191u);
    EXPECT_EQ(entry->threadingModel, "Apartment");
    EXPECT_TRUE(entry->isControl);
    EXPECT_TRUE(registry.findClass(*Guid::parse(kPageClsid)).has_value());
    EXPECT_TRUE(registry.hasTypeLib(*Guid::parse("{A1761253-B3AA-4075-9E52-CE601C45AF2D}"), 1, 0));

    QWidget host;
    for (const char* name : {"MONVID.MonvidCtrl.1", kControlClsid}) {
        SCOPED_TRACE(name);
        HRESULT error = E_FAIL;
        ControlPtr control = createControl(name, &host, &error, registry);
        ASSERT_NE(control, nullptr) << std::hex << error;
        ASSERT_NE(control->controlWindow(), nullptr);
        QVariant result;
        EXPECT_EQ(control->Invoke(9, DISPATCH_METHOD, {QVariant::fromValue<qint16>(1)}, &result),
                  S_OK);
        EXPECT_EQ(control->Invoke(8, DISPATCH_METHOD, {}, &result), S_OK);
        EXPECT_EQ(result.value<qint32>(), 0);
        EXPECT_EQ(library().canUnloadNow(), S_FALSE);  // a control is alive
    }
    EXPECT_EQ(library().canUnloadNow(), S_OK);

    ASSERT_EQ(library().unregisterServer(), S_OK);
    HRESULT error = S_OK;
    EXPECT_EQ(createControl("MONVID.MonvidCtrl.1", &host, &error, Registry()), nullptr);
    EXPECT_EQ(error, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(createControl(kControlClsid, &host, &error, Registry()), nullptr);
    EXPECT_EQ(error, REGDB_E_CLASSNOTREG);
    // Unregistering what is not registered fails on the type library.
    EXPECT_EQ(library().unregisterServer(), SELFREG_E_TYPELIB);
}

TEST_F(RegistrationTest, ClassFactoriesAnswerOnlyForTheirClassesAndInterfaces) {
    void* factory = nullptr;
    const Guid control = *Guid::parse(kControlClsid);
    const Guid other = *Guid::parse("{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(library().getClassObject(&other, &IID_IClassFactory, &factory),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(library().getClassObject(&control, &IID_IDispatch, &factory), E_NOINTERFACE);
    EXPECT_EQ(library().getClassObject(&control, &IID_IClassFactory, nullptr), E_POINTER);
    ASSERT_EQ(library().getClassObject(&control, &IID_IClassFactory, &factory), S_OK);
    auto* classFactory = static_cast<IClassFactory*>(factory);
    void* object = nullptr;
    EXPECT_EQ(classFactory->CreateInstance(other, &object), E_NOINTERFACE);
    ASSERT_EQ(classFactory->CreateInstance(IID_IDispatch, &object), S_OK);
    static_cast<IOleControl*>(object)->Release();

    const Guid page = *Guid::parse(kPageClsid);
    ASSERT_EQ(library().getClassObject(&page, &IID_IClassFactory, &factory), S_OK);
    ASSERT_EQ(static_cast<IClassFactory*>(factory)->CreateInstance(IID_IDispatch, &object), S_OK);
    EXPECT_EQ(library().canUnloadNow(), S_FALSE);
    static_cast<IDispatch*>(object)->Release();
    EXPECT_EQ(library().canUnloadNow(), S_OK);
}

TEST_F(RegistrationTest, AnUnwritableRegistryFailsOnTheTypeLibrary) {
    // A folder that cannot be made: a plain file stands where it would go.
    std::ofstream(dir_.file("not-a-folder")) << "x";
    setenv("MONVID_REGISTRY", (dir_.file("not-a-folder") + "/registry.ini").c_str(), 1);
    EXPECT_EQ(library().registerServer(), SELFREG_E_TYPELIB);
}

TEST_F(RegistrationTest, ADamagedRegistryFileNeverCrashesAndCanBeRegisteredOver) {
    {
        std::ofstream out(dir_.file("registry.ini"), std::ios::binary);
        out << "\x01\x02 garbage [[[\n=novalue\n[CLSID\\{C979313E-99A1-467A-8715-85F91ABF8F95}]\n"
               "LibraryPath\n"
            << std::string(5000, 'x') << "\n";
    }
    QWidget host;
    HRESULT error = S_OK;
    EXPECT_EQ(createControl("MONVID.MonvidCtrl.1", &host, &error, Registry()), nullptr);
    EXPECT_TRUE(FAILED(error));
    ASSERT_EQ(library().registerServer(), S_OK);
    EXPECT_NE(createControl("MONVID.MonvidCtrl.1", &host, &error, Registry()), nullptr);
    EXPECT_EQ(library().unregisterServer(), S_OK);
}
