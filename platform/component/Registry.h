// The per-user registry of components: a plain INI file holding, per class identifier, the
// library path, ProgID, type name, threading model, miscellaneous status and type library,
// and per type library its description. The file is $MONVID_REGISTRY when set, else
// $XDG_CONFIG_HOME/monvid/registry.ini ($HOME/.config when XDG_CONFIG_HOME is unset).
//
// A missing file reads as empty. A damaged file (lines that are neither sections, keys nor
// comments) is read for what it holds; writes keep what they do not change. GUI thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Guid.h"
#include "TypeInfo.h"

namespace component {

struct ClassEntry {
    Guid clsid;
    std::string libraryPath;     // absolute path of the component library
    std::string progId;          // e.g. "MONVID.MonvidCtrl.1"; may be empty
    std::string typeName;        // e.g. "Monvid Control"
    std::string threadingModel;  // "Apartment"
    std::uint32_t miscStatus = 0;
    bool isControl = false;       // an embeddable control (not a property page)
    std::optional<Guid> typeLib;  // the type library it belongs to
    std::string typeLibVersion;   // "1.0"
};

class Registry {
  public:
    // The registry at the default path (see above).
    Registry();
    explicit Registry(std::string path);
    static std::string defaultPath();
    const std::string& path() const { return path_; }

    // Adds or replaces the class (and its ProgID). False when the file cannot be read or
    // written, when libraryPath is empty, or when a text holds a line break (or the ProgID a
    // "]"). A relative libraryPath is made absolute.
    bool registerClass(const ClassEntry& entry);
    // Removes the class and its ProgID; true also when it was not registered (nothing is
    // written then).
    bool unregisterClass(const Guid& clsid);
    std::optional<ClassEntry> findClass(const Guid& clsid) const;
    std::optional<Guid> findProgId(const std::string& progId) const;

    // Writes the type library's description: its name, locale, library and, per interface,
    // one readable line per member ("method short startplayurl(unsigned char* strUrl, ...)").
    bool registerTypeLib(const TypeLibInfo& typeLib, const std::string& libraryPath);
    // True also when it was not registered (see hasTypeLib).
    bool unregisterTypeLib(const Guid& libid, int majorVersion, int minorVersion);
    bool hasTypeLib(const Guid& libid, int majorVersion, int minorVersion) const;

  private:
    std::string path_;
};

}  // namespace component
