// vidwall's first run for a user. The control is found through the per-user registry; when
// it cannot be created from there (not registered yet, or registered from a library that is
// gone), vidwall registers the control library it was installed with and tries again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Registration.h"

namespace vidwall {

// The running program's own file, from /proc/self/exe (never looked up on PATH); empty when
// it cannot be read.
std::filesystem::path programPath();

// Where the control library vidwall was installed with may lie, nearest first: beside the
// program (the build tree links it there), then the installed library folder as seen from
// the installed program folder (bin/ → lib/<triplet>/).
std::vector<std::filesystem::path> controlLibraryCandidates(
    const std::filesystem::path& programDir);

struct InstalledControlRegistration {
    bool found = false;                             // a candidate exists
    std::vector<std::filesystem::path> candidates;  // what was looked for
    component::RegistrationOutcome outcome;         // of the first candidate that exists
};

// Registers the first candidate that exists for this user.
InstalledControlRegistration registerInstalledControl(const std::filesystem::path& programDir);

}  // namespace vidwall
