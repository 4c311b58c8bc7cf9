// ifvtool: facts of record and AVI files, and conversion between records and common
// containers.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "ffmpeg_util.h"

namespace {

void usage(FILE* out) {
    fprintf(out,
            "usage: ifvtool info [--json] [--offset N] FILE\n"
            "       ifvtool export [--offset N] [--pcm] [--no-progress] FILE.ifv OUT.mp4|OUT.mkv\n"
            "       ifvtool import [--start SECONDS] [--no-progress] IN OUT.ifv\n"
            "       --verbose with any command shows FFmpeg's own messages\n"
            "\n"
            "info    start and end time, duration, frame counts, picture size, frame rate,\n"
            "        audio format and segments of a record (.ifv) or an AVI file\n"
            "export  the record's H.264 video copied as it is and its voice audio decoded and\n"
            "        stored as AAC (or PCM with --pcm, Matroska only)\n"
            "import  H.264 video of any input (MP4, MKV, AVI, Annex-B) into a record, its audio\n"
            "        resampled to 8 kHz mono and stored as voice frames\n");
}

bool parseNumber(const char* text, int64_t min, int64_t max, int64_t* out) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) {
        return false;
    }
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Line by line, so that the library's diagnostics (redirected to standard error while a
    // command runs) appear in order with the tool's own messages.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    av_log_set_level(AV_LOG_QUIET);
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        usage(stdout);
        return 0;
    }
    std::vector<std::string> files;
    ifvtool::InfoOptions info;
    ifvtool::ExportOptions exportOptions;
    ifvtool::ImportOptions importOptions;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        int64_t value = 0;
        if ((arg == "--offset" || arg == "--start") && i + 1 >= argc) {
            fprintf(stderr, "ifvtool: %s needs a value\n", arg.c_str());
            usage(stderr);
            return 2;
        }
        if (arg == "--json") {
            info.json = true;
        } else if (arg == "--pcm") {
            exportOptions.pcmAudio = true;
        } else if (arg == "--verbose") {
            av_log_set_level(AV_LOG_INFO);
        } else if (arg == "--no-progress") {
            exportOptions.progress = false;
            importOptions.progress = false;
        } else if (arg == "--offset") {
            if (!parseNumber(argv[++i], 0, UINT32_MAX, &value)) {
                fprintf(stderr, "ifvtool: bad offset '%s'\n", argv[i]);
                return 2;
            }
            info.baseOffset = static_cast<uint32_t>(value);
            exportOptions.baseOffset = static_cast<uint32_t>(value);
        } else if (arg == "--start") {
            if (!parseNumber(argv[++i], 0, UINT32_MAX, &value)) {
                fprintf(stderr, "ifvtool: bad start time '%s'\n", argv[i]);
                return 2;
            }
            importOptions.startTime = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "ifvtool: unknown option '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (command == "info" && files.size() == 1) {
        return ifvtool::runInfo(files[0], info);
    }
    if (command == "export" && files.size() == 2) {
        return ifvtool::runExport(files[0], files[1], exportOptions);
    }
    if (command == "import" && files.size() == 2) {
        return ifvtool::runImport(files[0], files[1], importOptions);
    }
    usage(stderr);
    return 2;
}
