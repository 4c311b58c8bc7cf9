// ifvtool on media made by FFmpeg at test time: import, export and info.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "format_handles.h"
#include "support/media.h"
#include "support/process.h"

using zelplay::formats::RecordPtr;

namespace {

std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    pclose(pipe);
    return out;
}

int tool(const std::vector<std::string>& args, const std::string& log = {}) {
    std::vector<std::string> argv = {IFVTOOL_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runCommand(argv, 120000, log);
}

bool ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel",
                                     "error",  "-nostdin",     "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runCommand(argv, 120000) == 0;
}

// Per video packet: size and MD5 of the bytes, as FFmpeg's stream copy sees them.
std::vector<std::string> packetDigests(const std::string& path) {
    std::istringstream in(
        capture("ffmpeg -v error -i '" + path + "' -map 0:v:0 -c copy -f framemd5 - 2>/dev/null"));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        // stream, dts, pts, duration, size, md5: keep size and md5.
        auto pos = line.find(',');
        for (int i = 0; i < 3 && pos != std::string::npos; ++i) {
            pos = line.find(',', pos + 1);
        }
        out.push_back(pos == std::string::npos ? line : line.substr(pos + 1));
    }
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// MD5 of every decoded picture of the first video stream, in presentation order.
std::vector<std::string> pictureDigests(const std::string& path) {
    std::istringstream in(capture("ffmpeg -v error -i '" + path +
                                  "' -map 0:v:0 -fps_mode passthrough -f framemd5 - 2>/dev/null"));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            out.push_back(line.substr(line.rfind(',') + 1));
        }
    }
    return out;
}

// Waits for a child with a generous deadline; its exit code, or -1.
int waitChild(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// The tool under a file-size limit with SIGXFSZ ignored, so that writing past the limit fails
// with EFBIG; standard error goes to logPath.
int toolWithFileSizeLimit(std::vector<std::string> args, rlim_t limit, const std::string& logPath) {
    args.insert(args.begin(), IFVTOOL_EXE);
    std::vector<char*> argv = argvOf(args);
    pid_t pid = fork();
    if (pid == 0) {
        FILE* log = fopen(logPath.c_str(), "w");
        if (log == nullptr) {
            _exit(127);
        }
        dup2(fileno(log), STDERR_FILENO);
        signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid < 0 ? -1 : waitChild(pid);
}

// The tool on a terminal (a pseudo-terminal), as a user sees it: everything it writes there.
std::string toolOnTerminal(std::vector<std::string> args, int* code) {
    args.insert(args.begin(), IFVTOOL_EXE);
    std::vector<char*> argv = argvOf(args);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string out;
    if (pid < 0) {
        *code = -1;
        return out;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    char buf[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) {
            continue;
        }
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            break;  // the child closed the terminal
        }
        out.append(buf, static_cast<size_t>(n));
    }
    *code = waitChild(pid);
    close(master);
    return out;
}

class Ifvtool : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testsupport::TempDir>();
        ASSERT_TRUE(
            ffmpeg({"-f",      "lavfi",    "-i",          "testsrc2=size=320x240:rate=25",
                    "-f",      "lavfi",    "-i",          "sine=frequency=440:sample_rate=48000",
                    "-t",      "4",        "-c:v",        "libx264",
                    "-preset", "veryfast", "-pix_fmt",    "yuv420p",
                    "-g",      "25",       "-bf",         "0",
                    "-c:a",    "aac",      "-ac",         "2",
                    "-f",      "mp4",      path("in.mp4")}));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string path(const std::string& name) { return dir_->file(name); }
    static std::unique_ptr<testsupport::TempDir> dir_;
};
std::unique_ptr<testsupport::TempDir> Ifvtool::dir_;

}  // namespace

TEST_F(Ifvtool, Mp4ToRecordToMp4KeepsEveryVideoPacket) {
    ASSERT_EQ(tool({"import", "--start", "1700000000", path("in.mp4"), path("rt.ifv")}), 0);
    ASSERT_EQ(tool({"export", path("rt.ifv"), path("rt.mp4")}), 0);
    auto before = packetDigests(path("in.mp4"));
    auto after = packetDigests(path("rt.mp4"));
    ASSERT_EQ(before.size(), 100u);
    EXPECT_EQ(after, before);
    // The export decodes without a complaint, video and audio.
    std::string errors = capture("ffmpeg -v error -i '" + path("rt.mp4") + "' -f null - 2>&1");
    EXPECT_EQ(errors, "");
    std::string streams = capture("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" +
                                  path("rt.mp4") + "'");
    EXPECT_EQ(streams, "h264\naac\n");
}

TEST_F(Ifvtool, ImportedRecordIsWhatTheReaderExpects) {
    ASSERT_EQ(tool({"import", "--start", "1700000000", path("in.mp4"), path("r.ifv")}), 0);
    RecordPtr h(custommp4_open(path("r.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_start_time(h.get()), 1700000000u);
    EXPECT_EQ(custommp4_video_frames(h.get()), 100u);
    EXPECT_EQ(custommp4_video_width(h.get()), 320);
    EXPECT_FLOAT_EQ(custommp4_video_frame_rate(h.get()), 25.0f);
    // 4 s of audio in 40-ms voice frames (the last one padded).
    EXPECT_NEAR(custommp4_audio_frames(h.get()), 100u, 2u);
    EXPECT_EQ(custommp4_audio_frame_size(h.get()), 324);
    std::vector<uint8_t> buf(1 << 20);
    for (uint32_t i = 0; i < 100; ++i) {
        uint32_t ts = 0;
        uint8_t type = 0;
        int n = custommp4_read_video_frame(h.get(), buf.data(), static_cast<int>(buf.size()), &ts,
                                           nullptr, &type);
        ASSERT_GT(n, 5);
        EXPECT_EQ(ts, i * 40);
        // Key frames every 25 frames, typed 5 and opening with a start code and an SPS.
        EXPECT_EQ(type, i % 25 == 0 ? 5 : 1) << i;
        if (type == 5) {
            EXPECT_EQ(buf[0] | buf[1] | buf[2], 0);
            EXPECT_EQ(buf[3], 1);
            EXPECT_EQ(buf[4] & 0x1F, 7);
        }
    }
    uint32_t ts = 0;
    int32_t dur = 0;
    ASSERT_EQ(custommp4_read_audio_frame(h.get(), buf.data(), 1024, &ts, &dur), 324);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(buf[2], 0xA0);  // 160 words: an A-law frame of 320 samples
    EXPECT_EQ(dur, 40);
    // Seeking in the imported record lands on key frames.
    ASSERT_EQ(custommp4_seek_to_time_stamp(h.get(), 3000), 1);
    EXPECT_EQ(custommp4_video_position(h.get()), 50u);
}

TEST_F(Ifvtool, ImportsFromOtherContainers) {
    ASSERT_TRUE(ffmpeg({"-i", path("in.mp4"), "-map", "0:v", "-c", "copy", "-bsf:v",
                        "h264_mp4toannexb", "-f", "h264", path("raw.h264")}));
    ASSERT_TRUE(ffmpeg({"-i", path("in.mp4"), "-c:v", "copy", "-c:a", "pcm_s16le", "-bsf:v",
                        "h264_mp4toannexb", path("in.avi")}));
    ASSERT_TRUE(ffmpeg({"-i", path("in.mp4"), "-c", "copy", path("in.mkv")}));
    for (const char* input : {"raw.h264", "in.avi", "in.mkv"}) {
        std::string out = path(std::string(input) + ".ifv");
        ASSERT_EQ(tool({"import", path(input), out}), 0) << input;
        RecordPtr h(custommp4_open(out.c_str(), 0, 0));
        ASSERT_TRUE(h) << input;
        EXPECT_EQ(custommp4_video_frames(h.get()), 100u) << input;
        // Every container gives the same access units once they are in Annex-B form.
        ASSERT_EQ(tool({"export", out, path(std::string(input) + ".mp4")}), 0);
        EXPECT_EQ(packetDigests(path(std::string(input) + ".mp4")), packetDigests(path("in.mp4")))
            << input;
    }
}

TEST_F(Ifvtool, InfoReportsRecordAndAviFacts) {
    ASSERT_EQ(tool({"import", "--start", "1700000000", path("in.mp4"), path("i.ifv")}), 0);
    std::string json = capture(std::string(IFVTOOL_EXE) + " info --json '" + path("i.ifv") + "'");
    EXPECT_NE(json.find("\"type\": \"record\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"start_time\": 1700000000"), std::string::npos);
    EXPECT_NE(json.find("\"start_utc\": \"2023-11-14T22:13:20Z\""), std::string::npos);
    EXPECT_NE(json.find("\"video_frames\": 100"), std::string::npos);
    EXPECT_NE(json.find("\"segments\": 1"), std::string::npos);
    EXPECT_NE(json.find("\"segment_list\": [{\"first_ms\": 0, \"last_ms\": "), std::string::npos);
    std::string lines = capture(std::string(IFVTOOL_EXE) + " info '" + path("i.ifv") + "'");
    EXPECT_NE(lines.find("\nsegment 1: 0-"), std::string::npos) << lines;
    EXPECT_NE(lines.find(" ms, 100 video, "), std::string::npos) << lines;
    EXPECT_NE(json.find("\"audio_codec\": \"PCMA\""), std::string::npos);
    EXPECT_EQ(json.back(), '\n');
    EXPECT_EQ(json.find('\n'), json.size() - 1);  // one line, nothing else on stdout

    ASSERT_TRUE(ffmpeg({"-i", path("in.mp4"), "-c:v", "copy", "-c:a", "pcm_s16le", "-bsf:v",
                        "h264_mp4toannexb", path("info.avi")}));
    std::string text = capture(std::string(IFVTOOL_EXE) + " info '" + path("info.avi") + "'");
    EXPECT_NE(text.find("type: avi\n"), std::string::npos) << text;
    // A stream copy from MP4 gives the AVI a 1/50 s time base, so FFmpeg writes an empty
    // chunk between the frames: 200 index entries, half of them empty, still 4 s long.
    EXPECT_NE(text.find("video_frames: 200\n"), std::string::npos);
    EXPECT_NE(text.find("duration_ms: 4000\n"), std::string::npos);
    EXPECT_NE(text.find("width: 320\n"), std::string::npos);
    EXPECT_NE(text.find("audio_tracks: 1\n"), std::string::npos);
}

TEST_F(Ifvtool, BadInputsFailWithAMessage) {
    std::string log = path("err.log");
    testsupport::runCommand({"sh", "-c", "printf 'not media at all' > '" + path("junk.ifv") + "'"},
                            5000);
    EXPECT_EQ(tool({"info", path("junk.ifv")}, log), 1);
    EXPECT_EQ(tool({"info", path("missing.ifv")}, log), 1);
    EXPECT_EQ(tool({"export", path("junk.ifv"), path("x.mp4")}, log), 1);
    EXPECT_EQ(tool({"export", path("junk.ifv"), path("x.avi")}, log), 2);
    EXPECT_EQ(tool({"import", path("junk.ifv"), path("x.ifv")}, log), 1);
    EXPECT_EQ(tool({"frobnicate"}, log), 2);
    // Audio only: no H.264 video to import.
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine", "-t", "1", path("tone.m4a")}));
    EXPECT_EQ(tool({"import", path("tone.m4a"), path("tone.ifv")}, log), 1);
    // A record without frames has nothing to export.
    custommp4_t* empty = custommp4_open(path("empty.ifv").c_str(), 1, 0);
    ASSERT_NE(empty, nullptr);
    custommp4_close(empty);
    EXPECT_EQ(tool({"export", path("empty.ifv"), path("empty.mp4")}, log), 1);
}

TEST_F(Ifvtool, ExportToMatroskaWithPcmAudio) {
    ASSERT_EQ(tool({"import", path("in.mp4"), path("m.ifv")}), 0);
    ASSERT_EQ(tool({"export", "--pcm", path("m.ifv"), path("m.mkv")}), 0);
    std::string streams = capture(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate "
        "-of csv=p=0 '" +
        path("m.mkv") + "'");
    EXPECT_EQ(streams, "h264\npcm_s16le,8000\n");
    EXPECT_EQ(packetDigests(path("m.mkv")), packetDigests(path("in.mp4")));
    // The decoded voice carries the tone: its level is far from silence.
    std::string level = capture("ffmpeg -v info -i '" + path("m.mkv") +
                                "' -map 0:a -af volumedetect -f null - 2>&1 | grep mean_volume");
    ASSERT_NE(level.find("mean_volume:"), std::string::npos);
    double mean = std::stod(level.substr(level.find("mean_volume:") + 12));
    EXPECT_GT(mean, -30.0);
    EXPECT_EQ(tool({"export", "--pcm", path("m.ifv"), path("m.mp4")}), 2);
}

// B-frames: frames are stored in decoding order with rising stamps, and the export restores
// presentation times that decode to every picture of the source, in order.
TEST_F(Ifvtool, BFramesSurviveImportAndExport) {
    ASSERT_TRUE(
        ffmpeg({"-f",      "lavfi",    "-i",          "testsrc2=size=320x240:rate=25",
                "-f",      "lavfi",    "-i",          "sine=frequency=440:sample_rate=48000",
                "-t",      "5",        "-c:v",        "libx264",
                "-preset", "veryfast", "-pix_fmt",    "yuv420p",
                "-g",      "50",       "-bf",         "2",
                "-c:a",    "aac",      path("bf.mp4")}));
    ASSERT_TRUE(ffmpeg({"-i", path("bf.mp4"), "-c", "copy", path("bf.mkv")}));
    auto source = pictureDigests(path("bf.mp4"));
    ASSERT_EQ(source.size(), 125u);
    for (const char* input : {"bf.mp4", "bf.mkv"}) {
        std::string record = path(std::string(input) + ".ifv");
        ASSERT_EQ(tool({"import", path(input), record}), 0) << input;
        RecordPtr h(custommp4_open(record.c_str(), 0, 0));
        ASSERT_TRUE(h);
        ASSERT_EQ(custommp4_video_frames(h.get()), 125u);
        int64_t previous = -1;
        for (uint32_t i = 0; i < 125; ++i) {
            uint32_t ts = 0;
            custommp4_read_video_frame(h.get(), nullptr, 0, &ts, nullptr, nullptr);
            EXPECT_GT(static_cast<int64_t>(ts), previous) << input << " frame " << i;
            previous = ts;
        }
        for (const char* ext : {".mp4", ".mkv"}) {
            std::string out = path(std::string(input) + ext);
            ASSERT_EQ(tool({"export", record, out}), 0) << out;
            EXPECT_EQ(pictureDigests(out), source) << out;
            std::string errors = capture("ffmpeg -v error -i '" + out + "' -f null - 2>&1");
            EXPECT_EQ(errors, "") << out;
        }
    }
}

TEST_F(Ifvtool, WriteFailureFailsTheImportAndNamesTheFile) {
    std::string log = path("limit.log");
    std::string record = path("limited.ifv");
    EXPECT_EQ(toolWithFileSizeLimit({"import", path("in.mp4"), record}, 40 * 1024, log), 1);
    std::string err = readFile(log);
    EXPECT_NE(err.find("ifvtool: writing " + record + " failed: File too large\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("frames written"), std::string::npos) << err;
    // What reached the file is still a record.
    RecordPtr h(custommp4_open(record.c_str(), 0, 0));
    EXPECT_TRUE(h);
}

TEST_F(Ifvtool, MessagesAreTheToolsOwnAndEachSaidOnce) {
    ASSERT_EQ(tool({"import", path("in.mp4"), path("msg.ifv")}), 0);
    // Standard output and error of one run (the log is appended to: one file per run).
    int runs = 0;
    auto messages = [&](const std::vector<std::string>& args, int* code) {
        std::string log = path("msg" + std::to_string(++runs) + ".log");
        *code = tool(args, log);
        return readFile(log);
    };
    int code = -1;
    std::string err = messages({"export", path("msg.ifv"), path("msg.mp4")}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(err, "ifvtool: 100 video frames written to " + path("msg.mp4") + "\n");
    err = messages({"export", "--verbose", path("msg.ifv"), path("msg2.mp4")}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(err.find("[aac @"), std::string::npos) << err;  // FFmpeg's own lines

    // The library's complaint about a record that is none, once and in order.
    testsupport::runCommand({"sh", "-c", "printf 'not a record' > '" + path("bad.ifv") + "'"},
                            5000);
    err = messages({"export", path("bad.ifv"), path("bad.mp4")}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(err, "ReadFilePropertiesObject failed 1\nifvtool: " + path("bad.ifv") +
                       " is not a readable record file\n");

    for (const char* option : {"--offset", "--start"}) {
        err = messages({"info", path("msg.ifv"), option}, &code);
        EXPECT_EQ(code, 2);
        EXPECT_EQ(err.rfind(std::string("ifvtool: ") + option + " needs a value\n", 0), 0u) << err;
    }
}

TEST_F(Ifvtool, SummaryFollowsTheFinishedProgressBar) {
    int code = -1;
    std::string screen = toolOnTerminal({"import", path("in.mp4"), path("tty.ifv")}, &code);
    EXPECT_EQ(code, 0);
    size_t summary = screen.find("ifvtool: 100 video frames");
    ASSERT_NE(summary, std::string::npos) << screen;
    ASSERT_GT(summary, 0u);
    EXPECT_EQ(screen[summary - 1], '\n') << screen;
    EXPECT_NE(screen.find("100%"), std::string::npos) << screen;
    screen = toolOnTerminal({"export", path("tty.ifv"), path("tty.mp4")}, &code);
    EXPECT_EQ(code, 0);
    summary = screen.find("ifvtool: 100 video frames written");
    ASSERT_NE(summary, std::string::npos) << screen;
    EXPECT_EQ(screen[summary - 1], '\n') << screen;
}
