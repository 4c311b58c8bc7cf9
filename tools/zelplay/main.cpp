// zelplay: plays record (.ifv) and AVI files in an X11 window with the playback library, and
// prints their facts. It uses only the library's public interface, so it also shows how an
// application drives a file port.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/session_env.h"
#include "zelplay_cli.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: zelplay [--loop] [--size WxH] [--speed X] [--no-progress] [--verbose]\n"
                 "               FILE.ifv|FILE.avi\n"
                 "       zelplay info [--json] [--offset N] FILE\n"
                 "       zelplay --help | --version\n"
                 "\n"
                 "Plays a record file or an AVI file in a window with its sound, and ends at the\n"
                 "end of the file (--loop starts it again). Keys:\n"
                 "  space  pause / resume        +  -   faster / slower (1/16 .. 16)\n"
                 "  .      one frame             left / right   10 s back / ahead\n"
                 "  Home   to the start          s  b   JPEG / BMP snapshot\n"
                 "  m      mute / unmute         q  Esc quit\n"
                 "--speed starts at 1/16, 1/8, 1/4, 1/2, 1, 2, 4, 8 or 16 times. --verbose shows\n"
                 "the library's and the H.264 decoder's messages, and how many pictures were\n"
                 "shown.\n"
                 "\n"
                 "info prints picture size, start, duration, frames, frame rate, bit rate and\n"
                 "whether there is sound (--json for one JSON object; --offset for a record\n"
                 "stored at a byte offset of its file).\n"
                 "\n"
                 "Exit codes: 0 done, 1 the file cannot be played (missing, unreadable, unknown\n"
                 "kind, damaged, or no picture in it decodes), 2 wrong usage, 3 no X display,\n"
                 "4 the library refused to play.\n");
}

bool parseNumber(const char* text, long long min, long long max, long long* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// 1/16 .. 16 in powers of two, as log2.
bool parseSpeed(const std::string& text, int* steps) {
    for (int s = -4; s <= 4; ++s) {
        const std::string name = s >= 0 ? std::to_string(1 << s) : "1/" + std::to_string(1 << -s);
        if (text == name) {
            *steps = s;
            return true;
        }
    }
    return false;
}

bool parseSize(const char* text, int* width, int* height) {
    unsigned w = 0, h = 0;
    char x = 0;
    if (std::sscanf(text, "%u%c%u", &w, &x, &h) != 3 || (x != 'x' && x != 'X') || w < 16 ||
        h < 16 || w > 8192 || h > 8192)
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    session::refuseBusAutolaunch();  // before SDL starts threads
    using namespace zelplaycli;
    std::vector<std::string> files;
    bool info = false;
    InfoOptions infoOptions;
    PlayOptions playOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return kExitOk;
        }
        if (arg == "--version") {
            const uint32_t v = ZelPlay_GetSdkVersion();
            std::printf("zelplay (libzelplay %u.%u.%u)\n", v >> 24, (v >> 16) & 0xFF, v & 0xFFFF);
            return kExitOk;
        }
        if ((arg == "--offset" || arg == "--size" || arg == "--speed") && i + 1 >= argc) {
            std::fprintf(stderr, "zelplay: %s needs a value\n", arg.c_str());
            return kExitUsage;
        }
        long long value = 0;
        if (i == 1 && arg == "info") {
            info = true;
        } else if (arg == "--json") {
            infoOptions.json = true;
        } else if (arg == "--loop") {
            playOptions.loop = true;
        } else if (arg == "--no-progress") {
            playOptions.progress = false;
        } else if (arg == "--verbose") {
            playOptions.verbose = true;
        } else if (arg == "--speed") {
            if (!parseSpeed(argv[++i], &playOptions.speedSteps)) {
                std::fprintf(stderr, "zelplay: bad speed '%s' (1/16 .. 16, powers of two)\n",
                             argv[i]);
                return kExitUsage;
            }
        } else if (arg == "--offset") {
            if (!parseNumber(argv[++i], 0, UINT32_MAX, &value)) {
                std::fprintf(stderr, "zelplay: bad offset '%s'\n", argv[i]);
                return kExitUsage;
            }
            infoOptions.baseOffset = static_cast<uint32_t>(value);
        } else if (arg == "--size") {
            if (!parseSize(argv[++i], &playOptions.width, &playOptions.height)) {
                std::fprintf(stderr, "zelplay: bad window size '%s' (WxH)\n", argv[i]);
                return kExitUsage;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "zelplay: unknown option '%s'\n", arg.c_str());
            usage(stderr);
            return kExitUsage;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 1) {
        usage(stderr);
        return kExitUsage;
    }
    return info ? runInfo(files[0], infoOptions) : runPlay(files[0], playOptions);
}
