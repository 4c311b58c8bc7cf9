#include "ComponentHost.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QThread>

#include <map>
#include <mutex>
#include <new>

namespace component {

namespace {

// Component libraries loaded by createControl, by path. They stay loaded for the process's
// life: objects they made may outlive any one creation.
std::mutex loadedLibrariesLock;
std::map<std::string, void*> loadedLibraries;  // guarded by loadedLibrariesLock

struct Failure {
    HRESULT code;
    std::string detail;
};

using ClassFactoryPtr = std::unique_ptr<IClassFactory, ReleaseDeleter>;
using DispatchPtr = std::unique_ptr<IDispatch, ReleaseDeleter>;

// Finds the library's DllGetClassObject, loading the library when it is not yet loaded.
DllGetClassObjectFn loadClassObjectEntry(const std::string& path, Failure& failure) {
    std::lock_guard<std::mutex> lock(loadedLibrariesLock);
    if (const auto found = loadedLibraries.find(path); found != loadedLibraries.end())
        return reinterpret_cast<DllGetClassObjectFn>(dlsym(found->second, "DllGetClassObject"));
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* message = dlerror();
        failure = {REGDB_E_CLASSNOTREG,
                   "cannot load " + path + ": " + (message ? message : "unknown error")};
        return nullptr;
    }
    auto entry = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (!entry) {
        dlclose(handle);  // not a component library: nothing of it is in use
        failure = {CO_E_ERRORINDLL, path + " has no DllGetClassObject"};
        return nullptr;
    }
    loadedLibraries.emplace(path, handle);
    return entry;
}

// Resolves the class text to a registered class with a loadable-looking library.
std::optional<ClassEntry> lookUpClass(const std::string& clsidOrProgId, const Registry& registry,
                                      Failure& failure) {
    std::optional<Guid> clsid;
    if (clsidOrProgId.empty()) {
        failure = {CO_E_CLASSSTRING, "no class identifier or ProgID given"};
        return std::nullopt;
    }
    if (clsidOrProgId.front() == '{') {
        clsid = Guid::parse(clsidOrProgId);
        if (!clsid) {
            failure = {CO_E_CLASSSTRING, "malformed class identifier " + clsidOrProgId};
            return std::nullopt;
        }
    } else {
        clsid = registry.findProgId(clsidOrProgId);
        if (!clsid) {
            failure = {REGDB_E_CLASSNOTREG,
                       "ProgID " + clsidOrProgId + " is not registered in " + registry.path()};
            return std::nullopt;
        }
    }
    std::optional<ClassEntry> entry = registry.findClass(*clsid);
    if (!entry || entry->libraryPath.empty()) {
        failure = {REGDB_E_CLASSNOTREG,
                   "class " + clsid->toString() + " is not registered in " + registry.path()};
        return std::nullopt;
    }
    if (entry->libraryPath.front() != '/') {
        // A relative path would be looked up on the library search path: not what was meant.
        failure = {REGDB_E_CLASSNOTREG,
                   "class " + clsid->toString() +
                       " has a library path that is not absolute: " + entry->libraryPath};
        return std::nullopt;
    }
    return entry;
}

ControlPtr create(const std::string& clsidOrProgId, QWidget* parent, const Registry& registry,
                  Failure& failure) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !app->inherits("QApplication")) {
        failure = {CO_E_NOTINITIALIZED, "controls need a QApplication"};
        return nullptr;
    }
    if (QThread::currentThread() != app->thread()) {
        failure = {RPC_E_WRONG_THREAD, "controls are created on the application's thread"};
        return nullptr;
    }
    if (!parent) {
        failure = {E_POINTER, "a control needs a parent window"};
        return nullptr;
    }
    const std::optional<ClassEntry> entry = lookUpClass(clsidOrProgId, registry, failure);
    if (!entry)
        return nullptr;
    const DllGetClassObjectFn getClassObject = loadClassObjectEntry(entry->libraryPath, failure);
    if (!getClassObject)
        return nullptr;

    const std::string& library = entry->libraryPath;
    void* rawFactory = nullptr;
    HRESULT hr = getClassObject(&entry->clsid, &IID_IClassFactory, &rawFactory);
    ClassFactoryPtr factory(static_cast<IClassFactory*>(rawFactory));
    if (FAILED(hr) || !factory) {
        failure = {FAILED(hr) ? hr : E_FAIL, "DllGetClassObject of " + library + " failed"};
        return nullptr;
    }

    void* rawObject = nullptr;
    hr = factory->CreateInstance(IID_IDispatch, &rawObject);
    DispatchPtr object(static_cast<IDispatch*>(rawObject));
    if (FAILED(hr) || !object) {
        failure = {FAILED(hr) ? hr : E_FAIL, "the class factory of " + library + " failed"};
        return nullptr;
    }
    ControlPtr control(dynamic_cast<IOleControl*>(object.get()));
    if (!control) {
        failure = {E_NOINTERFACE, "class " + entry->clsid.toString() + " is not a control"};
        return nullptr;
    }
    object.release();  // now held by `control`

    hr = control->CreateControlWindow(parent);
    if (FAILED(hr) || !control->controlWindow()) {
        failure = {FAILED(hr) ? hr : E_FAIL, "the control's window could not be created"};
        return nullptr;
    }
    return control;
}

}  // namespace

ControlPtr createControl(const std::string& clsidOrProgId, QWidget* parent, HRESULT* error,
                         std::string* detail, const Registry& registry) {
    Failure failure{S_OK, {}};
    ControlPtr control;
    try {
        control = create(clsidOrProgId, parent, registry, failure);
    } catch (const std::bad_alloc&) {
        failure = {E_OUTOFMEMORY, "out of memory"};
    } catch (const std::exception& e) {
        failure = {E_FAIL, std::string("the component threw: ") + e.what()};
    } catch (...) {
        failure = {E_FAIL, "the component threw"};
    }
    if (!control && SUCCEEDED(failure.code))
        failure.code = E_FAIL;
    if (error)
        *error = control ? S_OK : failure.code;
    if (detail)
        *detail = control ? std::string() : failure.detail;
    return control;
}

ControlPtr createControl(const std::string& clsidOrProgId, QWidget* parent, HRESULT* error,
                         const Registry& registry) {
    return createControl(clsidOrProgId, parent, error, nullptr, registry);
}

}  // namespace component
