// A callback that calls back into the library while another thread stops, closes, frees or
// re-modes its port: every pair of a callback (decode, SEI and draw, from every thread that
// runs them) and one of those four calls ends, whatever export the callback makes. The
// callback is caught in progress: it waits until the other thread has begun its call, then
// makes its export while that call is under way. A pair that deadlocks fails the test by its
// deadline instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file_media.h"
#include "sound_output.h"
#include "support/corpus.h"
#include "support/media.h"
#include "x11_test_support.h"
#include "zelplay.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(30);

enum class Source {
    RealTimeDecode,   // decode callback on the caller's input thread (mode 0)
    BufferedDecode,   // decode callback on the scheduler (mode 1)
    BufferedSei,      // SEI callback on the scheduler
    FileVideoDecode,  // decode callback on the file video thread (mode 2)
    FileAudioDecode,  // decode callback on the file audio thread
    FileSei,          // SEI callback on the file video thread
    Draw,             // draw callback on the render thread
};
enum class Stopper { Stop, Close, FreePort, SetPlayMode };

const char* name(Source s) {
    switch (s) {
        case Source::RealTimeDecode:
            return "RealTimeDecode";
        case Source::BufferedDecode:
            return "BufferedDecode";
        case Source::BufferedSei:
            return "BufferedSei";
        case Source::FileVideoDecode:
            return "FileVideoDecode";
        case Source::FileAudioDecode:
            return "FileAudioDecode";
        case Source::FileSei:
            return "FileSei";
        case Source::Draw:
            return "Draw";
    }
    return "";
}

const char* name(Stopper s) {
    switch (s) {
        case Stopper::Stop:
            return "Stop";
        case Stopper::Close:
            return "Close";
        case Stopper::FreePort:
            return "FreePort";
        case Stopper::SetPlayMode:
            return "SetPlayMode";
    }
    return "";
}

// What a round shares between the test's thread, the stopping thread and the callback.
struct Round {
    ZELPLAY_PORT port = 0;
    uintptr_t window = 0;
    std::string folder;
    std::string file;
    size_t exportIndex = 0;
    int pictureKind = 0;             // decode callback: only calls of this kind are caught
    std::atomic<bool> armed{false};  // the next callback call is the one caught
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false;          // the caught call has begun; guarded by lock
    bool stopperStarted = false;  // guarded by lock
    bool exportDone = false;      // guarded by lock

    void onCallback();
    template <typename Pred>
    bool waitUntil(Pred pred) {
        std::unique_lock l(lock);
        return changed.wait_for(l, kDeadline, pred);
    }
    void set(bool Round::*flag) {
        {
            std::lock_guard l(lock);
            this->*flag = true;
        }
        changed.notify_all();
    }
};

void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
               ZELPLAY_USER u) {
    auto* r = reinterpret_cast<Round*>(u);
    if (r->pictureKind == 0 ||
        (info->type == ZELPLAY_FRAME_TYPE_YV12) == (r->pictureKind == ZELPLAY_FRAME_TYPE_YV12))
        r->onCallback();
}
int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD*, uint32_t, ZELPLAY_USER u) {
    reinterpret_cast<Round*>(u)->onCallback();
    return 0;
}
void onDraw(ZELPLAY_PORT, void*, ZELPLAY_USER u) {
    reinterpret_cast<Round*>(u)->onCallback();
}

// The exports a callback may make on its own port (zelplay/play.h). Each callback kind
// re-registers only itself, so that no two callbacks wait for each other.
struct Export {
    const char* name;
    std::function<void(Round&)> call;
};

const std::vector<Export>& exportsFromCallbacks() {
    static const std::vector<Export> list = {
        {"Play", [](Round& r) { ZelPlay_Play(r.port, r.window); }},
        {"SetDDrawDevice", [](Round& r) { ZelPlay_SetDDrawDevice(r.port, 0); }},
        {"Pause",
         [](Round& r) {
             ZelPlay_Pause(r.port, 1);
             ZelPlay_Pause(r.port, 0);
         }},
        {"FastSlow",
         [](Round& r) {
             ZelPlay_Fast(r.port);
             ZelPlay_Slow(r.port);
         }},
        {"OneByOne", [](Round& r) { ZelPlay_OneByOne(r.port); }},
        {"SetPlayPos", [](Round& r) { ZelPlay_SetPlayPos(r.port, 0.0f); }},
        {"GetPlayPos", [](Round& r) { ZelPlay_GetPlayPos(r.port); }},
        {"GetBMP", [](Round& r) { ZelPlay_GetBMP(r.port, (r.folder + "/s.bmp").c_str()); }},
        {"GetJPGWithTag",
         [](Round& r) { ZelPlay_GetJPGWithTag(r.port, (r.folder + "/s.jpg").c_str(), 80, "t"); }},
        {"GetPictureSize",
         [](Round& r) {
             int32_t w = 0, h = 0;
             ZelPlay_GetPictureSize(r.port, &w, &h);
         }},
        {"SetColor", [](Round& r) { ZelPlay_SetColor(r.port, 70, 60, 64, 64); }},
        {"PlaySound", [](Round& r) { ZelPlay_PlaySound(r.port, 16, 8000); }},
        {"StopSound", [](Round&) { ZelPlay_StopSound(); }},
        {"SetVolume", [](Round& r) { ZelPlay_SetVolume(r.port, 30000); }},
        {"SetDecCallBack",
         [](Round& r) {
             ZelPlay_SetDecCallBack(r.port, onPicture, reinterpret_cast<ZELPLAY_USER>(&r));
         }},
        {"RigisterSEICallBack",
         [](Round& r) {
             ZelPlay_RigisterSEICallBack(r.port, onSei, reinterpret_cast<ZELPLAY_USER>(&r));
         }},
        {"RigisterDrawFun",
         [](Round& r) {
             ZelPlay_RigisterDrawFun(r.port, onDraw, reinterpret_cast<ZELPLAY_USER>(&r));
         }},
        {"ResetSourceBuffer", [](Round& r) { ZelPlay_ResetSourceBuffer(r.port); }},
        {"FileQueries",
         [](Round& r) {
             ZelPlay_GetFileTime(r.port);
             ZelPlay_GetPlayedFrames(r.port);
             ZelPlay_GetPlayedTime(r.port);
             char path[ZELPLAY_PATH_MAX];
             uint32_t offset = 0;
             ZelPlay_GetPlayInfo(r.port, path, &offset);
         }},
        {"SetFileEndMsg", [](Round& r) { ZelPlay_SetFileEndMsg(r.port, 0, 0); }},
    };
    return list;
}

void Round::onCallback() {
    if (!armed.exchange(false))
        return;
    set(&Round::inside);
    // Caught: the other thread begins its call, then the export goes in while it runs.
    waitUntil([&] { return stopperStarted; });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    exportsFromCallbacks()[exportIndex].call(*this);
    set(&Round::exportDone);
}

// Media shared by the rounds: the corpus's B-frame stream and files, and a record whose
// frames carry user data SEI.
struct Media {
    std::vector<std::vector<uint8_t>> streamRecords;  // with SEI in front of each unit
    std::string avi, recordWithAudio, recordWithSei;
};

std::vector<uint8_t> withSei(std::vector<uint8_t> record) {
    const std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, 4, 'c', 'a', 'm', 0, 0x80};
    record.insert(record.begin() + 40, sei.begin(), sei.end());
    const uint32_t length = static_cast<uint32_t>(record.size() - 40);
    for (int i = 0; i < 4; ++i)
        record[12 + i] = static_cast<uint8_t>(length >> (8 * i));
    if (record[28] == 3)
        record[28] = 1;  // no longer led by its SPS
    return record;
}

const Media& media() {
    static const Media m = [] {
        Media out;
        for (auto& r : corpus::frameRecords(corpus::path(corpus::entry("x264_bf2.h264"))))
            out.streamRecords.push_back(withSei(std::move(r)));
        out.avi = corpus::path(corpus::entry("x264_bf2_pcm16.avi"));
        out.recordWithAudio = corpus::path(corpus::entry("x264_bf2.ifv"));
        static testsupport::TempDir dir;
        filetest::RecordSpec spec;
        spec.seconds = 2;
        auto units = filetest::units(dir.path().string(), spec);
        for (auto& u : units) {
            const std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, 4, 'c', 'a', 'm', 0, 0x80};
            u.bytes.insert(u.bytes.begin(), sei.begin(), sei.end());
        }
        out.recordWithSei = dir.file("sei.ifv");
        if (!filetest::writeRecord(out.recordWithSei, units, spec))
            out.recordWithSei.clear();
        return out;
    }();
    return m;
}

struct Case {
    Source source;
    Stopper stopper;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << name(c.source) << " callback against " << name(c.stopper);
}

class CallbackAgainstStop : public testing::TestWithParam<Case> {
  protected:
    static void SetUpTestSuite() { zelplay::setSoundOutputFactory(zelplay::createNullSoundOutput); }
    static void TearDownTestSuite() { zelplay::setSoundOutputFactory(nullptr); }
};

TEST_P(CallbackAgainstStop, EveryExportFromTheCallbackEnds) {
    const Case c = GetParam();
    const Media& m = media();
    ASSERT_FALSE(m.streamRecords.empty());
    ASSERT_FALSE(m.recordWithSei.empty());
    std::unique_ptr<enginetest::XvfbServer> server;
    std::unique_ptr<enginetest::TestWindow> window;
    Display* display = nullptr;
    if (c.source == Source::Draw) {
        server = std::make_unique<enginetest::XvfbServer>();
        ASSERT_TRUE(server->ok());
        display = XOpenDisplay(server->display().c_str());
        ASSERT_NE(display, nullptr);
        window = std::make_unique<enginetest::TestWindow>(display, 0, 0, 160, 120);
    }
    testsupport::TempDir dir;
    const bool stream = c.source == Source::RealTimeDecode || c.source == Source::BufferedDecode ||
                        c.source == Source::BufferedSei;
    for (size_t e = 0; e < exportsFromCallbacks().size(); ++e) {
        SCOPED_TRACE(exportsFromCallbacks()[e].name);
        Round r;
        r.folder = dir.path().string();
        r.exportIndex = e;
        r.window = window ? window->handle() : 0;
        if (c.source == Source::FileAudioDecode)
            r.pictureKind = ZELPLAY_FRAME_TYPE_PCM16;
        else if (c.source == Source::FileVideoDecode)
            r.pictureKind = ZELPLAY_FRAME_TYPE_YV12;
        const auto user = reinterpret_cast<ZELPLAY_USER>(&r);
        ASSERT_EQ(ZelPlay_GetPort(&r.port), 1);
        const int mode = c.source == Source::RealTimeDecode ? 0 : stream ? 1 : 2;
        ASSERT_EQ(ZelPlay_SetPlayMode(r.port, mode), 1);
        ASSERT_EQ(ZelPlay_SetDelayTime(r.port, 0, 0), 1);
        if (stream) {
            ASSERT_EQ(ZelPlay_OpenStream(r.port, 16 << 20), 1);
        } else {
            const std::string& path = c.source == Source::FileSei           ? m.recordWithSei
                                      : c.source == Source::FileAudioDecode ? m.recordWithAudio
                                                                            : m.avi;
            ASSERT_EQ(ZelPlay_OpenFile(r.port, path.c_str()), 1);
        }
        switch (c.source) {
            case Source::BufferedSei:
            case Source::FileSei:
                ASSERT_EQ(ZelPlay_RigisterSEICallBack(r.port, onSei, user), 1);
                break;
            case Source::Draw:
                ASSERT_EQ(ZelPlay_RigisterDrawFun(r.port, onDraw, user), 1);
                break;
            default:
                ASSERT_EQ(ZelPlay_SetDecCallBack(r.port, onPicture, user), 1);
                break;
        }
        if (c.source == Source::FileAudioDecode) {
            ASSERT_EQ(ZelPlay_PlaySound(r.port, 16, 8000), 1);  // only heard sound is decoded
        }
        r.armed = true;
        ASSERT_EQ(ZelPlay_Play(r.port, r.window), 1);
        std::atomic<bool> feeding{true};
        std::thread feeder;
        if (stream) {
            feeder = std::thread([&] {
                for (size_t i = 0; feeding.load(); i = (i + 1) % m.streamRecords.size()) {
                    const auto& rec = m.streamRecords[i];
                    // Refused once the port stops, or while the source buffer is full.
                    if (ZelPlay_InputVideoData(r.port, rec.data(),
                                               static_cast<uint32_t>(rec.size())) == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        const bool caught = r.waitUntil([&] { return r.inside; });
        EXPECT_TRUE(caught) << "no callback came";
        auto stopping = std::async(std::launch::async, [&] {
            switch (c.stopper) {
                case Stopper::Stop:
                    return ZelPlay_Stop(r.port);
                case Stopper::Close:
                    return ZelPlay_Close(r.port);
                case Stopper::FreePort:
                    return ZelPlay_FreePort(r.port);
                case Stopper::SetPlayMode:
                    return ZelPlay_SetPlayMode(r.port, mode);
            }
            return 0;
        });
        r.set(&Round::stopperStarted);
        if (stopping.wait_for(kDeadline) != std::future_status::ready ||
            (caught && !r.waitUntil([&] { return r.exportDone; }))) {
            // A deadlock cannot be undone: say which pair it was and end the program.
            std::fprintf(stderr, "deadlock: %s callback calling %s against %s\n", name(c.source),
                         exportsFromCallbacks()[e].name, name(c.stopper));
            std::abort();
        }
        EXPECT_EQ(stopping.get(), 1);
        feeding = false;
        if (feeder.joinable())
            feeder.join();
        r.armed = false;
        ZelPlay_FreePort(r.port);  // 0 when the round freed it already
        ZelPlay_StopSound();
    }
    window.reset();
    if (display != nullptr)
        XCloseDisplay(display);
}

std::vector<Case> everyPair() {
    std::vector<Case> cases;
    for (Source s :
         {Source::RealTimeDecode, Source::BufferedDecode, Source::BufferedSei,
          Source::FileVideoDecode, Source::FileAudioDecode, Source::FileSei, Source::Draw}) {
        for (Stopper t : {Stopper::Stop, Stopper::Close, Stopper::FreePort, Stopper::SetPlayMode})
            cases.push_back({s, t});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Pairs, CallbackAgainstStop, testing::ValuesIn(everyPair()),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(name(info.param.source)) + "Against" +
                                    name(info.param.stopper);
                         });

}  // namespace
