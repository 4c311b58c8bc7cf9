#include "support/media.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "support/process.h"

namespace testsupport {

std::filesystem::path mediaDir() {
    if (const char* dir = std::getenv("MONVID_TEST_MEDIA"); dir && *dir)
        return dir;
    return MONVID_TEST_MEDIA_DIR;
}

bool makeHdTestClip(const std::string& path, int seconds) {
    return runCommand({"ffmpeg",    "-hide_banner",
                       "-loglevel", "error",
                       "-nostdin",  "-y",
                       "-f",        "lavfi",
                       "-i",        "testsrc2=size=1280x720:rate=25",
                       "-t",        std::to_string(seconds),
                       "-c:v",      "libx264",
                       "-preset",   "veryfast",
                       "-pix_fmt",  "yuv420p",
                       "-g",        "50",
                       path},
                      300000) == 0;
}

std::string mediaPath(const std::string& name) {
    const auto path = mediaDir() / name;
    if (!std::filesystem::exists(path)) {
        const std::string script = std::string(MONVID_TEST_SUPPORT_DIR) + "/make_media.sh";
        if (runCommand({script, mediaDir().string()}, 600000) != 0)
            throw std::runtime_error("could not generate test media in " + mediaDir().string());
    }
    return path.string();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "monvid-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
