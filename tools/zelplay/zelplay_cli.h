// The zelplay commands. Each returns the process exit code and reports problems on standard
// error.
#pragma once

#include <cstdint>
#include <string>

#include "zelplay.h"

namespace zelplaycli {

enum ExitCode {
    kExitOk = 0,
    kExitBadFile = 1,  // missing, unreadable, of an unknown kind, or not readable as its kind
    kExitUsage = 2,
    kExitNoDisplay = 3,
    kExitFailed = 4,  // the library refused to play
};

// Checks that path names a file zelplay can take; prints why not and returns false.
bool checkFile(const std::string& path);

struct InfoOptions {
    bool json = false;
    uint32_t baseOffset = 0;
};
int runInfo(const std::string& path, const InfoOptions& options);

struct PlayOptions {
    bool loop = false;
    bool progress = true;  // a progress line on standard error when it is a terminal
    bool verbose = false;  // the library's and the decoder's messages, and a summary
    int speedSteps = 0;    // log2 of the speed to play at, -4 .. 4
    int width = 0;         // window size; 0: the picture's, at most 960 x 540
    int height = 0;
};
int runPlay(const std::string& path, const PlayOptions& options);

// Snapshots and sound (snapshot_sound.cpp): each returns false when the library refuses.
bool saveSnapshot(ZELPLAY_PORT port, const std::string& path, bool jpeg);
bool startSound(ZELPLAY_PORT port);
bool setMuted(ZELPLAY_PORT port, bool muted);

// "mm:ss.d" of a time in ms.
std::string clockText(uint32_t ms);

}  // namespace zelplaycli
