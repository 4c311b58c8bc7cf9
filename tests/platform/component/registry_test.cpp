// The per-user registry file: registration, look-ups, removal, and files that are missing,
// damaged or cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Registry.h"
#include "support/media.h"

using namespace component;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

const Guid kClsid = *Guid::parse("{C979313E-99A1-467A-8715-85F91ABF8F95}");
const Guid kPageClsid = *Guid::parse("{1008E962-5171-4C04-B040-237E4BAD334A}");
const Guid kLibId = *Guid::parse("{A1761253-B3AA-4075-9E52-CE601C45AF2D}");

ClassEntry controlEntry(const std::string& library = "/opt/monvid/libmonvid.so") {
    ClassEntry entry;
    entry.clsid = kClsid;
    entry.libraryPath = library;
    entry.progId = "MONVID.MonvidCtrl.1";
    entry.typeName = "Monvid Control";
    entry.threadingModel = "Apartment";
    entry.miscStatus = 0x20191;
    entry.isControl = true;
    entry.typeLib = kLibId;
    entry.typeLibVersion = "1.0";
    return entry;
}

TypeLibInfo typeLib() {
    return {"MonvidLib",
            kLibId,
            1,
            0,
            0x0409,
            {{"_DMonvid",
              *Guid::parse("{7FF579A0-9526-4D7F-B6AE-7D2D6FAC2C48}"),
              {{1, "SetWindStyle", MemberKind::Method, {{"nStyle", VarType::UI2}}, VarType::Empty},
               {3,
                "startplayurl",
                MemberKind::Method,
                {{"strUrl", VarType::Str8}, {"nWindow", VarType::I2}},
                VarType::I2},
               {5, "PicturesPath", MemberKind::Property, {}, VarType::Bstr}}},
             {"_DMonvidEvents", *Guid::parse("{1772525E-5A80-49FC-98AA-8EA4C2FF61BF}"), {}}}};
}

// Every test points the default registry at a file of its own.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.file("registry.ini");
        ::setenv("MONVID_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("MONVID_REGISTRY"); }

    testsupport::TempDir dir_;
    std::string path_;
};

}  // namespace

TEST_F(RegistryTest, DefaultPathFollowsTheEnvironment) {
    EXPECT_EQ(Registry::defaultPath(), path_);
    EXPECT_EQ(Registry().path(), path_);
    ::unsetenv("MONVID_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    EXPECT_EQ(Registry::defaultPath(), "/xdg/config/monvid/registry.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(Registry::defaultPath(), "/home/someone/.config/monvid/registry.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Registry::defaultPath(), "/home/someone/.config/monvid/registry.ini");
}

TEST_F(RegistryTest, RegisterFindAndUnregister) {
    Registry registry;
    EXPECT_FALSE(registry.findClass(kClsid));  // missing file reads as empty
    EXPECT_FALSE(registry.findProgId("MONVID.MonvidCtrl.1"));
    ASSERT_TRUE(registry.registerClass(controlEntry()));
    ClassEntry page;
    page.clsid = kPageClsid;
    page.libraryPath = "/opt/monvid/libmonvid.so";
    page.progId = "MONVID.MonvidPropPage.1";
    page.typeName = "Monvid Property Page";
    page.threadingModel = "Apartment";
    ASSERT_TRUE(registry.registerClass(page));

    const auto found = registry.findClass(kClsid);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->libraryPath, "/opt/monvid/libmonvid.so");
    EXPECT_EQ(found->progId, "MONVID.MonvidCtrl.1");
    EXPECT_EQ(found->typeName, "Monvid Control");
    EXPECT_EQ(found->threadingModel, "Apartment");
    EXPECT_EQ(found->miscStatus, 0x20191u);
    EXPECT_TRUE(found->isControl);
    EXPECT_EQ(found->typeLib, kLibId);
    EXPECT_EQ(found->typeLibVersion, "1.0");
    EXPECT_EQ(registry.findProgId("MONVID.MonvidCtrl.1"), kClsid);
    EXPECT_EQ(registry.findProgId("monvid.monvidctrl.1"), kClsid);  // names ignore case
    EXPECT_EQ(registry.findProgId("MONVID.MonvidPropPage.1"), kPageClsid);
    EXPECT_FALSE(registry.findClass(kPageClsid)->isControl);
    EXPECT_FALSE(registry.findClass(kPageClsid)->typeLib);

    const std::string text = readFile(path_);
    EXPECT_NE(text.find("[CLSID\\{C979313E-99A1-467A-8715-85F91ABF8F95}]\n"), std::string::npos);
    EXPECT_NE(text.find("InprocServer=/opt/monvid/libmonvid.so\n"), std::string::npos);
    EXPECT_NE(text.find("[ProgID\\MONVID.MonvidCtrl.1]\nCLSID={C979313E-"), std::string::npos);

    ASSERT_TRUE(registry.unregisterClass(kClsid));
    EXPECT_FALSE(registry.findClass(kClsid));
    EXPECT_FALSE(registry.findProgId("MONVID.MonvidCtrl.1"));
    EXPECT_TRUE(registry.findClass(kPageClsid));    // the other class stays
    EXPECT_TRUE(registry.unregisterClass(kClsid));  // twice is fine
}

TEST_F(RegistryTest, ReRegisteringReplacesTheEntryAndItsProgId) {
    Registry registry;
    ASSERT_TRUE(registry.registerClass(controlEntry("/old/libmonvid.so")));
    ClassEntry moved = controlEntry("/new/libmonvid.so");
    moved.progId = "MONVID.MonvidCtrl.2";
    moved.typeLib.reset();
    ASSERT_TRUE(registry.registerClass(moved));
    const auto found = registry.findClass(kClsid);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->libraryPath, "/new/libmonvid.so");
    EXPECT_FALSE(found->typeLib);  // keys the new entry lacks are gone
    EXPECT_EQ(registry.findProgId("MONVID.MonvidCtrl.2"), kClsid);
    EXPECT_FALSE(registry.findProgId("MONVID.MonvidCtrl.1"));
    const std::string text = readFile(path_);
    EXPECT_EQ(text.find("CLSID\\{C979313E"), text.rfind("CLSID\\{C979313E"));  // one section
}

TEST_F(RegistryTest, RelativeLibraryPathsBecomeAbsoluteAndBadTextsAreRefused) {
    Registry registry;
    ASSERT_TRUE(registry.registerClass(controlEntry("lib/libmonvid.so")));
    EXPECT_EQ(registry.findClass(kClsid)->libraryPath,
              (std::filesystem::current_path() / "lib/libmonvid.so").string());
    const std::string before = readFile(path_);
    EXPECT_FALSE(registry.registerClass(controlEntry("")));
    EXPECT_FALSE(registry.registerClass(controlEntry("/x.so\n[CLSID\\{0}]")));
    ClassEntry badProgId = controlEntry();
    badProgId.progId = "A]B";
    EXPECT_FALSE(registry.registerClass(badProgId));
    ClassEntry badName = controlEntry();
    badName.typeName = "two\r\nlines";
    EXPECT_FALSE(registry.registerClass(badName));
    EXPECT_EQ(readFile(path_), before);
}

TEST_F(RegistryTest, TypeLibraryIsWrittenReadably) {
    Registry registry;
    EXPECT_FALSE(registry.hasTypeLib(kLibId, 1, 0));
    ASSERT_TRUE(registry.registerTypeLib(typeLib(), "/opt/monvid/libmonvid.so"));
    EXPECT_TRUE(registry.hasTypeLib(kLibId, 1, 0));
    EXPECT_FALSE(registry.hasTypeLib(kLibId, 2, 0));
    const std::string text = readFile(path_);
    for (const char* line : {
             "[TypeLib\\{A1761253-B3AA-4075-9E52-CE601C45AF2D}\\1.0]\n",
             "Name=MonvidLib\n",
             "Locale=0x0409\n",
             "Library=/opt/monvid/libmonvid.so\n",
             "Interfaces=_DMonvid,_DMonvidEvents\n",
             "Interface._DMonvid={7FF579A0-9526-4D7F-B6AE-7D2D6FAC2C48}\n",
             "_DMonvid.1=method void SetWindStyle(unsigned short nStyle)\n",
             "_DMonvid.3=method short startplayurl(unsigned char* strUrl, short nWindow)\n",
             "_DMonvid.5=property BSTR PicturesPath\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
    }
    ASSERT_TRUE(registry.unregisterTypeLib(kLibId, 1, 0));
    EXPECT_FALSE(registry.hasTypeLib(kLibId, 1, 0));
    EXPECT_TRUE(registry.unregisterTypeLib(kLibId, 1, 0));
}

TEST_F(RegistryTest, MissingFileIsNotCreatedByLookUpsOrRemovals) {
    Registry registry;
    EXPECT_FALSE(registry.findClass(kClsid));
    EXPECT_FALSE(registry.hasTypeLib(kLibId, 1, 0));
    EXPECT_TRUE(registry.unregisterClass(kClsid));
    EXPECT_TRUE(registry.unregisterTypeLib(kLibId, 1, 0));
    EXPECT_FALSE(std::filesystem::exists(path_));

    // The default folder is made on the first registration.
    const std::string nested = dir_.file("config/monvid/registry.ini");
    EXPECT_TRUE(Registry(nested).registerClass(controlEntry()));
    EXPECT_TRUE(Registry(nested).findClass(kClsid));
}

TEST_F(RegistryTest, DamagedFileIsReadForWhatItHoldsAndKept) {
    const std::string damaged =
        "garbage before any section\n"
        "[CLSID\\{C979313E-99A1-467A-8715-85F91ABF8F95}]\n"
        "InprocServer=/opt/monvid/libmonvid.so\n"
        "MiscStatus=not a number\n"
        "TypeLib={broken}\n"
        "\x01\x02\xff binary\n"
        "[ProgID\\Broken.1]\n"
        "CLSID=not a guid\n"
        "; a comment the user wrote\n"
        "[unterminated\n";
    writeFile(path_, damaged);
    Registry registry;
    const auto found = registry.findClass(kClsid);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->libraryPath, "/opt/monvid/libmonvid.so");
    EXPECT_EQ(found->miscStatus, 0u);
    EXPECT_FALSE(found->typeLib);
    EXPECT_FALSE(registry.findProgId("Broken.1"));

    ClassEntry page;
    page.clsid = kPageClsid;
    page.libraryPath = "/opt/monvid/libmonvid.so";
    ASSERT_TRUE(registry.registerClass(page));
    const std::string text = readFile(path_);
    EXPECT_EQ(text.substr(0, damaged.size()), damaged);  // everything kept, page added after
    EXPECT_TRUE(registry.findClass(kPageClsid));
}

TEST_F(RegistryTest, UnwritablePathFailsCleanly) {
    // A regular file where a folder should be.
    writeFile(dir_.file("plain"), "x");
    Registry underFile(dir_.file("plain/registry.ini"));
    EXPECT_FALSE(underFile.registerClass(controlEntry()));
    EXPECT_FALSE(underFile.registerTypeLib(typeLib(), "/opt/x.so"));
    EXPECT_FALSE(underFile.findClass(kClsid));
    // A folder where the file should be.
    std::filesystem::create_directory(dir_.file("folder.ini"));
    EXPECT_FALSE(Registry(dir_.file("folder.ini")).registerClass(controlEntry()));
    EXPECT_FALSE(Registry("/proc/monvid-registry.ini").registerClass(controlEntry()));

    if (::geteuid() != 0) {
        writeFile(path_, "[keep]\nthis=1\n");
        std::filesystem::permissions(path_, std::filesystem::perms::owner_write);
        EXPECT_FALSE(Registry().registerClass(controlEntry()));  // unreadable: left alone
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        EXPECT_EQ(readFile(path_), "[keep]\nthis=1\n");
    }
}
