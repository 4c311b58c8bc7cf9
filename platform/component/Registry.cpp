#include "Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>

#include "IniDocument.h"

namespace component {

namespace {

namespace fs = std::filesystem;
using platform::ini::IniDocument;
using platform::ini::LoadStatus;

constexpr const char* kFileComment =
    "Components registered for this user: \"monvid-regsvr LIBRARY\" adds a library's classes, "
    "\"monvid-regsvr -u LIBRARY\" removes them.";

std::string classSection(const Guid& clsid) {
    return "CLSID\\" + clsid.toString();
}
std::string progIdSection(const std::string& progId) {
    return "ProgID\\" + progId;
}
std::string typeLibSection(const Guid& libid, int major, int minor) {
    return "TypeLib\\" + libid.toString() + "\\" + std::to_string(major) + "." +
           std::to_string(minor);
}

std::string nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value && *value) ? std::string(value) : std::string();
}

// Holds an exclusive lock on the registry's folder while one process reads, changes and
// writes the file, so that two registrations at once do not lose one another's entries.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

// Reads the file, applies `change` and writes it back when anything changed. False when the
// file exists but cannot be read (it is then left alone) or cannot be written.
bool modifyFile(const std::string& path, const std::function<void(IniDocument&)>& change) {
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    fs::create_directories(folder, ec);  // the default folder may not exist yet
    FolderLock lock(folder);
    IniDocument document("\n");
    const LoadStatus status = IniDocument::load(path, document, "\n");
    if (status == LoadStatus::Failed)
        return false;
    if (status == LoadStatus::Missing)
        document.appendComment(kFileComment);
    const std::string before = document.text();
    change(document);
    const std::string after = document.text();
    if (after == before)
        return true;  // nothing changed: nothing written (and no file made)
    return platform::ini::writeFileReplacing(path, after);
}

// Sets the section's keys to `values` in their order, removing keys it had before that are
// not among them; other sections stay as they are.
void replaceSection(IniDocument& document, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values) {
    std::set<std::string> kept;
    for (const auto& [key, value] : values) {
        document.set(section, key, value);
        std::string lower = key;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        kept.insert(lower);
    }
    for (const auto& [key, value] : document.entries(section)) {
        std::string lower = key;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!kept.count(lower))
            document.removeKey(section, key);
    }
}

std::string memberLine(const MemberInfo& member) {
    if (member.kind == MemberKind::Property)
        return "property " + varTypeName(member.result) + " " + member.name;
    std::string line = "method " + varTypeName(member.result) + " " + member.name + "(";
    for (std::size_t i = 0; i < member.params.size(); ++i) {
        if (i > 0)
            line += ", ";
        line += varTypeName(member.params[i].type) + " " + member.params[i].name;
    }
    return line + ")";
}

std::string hex32(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace

Registry::Registry() : path_(defaultPath()) {}

Registry::Registry(std::string path) : path_(std::move(path)) {}

std::string Registry::defaultPath() {
    if (std::string overridden = nonEmptyEnv("MONVID_REGISTRY"); !overridden.empty())
        return overridden;
    std::string config = nonEmptyEnv("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') {
        std::string home = nonEmptyEnv("HOME");
        if (home.empty()) {
            if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
                home = user->pw_dir;
        }
        config = home + "/.config";
    }
    return config + "/monvid/registry.ini";
}

bool Registry::registerClass(const ClassEntry& entry) {
    if (entry.libraryPath.empty())
        return false;
    std::error_code ec;
    const std::string library = fs::absolute(entry.libraryPath, ec).lexically_normal().string();
    if (ec)
        return false;
    for (const std::string* text :
         {&library, &entry.progId, &entry.typeName, &entry.threadingModel, &entry.typeLibVersion}) {
        if (!IniDocument::validValue(*text))
            return false;
    }
    if (!entry.progId.empty() && !IniDocument::validSectionName(progIdSection(entry.progId)))
        return false;

    std::vector<std::pair<std::string, std::string>> values = {
        {"Name", entry.typeName},
        {"InprocServer", library},
        {"ThreadingModel", entry.threadingModel},
        {"MiscStatus", hex32(entry.miscStatus, 8)},
        {"Control", entry.isControl ? "1" : "0"},
    };
    if (!entry.progId.empty())
        values.emplace_back("ProgID", entry.progId);
    if (entry.typeLib) {
        values.emplace_back("TypeLib", entry.typeLib->toString());
        values.emplace_back("Version", entry.typeLibVersion);
    }
    const std::string section = classSection(entry.clsid);
    return modifyFile(path_, [&](IniDocument& document) {
        // A ProgID the class had before and no longer has stops pointing at it.
        if (const auto oldProgId = document.value(section, "ProgID");
            oldProgId && !platform::ini::equalsNoCase(*oldProgId, entry.progId) &&
            document.value(progIdSection(*oldProgId), "CLSID") == entry.clsid.toString())
            document.removeSection(progIdSection(*oldProgId));
        replaceSection(document, section, values);
        if (!entry.progId.empty())
            replaceSection(document, progIdSection(entry.progId),
                           {{"CLSID", entry.clsid.toString()}});
    });
}

bool Registry::unregisterClass(const Guid& clsid) {
    const std::string section = classSection(clsid);
    return modifyFile(path_, [&](IniDocument& document) {
        if (const auto progId = document.value(section, "ProgID")) {
            const auto target = document.value(progIdSection(*progId), "CLSID");
            if (target && Guid::parse(*target) == clsid)
                document.removeSection(progIdSection(*progId));
        }
        document.removeSection(section);
    });
}

std::optional<ClassEntry> Registry::findClass(const Guid& clsid) const {
    IniDocument document;
    if (IniDocument::load(path_, document) != LoadStatus::Loaded)
        return std::nullopt;
    const std::string section = classSection(clsid);
    if (!document.hasSection(section))
        return std::nullopt;
    ClassEntry entry;
    entry.clsid = clsid;
    for (const auto& [key, value] : document.entries(section)) {
        using platform::ini::equalsNoCase;
        if (equalsNoCase(key, "Name")) {
            entry.typeName = value;
        } else if (equalsNoCase(key, "InprocServer")) {
            entry.libraryPath = value;
        } else if (equalsNoCase(key, "ProgID")) {
            entry.progId = value;
        } else if (equalsNoCase(key, "ThreadingModel")) {
            entry.threadingModel = value;
        } else if (equalsNoCase(key, "MiscStatus")) {
            char* end = nullptr;
            const unsigned long status = std::strtoul(value.c_str(), &end, 0);
            entry.miscStatus = (end && *end == '\0') ? static_cast<std::uint32_t>(status) : 0;
        } else if (equalsNoCase(key, "Control")) {
            entry.isControl = value == "1";
        } else if (equalsNoCase(key, "TypeLib")) {
            entry.typeLib = Guid::parse(value);
        } else if (equalsNoCase(key, "Version")) {
            entry.typeLibVersion = value;
        }
    }
    return entry;
}

std::optional<Guid> Registry::findProgId(const std::string& progId) const {
    if (progId.empty())
        return std::nullopt;
    IniDocument document;
    if (IniDocument::load(path_, document) != LoadStatus::Loaded)
        return std::nullopt;
    const auto clsid = document.value(progIdSection(progId), "CLSID");
    return clsid ? Guid::parse(*clsid) : std::nullopt;
}

bool Registry::registerTypeLib(const TypeLibInfo& typeLib, const std::string& libraryPath) {
    std::error_code ec;
    const std::string library = fs::absolute(libraryPath, ec).lexically_normal().string();
    if (ec || libraryPath.empty() || !IniDocument::validValue(library) ||
        !IniDocument::validValue(typeLib.name))
        return false;
    std::vector<std::pair<std::string, std::string>> values = {
        {"Name", typeLib.name},
        {"Locale", hex32(typeLib.locale, 4)},
        {"Library", library},
    };
    std::string names;
    for (const InterfaceInfo& interface : typeLib.interfaces) {
        if (!IniDocument::validKeyName("Interface." + interface.name) ||
            interface.name.find_first_of(" \t,") != std::string::npos)
            return false;
        names += (names.empty() ? "" : ",") + interface.name;
    }
    values.emplace_back("Interfaces", names);
    for (const InterfaceInfo& interface : typeLib.interfaces) {
        values.emplace_back("Interface." + interface.name, interface.iid.toString());
        for (const MemberInfo& member : interface.members) {
            const std::string line = memberLine(member);
            if (!IniDocument::validValue(line))
                return false;
            values.emplace_back(interface.name + "." + std::to_string(member.dispid), line);
        }
    }
    const std::string section =
        typeLibSection(typeLib.libid, typeLib.majorVersion, typeLib.minorVersion);
    return modifyFile(path_,
                      [&](IniDocument& document) { replaceSection(document, section, values); });
}

bool Registry::unregisterTypeLib(const Guid& libid, int majorVersion, int minorVersion) {
    const std::string section = typeLibSection(libid, majorVersion, minorVersion);
    return modifyFile(path_, [&](IniDocument& document) { document.removeSection(section); });
}

bool Registry::hasTypeLib(const Guid& libid, int majorVersion, int minorVersion) const {
    IniDocument document;
    if (IniDocument::load(path_, document) != LoadStatus::Loaded)
        return false;
    return document.hasSection(typeLibSection(libid, majorVersion, minorVersion));
}

}  // namespace component
