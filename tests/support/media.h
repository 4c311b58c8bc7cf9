// Generated test media (tests/support/make_media.sh) and scratch folders.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// Folder of the generated media: $MONVID_TEST_MEDIA, else the build's test-media folder.
std::filesystem::path mediaDir();

// Full path of one generated file, e.g. mediaPath("short.mp4"). Generates the media first
// when the folder lacks the file (a test run outside ctest).
std::string mediaPath(const std::string& name);

// Encodes `seconds` of FFmpeg's moving test pattern at 1280 × 720, 25 fps, as H.264 with a
// key frame every 2 s, into `path`. False when ffmpeg failed.
bool makeHdTestClip(const std::string& path, int seconds);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace testsupport
