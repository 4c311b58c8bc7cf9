#include "FirstRun.h"

namespace vidwall {

namespace fs = std::filesystem;

fs::path programPath() {
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : path;
}

std::vector<fs::path> controlLibraryCandidates(const fs::path& programDir) {
    const fs::path name = MONVID_CONTROL_LIBRARY_NAME;
    return {programDir / name, (programDir / MONVID_BINDIR_TO_LIBDIR / name).lexically_normal()};
}

InstalledControlRegistration registerInstalledControl(const fs::path& programDir) {
    InstalledControlRegistration result;
    result.candidates = controlLibraryCandidates(programDir);
    for (const fs::path& candidate : result.candidates) {
        std::error_code ec;
        if (!fs::exists(candidate, ec))
            continue;
        result.found = true;
        result.outcome = component::runSelfRegistration(candidate.string());
        break;
    }
    return result;
}

}  // namespace vidwall
