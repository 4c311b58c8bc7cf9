// Where a snapshot goes: the folder and file named by the caller's path, or the default
// snapshot folder for a bare file name, and the making of missing folders.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelplay {

inline constexpr char kPathSeparator = '/';
inline constexpr const char* kSnapshotFolderName = "SnapShotFile";

struct SnapshotTarget {
    std::string folder;  // made if missing
    std::string file;    // written
    bool operator==(const SnapshotTarget&) const = default;
};

// A separator after the first character splits path into its folder (before the last one)
// and the file at path itself; a path without one is a file name in defaultFolder.
SnapshotTarget snapshotTarget(std::string_view path, std::string_view defaultFolder);

// The prefixes of folder, part by part, each ending in a separator: "/a/b" gives "/", "/a/",
// "/a/b/"; "a/b" gives "a/", "a/b/".
std::vector<std::string> folderPrefixes(std::string_view folder);

// "$HOME/SnapShotFile" (the home folder from the user database when HOME is not set).
std::string defaultSnapshotFolder();

// Walks the prefixes of folder and makes each that does not exist; false when one cannot be
// made, or folder is empty. A prefix that exists as a file is left for the write to fail on.
bool ensureFolder(const std::string& folder);

}  // namespace zelplay
