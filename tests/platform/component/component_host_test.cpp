// The host's creator and the registration tool, end to end with a real component library
// (test_component.cpp) loaded with dlopen: register, create by ProgID and by class
// identifier, invoke, unregister; and every way creation can fail, leaving nothing behind.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "ComponentHost.h"
#include "Registration.h"
#include "support/media.h"
#include "support/process.h"
#include "test_component.h"

using namespace component;

namespace {

// Widgets need an application object for the whole program.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "component_host_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};
const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int regsvr(const std::vector<std::string>& args, const std::string& log = {}) {
    std::vector<std::string> argv{MONVID_REGSVR_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runCommand(argv, 30000, log);
}

// Live objects of the test component (it is loaded by then, so RTLD_NOLOAD finds it).
int liveObjects() {
    void* handle = dlopen(TEST_COMPONENT_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return 0;  // never loaded: nothing can live
    const auto count = reinterpret_cast<int (*)()>(dlsym(handle, "MonvidTest_LiveObjects"));
    const int live = count ? count() : -1;
    dlclose(handle);
    return live;
}

QVariant invoke(IDispatch& object, std::int32_t dispid, int flags, const QVariantList& args,
                HRESULT* hr = nullptr) {
    QVariant result;
    const HRESULT code = object.Invoke(dispid, flags, args, &result);
    if (hr)
        *hr = code;
    return result;
}

class ComponentHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registryPath_ = dir_.file("registry.ini");
        ::setenv("MONVID_REGISTRY", registryPath_.c_str(), 1);
        ::unsetenv(testcomponent::kFailVariable);
        parent_ = std::make_unique<QWidget>();
    }
    void TearDown() override {
        parent_.reset();
        ::unsetenv(testcomponent::kFailVariable);
        ::unsetenv("MONVID_REGISTRY");
        EXPECT_EQ(liveObjects(), 0);
    }
    void registerTestComponent() { ASSERT_EQ(regsvr({"-s", TEST_COMPONENT_PATH}), 0); }

    // Creation must fail with `expected` and leave no object alive.
    void expectFailure(const std::string& id, HRESULT expected, QWidget* parent) {
        HRESULT hr = S_OK;
        std::string detail;
        ControlPtr control = createControl(id, parent, &hr, &detail);
        EXPECT_FALSE(control) << id;
        EXPECT_EQ(hr, expected) << id << ": " << hresultName(hr) << " " << detail;
        EXPECT_FALSE(detail.empty());
        EXPECT_EQ(liveObjects(), 0);
    }

    testsupport::TempDir dir_;
    std::string registryPath_;
    std::unique_ptr<QWidget> parent_;
};

}  // namespace

TEST_F(ComponentHostTest, RegisterCreateInvokeUnregister) {
    registerTestComponent();
    const std::string text = readFile(registryPath_);
    EXPECT_NE(text.find(std::string("InprocServer=") +
                        std::filesystem::canonical(TEST_COMPONENT_PATH).string()),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("_DAdder.2=method BSTR Echo(unsigned char* text, short times)"),
              std::string::npos);

    HRESULT hr = E_FAIL;
    ControlPtr byProgId = createControl(testcomponent::kControlProgId, parent_.get(), &hr);
    ASSERT_TRUE(byProgId);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(byProgId->controlWindow());
    EXPECT_EQ(byProgId->controlWindow()->parentWidget(), parent_.get());
    EXPECT_EQ(liveObjects(), 1);

    EXPECT_EQ(invoke(*byProgId, testcomponent::kIdAdd, DISPATCH_METHOD, {2, 40}).toInt(), 42);
    EXPECT_EQ(invoke(*byProgId, testcomponent::kIdEcho, DISPATCH_METHOD,
                     {QByteArray("ab"), QVariant::fromValue<qint16>(3)})
                  .toString(),
              "ababab");
    invoke(*byProgId, testcomponent::kIdAdd, DISPATCH_METHOD, {1}, &hr);
    EXPECT_EQ(hr, DISP_E_BADPARAMCOUNT);
    invoke(*byProgId, testcomponent::kIdEcho, DISPATCH_METHOD, {QString("ab"), 1}, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    invoke(*byProgId, 99, DISPATCH_METHOD, {}, &hr);
    EXPECT_EQ(hr, DISP_E_MEMBERNOTFOUND);
    invoke(*byProgId, testcomponent::kIdCaption, DISPATCH_PROPERTYPUT, {QString("hello")}, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(invoke(*byProgId, testcomponent::kIdCaption, DISPATCH_PROPERTYGET, {}).toString(),
              "hello");
    EXPECT_EQ(static_cast<QLabel*>(byProgId->controlWindow())->text(), "hello");

    ControlPtr byClsid = createControl(testcomponent::kControlClsid, parent_.get(), &hr);
    ASSERT_TRUE(byClsid);
    EXPECT_EQ(liveObjects(), 2);
    // Lower-case identifiers name the same class.
    std::string lower = testcomponent::kControlClsid;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(createControl(lower, parent_.get(), &hr));
    EXPECT_EQ(liveObjects(), 2);  // the temporary was released at once

    byClsid.reset();
    byProgId.reset();
    EXPECT_EQ(liveObjects(), 0);
    EXPECT_TRUE(parent_->findChildren<QLabel*>().isEmpty());  // windows ended with them

    ASSERT_EQ(regsvr({"-u", "-s", TEST_COMPONENT_PATH}), 0);
    expectFailure(testcomponent::kControlProgId, REGDB_E_CLASSNOTREG, parent_.get());
    expectFailure(testcomponent::kControlClsid, REGDB_E_CLASSNOTREG, parent_.get());
}

TEST_F(ComponentHostTest, ParentEndingFirstEndsTheWindowButNotTheControl) {
    registerTestComponent();
    ControlPtr control = createControl(testcomponent::kControlProgId, parent_.get());
    ASSERT_TRUE(control);
    parent_.reset();
    EXPECT_EQ(control->controlWindow(), nullptr);
    EXPECT_EQ(invoke(*control, testcomponent::kIdAdd, DISPATCH_METHOD, {1, 1}).toInt(), 2);
    control.reset();
}

TEST_F(ComponentHostTest, FailuresInsideTheLibraryLeaveNothingBehind) {
    registerTestComponent();
    const struct {
        const char* step;
        HRESULT expected;
    } cases[] = {
        {"factory", CLASS_E_CLASSNOTAVAILABLE},
        {"instance", E_OUTOFMEMORY},
        {"nullinstance", E_FAIL},
        {"throw", E_FAIL},
        {"window", E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        ::setenv(testcomponent::kFailVariable, c.step, 1);
        expectFailure(testcomponent::kControlProgId, c.expected, parent_.get());
    }
    ::unsetenv(testcomponent::kFailVariable);
    EXPECT_TRUE(parent_->findChildren<QWidget*>().isEmpty());
    // A class that makes a dispatch object without a window is no control.
    expectFailure(testcomponent::kPlainProgId, E_NOINTERFACE, parent_.get());
    // And after all that the control is still made normally.
    EXPECT_TRUE(createControl(testcomponent::kControlProgId, parent_.get()));
}

TEST_F(ComponentHostTest, BadRequestsFailWithClearCodes) {
    expectFailure(testcomponent::kControlProgId, REGDB_E_CLASSNOTREG, parent_.get());  // no file
    registerTestComponent();
    expectFailure("", CO_E_CLASSSTRING, parent_.get());
    expectFailure("{3F2A1C6E-8B4D}", CO_E_CLASSSTRING, parent_.get());
    expectFailure("No.Such.ProgId", REGDB_E_CLASSNOTREG, parent_.get());
    expectFailure("{00000000-0000-0000-0000-000000000001}", REGDB_E_CLASSNOTREG, parent_.get());
    expectFailure(testcomponent::kControlProgId, E_POINTER, nullptr);

    HRESULT hr = S_OK;
    std::thread wrongThread(
        [&] { createControl(testcomponent::kControlProgId, parent_.get(), &hr); });
    wrongThread.join();
    EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
}

TEST_F(ComponentHostTest, BrokenRegistryEntriesFailCleanly) {
    // A damaged registry file.
    {
        std::ofstream out(registryPath_, std::ios::binary);
        out << "\x01\x02garbage\n[ProgID\\Bad.1]\nCLSID={zz}\n[CLSID\\{11111111-2222-3333-4444-"
               "555555555555}]\nInprocServer=relative/lib.so\n";
    }
    expectFailure("Bad.1", REGDB_E_CLASSNOTREG, parent_.get());
    expectFailure("{11111111-2222-3333-4444-555555555555}", REGDB_E_CLASSNOTREG, parent_.get());

    // A library that loads but has no DllGetClassObject, and a file that is no library.
    Registry registry;
    ClassEntry entry;
    entry.clsid = *Guid::parse("{11111111-2222-3333-4444-555555555556}");
    entry.libraryPath = TEST_NOT_COMPONENT_PATH;
    entry.isControl = true;
    ASSERT_TRUE(registry.registerClass(entry));
    expectFailure(entry.clsid.toString(), CO_E_ERRORINDLL, parent_.get());
    EXPECT_EQ(dlopen(TEST_NOT_COMPONENT_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);  // unloaded

    const std::string notALibrary = dir_.file("text.so");
    std::ofstream(notALibrary) << "not an ELF file\n";
    entry.libraryPath = notALibrary;
    ASSERT_TRUE(registry.registerClass(entry));
    expectFailure(entry.clsid.toString(), REGDB_E_CLASSNOTREG, parent_.get());
}

TEST_F(ComponentHostTest, RegisteredLibraryThatNoLongerExists) {
    // A copy of the library that this process never loaded, registered from its own place.
    const std::string copy = dir_.file("libmoved_component.so");
    std::filesystem::copy_file(TEST_COMPONENT_PATH, copy);
    ASSERT_EQ(regsvr({"-s", copy}), 0);
    EXPECT_EQ(Registry().findClass(*Guid::parse(testcomponent::kControlClsid))->libraryPath, copy);
    std::filesystem::remove(copy);

    HRESULT hr = S_OK;
    std::string detail;
    EXPECT_FALSE(createControl(testcomponent::kControlProgId, parent_.get(), &hr, &detail));
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    EXPECT_NE(detail.find(copy), std::string::npos) << detail;
}

TEST_F(ComponentHostTest, RegistrationToolOutcomesAndExitCodes) {
    // Each run writes a log of its own (the runner appends).
    int runs = 0;
    std::string log;
    auto nextLog = [&] { return log = dir_.file("regsvr" + std::to_string(++runs) + ".log"); };
    EXPECT_EQ(regsvr({}, nextLog()), 2);
    EXPECT_EQ(regsvr({"-x", TEST_COMPONENT_PATH}), 2);
    EXPECT_EQ(regsvr({TEST_COMPONENT_PATH, TEST_COMPONENT_PATH}), 2);
    EXPECT_EQ(regsvr({"-h"}), 0);
    EXPECT_EQ(regsvr({dir_.file("missing.so")}, nextLog()), 1);
    EXPECT_NE(readFile(log).find("no such library file"), std::string::npos);
    EXPECT_EQ(regsvr({TEST_NOT_COMPONENT_PATH}, nextLog()), 1);
    EXPECT_NE(readFile(log).find("DllRegisterServer"), std::string::npos);
    const std::string text = dir_.file("text.so");
    std::ofstream(text) << "text";
    EXPECT_EQ(regsvr({text}, nextLog()), 1);
    EXPECT_NE(readFile(log).find("cannot load"), std::string::npos);

    ::setenv(testcomponent::kFailVariable, "register", 1);
    EXPECT_EQ(regsvr({TEST_COMPONENT_PATH}, nextLog()), 1);
    EXPECT_NE(readFile(log).find("0x80040201, SELFREG_E_CLASS"), std::string::npos)
        << readFile(log);
    ::unsetenv(testcomponent::kFailVariable);

    EXPECT_EQ(regsvr({TEST_COMPONENT_PATH}, nextLog()), 0);
    EXPECT_NE(readFile(log).find("succeeded (0x00000000, S_OK)"), std::string::npos);
    EXPECT_EQ(regsvr({"-s", TEST_COMPONENT_PATH}, nextLog()), 0);
    EXPECT_EQ(readFile(log), "");  // silent

    ::setenv(testcomponent::kFailVariable, "unregister", 1);
    EXPECT_EQ(regsvr({"-u", TEST_COMPONENT_PATH}, nextLog()), 1);
    EXPECT_NE(readFile(log).find("0x80040200"), std::string::npos);
    ::unsetenv(testcomponent::kFailVariable);
    EXPECT_EQ(regsvr({"-u", TEST_COMPONENT_PATH}, nextLog()), 0);
    EXPECT_FALSE(Registry().findProgId(testcomponent::kControlProgId));
    // A relative path is registered as the library's full path.
    const std::filesystem::path library = std::filesystem::canonical(TEST_COMPONENT_PATH);
    const std::string relative =
        std::filesystem::relative(library, std::filesystem::current_path()).string();
    EXPECT_EQ(regsvr({"-s", relative}), 0);
    EXPECT_EQ(Registry().findClass(*Guid::parse(testcomponent::kControlClsid))->libraryPath,
              library.string());
}

TEST_F(ComponentHostTest, SelfRegistrationInProcessSaysWhyItFailed) {
    RegistrationOutcome missing = runSelfRegistration(dir_.file("missing.so"));
    EXPECT_FALSE(missing.succeeded());
    EXPECT_NE(missing.detail.find("no such library file"), std::string::npos);

    const std::string text = dir_.file("text.so");
    std::ofstream(text) << "text";
    RegistrationOutcome unloadable = runSelfRegistration(text);
    EXPECT_EQ(unloadable.result, E_FAIL);
    // The loader's own words follow the path.
    EXPECT_NE(unloadable.detail.find("cannot load " + text + ": "), std::string::npos)
        << unloadable.detail;
    EXPECT_GT(unloadable.detail.size(), ("cannot load " + text + ": ").size());

    RegistrationOutcome notComponent = runSelfRegistration(TEST_NOT_COMPONENT_PATH);
    EXPECT_EQ(notComponent.result, CO_E_ERRORINDLL);
    EXPECT_NE(notComponent.detail.find("no entry point DllRegisterServer"), std::string::npos);

    ::setenv(testcomponent::kFailVariable, "register", 1);
    RegistrationOutcome refused = runSelfRegistration(TEST_COMPONENT_PATH);
    EXPECT_EQ(refused.result, SELFREG_E_CLASS);
    EXPECT_NE(refused.detail.find("0x80040201, SELFREG_E_CLASS"), std::string::npos);
    ::unsetenv(testcomponent::kFailVariable);

    // Through a link: the library's own path is what it registers and what is reported.
    const std::string link = dir_.file("link.so");
    std::filesystem::create_symlink(TEST_COMPONENT_PATH, link);
    RegistrationOutcome registered = runSelfRegistration(link);
    ASSERT_TRUE(registered.succeeded()) << registered.detail;
    EXPECT_TRUE(registered.detail.empty());
    EXPECT_EQ(registered.libraryPath, std::filesystem::canonical(TEST_COMPONENT_PATH).string());
    EXPECT_EQ(Registry().findClass(*Guid::parse(testcomponent::kControlClsid))->libraryPath,
              registered.libraryPath);
    EXPECT_TRUE(runSelfRegistration(link, RegistrationAction::Unregister).succeeded());
    EXPECT_FALSE(Registry().findClass(*Guid::parse(testcomponent::kControlClsid)));
}
