#include "snapshot_path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace zelplay {

SnapshotTarget snapshotTarget(std::string_view path, std::string_view defaultFolder) {
    const size_t last =
        path.size() > 1 ? path.find_last_of(kPathSeparator) : std::string_view::npos;
    if (last != std::string_view::npos && last >= 1)
        return {std::string(path.substr(0, last)), std::string(path)};
    std::string folder(defaultFolder);
    std::string file = folder;
    if (path.empty() || path.front() != kPathSeparator)
        file += kPathSeparator;
    file += path;
    return {std::move(folder), std::move(file)};
}

std::vector<std::string> folderPrefixes(std::string_view folder) {
    std::vector<std::string> prefixes;
    std::string prefix;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find(kPathSeparator, start);
        if (end == std::string_view::npos)
            end = folder.size();
        const std::string_view part = folder.substr(start, end - start);
        if (!part.empty()) {
            prefix.append(part);
            prefix += kPathSeparator;
            prefixes.push_back(prefix);
        } else if (start == 0 && end < folder.size()) {
            prefix = kPathSeparator;  // the root of an absolute path
            prefixes.push_back(prefix);
        }
        start = end + 1;
    }
    return prefixes;
}

std::string defaultSnapshotFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            home = found->pw_dir;
    }
    while (home.size() > 1 && home.back() == kPathSeparator)
        home.pop_back();
    if (home != std::string(1, kPathSeparator))
        home += kPathSeparator;
    return home + kSnapshotFolderName;
}

bool ensureFolder(const std::string& folder) {
    if (folder.empty())
        return false;
    for (const std::string& prefix : folderPrefixes(folder)) {
        struct stat st {};
        if (::stat(prefix.c_str(), &st) == 0)
            continue;  // a folder, or a file the write will fail on
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

}  // namespace zelplay
