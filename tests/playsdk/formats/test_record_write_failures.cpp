// The record writer when the file cannot take what is written: a full device and a file-size
// limit. Every failure must reach the caller, never be reported as success.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "format_handles.h"
#include "support/media.h"

using zelplay::formats::RecordPtr;

namespace {

custommp4_t* openVideoRecord(const char* path, uint32_t videoEntries, uint32_t audioEntries) {
    custommp4_t* w = custommp4_open(path, CUSTOMMP4_MODE_CREATE, 0);
    if (w == nullptr) {
        return nullptr;
    }
    if (custommp4_set_start_time(w, 1700000000) != 1 ||
        custommp4_set_index_capacity(w, videoEntries, audioEntries) != 1 ||
        custommp4_set_video_format(w, 320, 240, 25.0f, 0, "H264") != 1) {
        custommp4_destroy(w);
        return nullptr;
    }
    return w;
}

// Runs body in a child process with the file-size limit and SIGXFSZ ignored, so that a write
// past the limit fails with EFBIG instead of ending the process; returns its exit code.
template <typename Body>
int inChildWithFileSizeLimit(rlim_t limit, Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) {
            _exit(100);
        }
        _exit(body());
    }
    if (pid < 0) {
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(RecordWriteFailures, FullDeviceFailsTheFrameAndTheClose) {
    std::vector<uint8_t> frame(100, 0x41);
    testing::internal::CaptureStdout();
    custommp4_t* w = openVideoRecord("/dev/full", 3000, 4000);
    int first = w != nullptr ? custommp4_write_video_frame(w, frame.data(), 100, 0, 5) : -1;
    int firstError = w != nullptr ? custommp4_write_error(w) : -1;
    int second = w != nullptr ? custommp4_write_video_frame(w, frame.data(), 100, 40, 1) : -1;
    int error = 0;
    int closed = w != nullptr ? custommp4_close_checked(w, &error) : -1;
    // The plain close keeps returning 1 whatever happened.
    custommp4_t* plain = openVideoRecord("/dev/full", 1, 1);
    int plainFrame =
        plain != nullptr ? custommp4_write_video_frame(plain, frame.data(), 100, 0, 5) : -1;
    int plainClosed = plain != nullptr ? custommp4_close(plain) : -1;
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(first, 0);
    EXPECT_EQ(firstError, ENOSPC);
    EXPECT_EQ(second, 0);  // no frame is taken after a failure
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(plainFrame, 0);
    EXPECT_EQ(plainClosed, 1);
    EXPECT_NE(out.find("custommp4_write_video_frame:write error,errno=28,errstr=No space left on "
                       "device\n"),
              std::string::npos)
        << out;
}

TEST(RecordWriteFailures, FileSizeLimitStopsTheWriterAndLeavesAReadableRecord) {
    testsupport::TempDir dir;
    std::string path = dir.file("limited.ifv");
    // Segments of 10 frames (48 + 280 bytes of index) and 1000-byte frames: the limit of
    // 40 KiB is reached after a few segments.
    int code = inChildWithFileSizeLimit(40 * 1024, [&] {
        custommp4_t* w = openVideoRecord(path.c_str(), 10, 1);
        if (w == nullptr) {
            return 10;
        }
        std::vector<uint8_t> frame(1000, 0x41);
        int taken = 0;
        while (taken < 200 && custommp4_write_video_frame(w, frame.data(), 1000, taken * 40,
                                                          taken % 10 == 0 ? 5 : 1) == 1) {
            ++taken;
        }
        if (taken == 200 || custommp4_write_error(w) != EFBIG) {
            return 11;
        }
        int error = 0;
        if (custommp4_close_checked(w, &error) != 0 || error != EFBIG) {
            return 12;
        }
        return taken >= 20 ? 0 : 13;
    });
    ASSERT_EQ(code, 0);
    // What the file holds opens as a record, and the frames it lists read or fail cleanly.
    testing::internal::CaptureStdout();
    RecordPtr h(custommp4_open(path.c_str(), CUSTOMMP4_MODE_READ, 0));
    ASSERT_TRUE(h);
    EXPECT_GE(custommp4_video_frames(h.get()), 10u);
    std::vector<uint8_t> buf(1000);
    for (uint32_t i = 0; i < custommp4_video_frames(h.get()); ++i) {
        int n = custommp4_read_video_frame(h.get(), buf.data(), 1000, nullptr, nullptr, nullptr);
        EXPECT_TRUE(n == 0 || n == 1000) << i;
    }
    testing::internal::GetCapturedStdout();
}
