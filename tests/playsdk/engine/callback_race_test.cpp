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

#include "audio_frames.h"
#include "file_media.h"
#include "sound_output.h"
#include "support/corpus.h"
#include "support/media.h"
#include "support/wait.h"
#include "x11_test_support.h"
#include "zelplay.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(30);

enum class Source {
    RealTimeDecode,   // decode callback on the caller's input thread (mode 0)
    RealTimeAudio,    // decode callback with audio, on the caller's input thread
    BufferedDecode,   // decode callback on the scheduler (mode 1)
    BufferedAudio,    // decode callback with queued audio, on the scheduler
    BufferedSei,      // SEI callback on the scheduler
    FileVideoDecode,  // decode callback on the file video thread (mode 2)
    FileAudioDecode,  // decode callback on the file audio thread
    FileSei,          // SEI callback on the file video thread
    Draw,             // draw callback on the render thread
};
enum class Stopper { Stop, Close, FreePort, SetPlayMode };

constexpr Source kEverySource[] = {
    Source::RealTimeDecode,  Source::RealTimeAudio, Source::BufferedDecode,
    Source::BufferedAudio,   Source::BufferedSei,   Source::FileVideoDecode,
    Source::FileAudioDecode, Source::FileSei,       Source::Draw};

const char* name(Source s) {
    switch (s) {
        case Source::RealTimeDecode:
            return "RealTimeDecode";
        case Source::RealTimeAudio:
            return "RealTimeAudio";
        case Source::BufferedDecode:
            return "BufferedDecode";
        case Source::BufferedAudio:
            return "BufferedAudio";
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
        filetest::RecordRecipe recipe;
        recipe.seconds = 2;
        auto units = filetest::units(dir.path().string(), recipe);
        for (auto& u : units) {
            const std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, 4, 'c', 'a', 'm', 0, 0x80};
            u.bytes.insert(u.bytes.begin(), sei.begin(), sei.end());
        }
        out.recordWithSei = dir.file("sei.ifv");
        if (!filetest::writeRecord(out.recordWithSei, units, recipe))
            out.recordWithSei.clear();
        return out;
    }();
    return m;
}

// A port that runs one kind of callback: set up for the source, its callback registered for
// user, playing, and fed from a thread of the test's when it is a stream.
class SourcePort {
  public:
    struct Callbacks {
        ZELPLAY_DEC_CALLBACK decode = nullptr;
        ZELPLAY_SEI_CALLBACK sei = nullptr;
        ZELPLAY_DRAW_CALLBACK draw = nullptr;
    };

    SourcePort(Source source, const Callbacks& callbacks, ZELPLAY_USER user, uintptr_t window)
        : source_(source) {
        const Media& m = media();
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port, mode()), 1);
        EXPECT_EQ(ZelPlay_SetDelayTime(port, 0, 0), 1);
        if (stream()) {
            EXPECT_EQ(ZelPlay_OpenStream(port, 16 << 20), 1);
        } else {
            const std::string& path = source == Source::FileSei           ? m.recordWithSei
                                      : source == Source::FileAudioDecode ? m.recordWithAudio
                                                                          : m.avi;
            EXPECT_EQ(ZelPlay_OpenFile(port, path.c_str()), 1);
        }
        int32_t registered = 0;
        if (source == Source::BufferedSei || source == Source::FileSei)
            registered = ZelPlay_RigisterSEICallBack(port, callbacks.sei, user);
        else if (source == Source::Draw)
            registered = ZelPlay_RigisterDrawFun(port, callbacks.draw, user);
        else
            registered = ZelPlay_SetDecCallBack(port, callbacks.decode, user);
        EXPECT_EQ(registered, 1);
        // Only heard sound of a file is decoded.
        if (source == Source::FileAudioDecode) {
            EXPECT_EQ(ZelPlay_PlaySound(port, 16, 8000), 1);
        }
        EXPECT_EQ(ZelPlay_Play(port, window), 1);
        if (stream())
            feeder_ = std::thread([this] { feed(); });
    }
    ~SourcePort() {
        feeding_ = false;
        if (feeder_.joinable())
            feeder_.join();
        ZelPlay_FreePort(port);  // 0 when the test freed it already
        ZelPlay_StopSound();
    }

    int mode() const {
        switch (source_) {
            case Source::RealTimeDecode:
            case Source::RealTimeAudio:
                return ZELPLAY_MODE_REALTIME;
            case Source::BufferedDecode:
            case Source::BufferedAudio:
            case Source::BufferedSei:
                return ZELPLAY_MODE_BUFFERED;
            default:
                return ZELPLAY_MODE_FILE;
        }
    }
    // The kind of picture the decode callback is to catch (0: any).
    static int pictureKind(Source s) {
        switch (s) {
            case Source::RealTimeAudio:
            case Source::BufferedAudio:
            case Source::FileAudioDecode:
                return ZELPLAY_FRAME_TYPE_PCM16;
            case Source::RealTimeDecode:
            case Source::BufferedDecode:
            case Source::FileVideoDecode:
                return ZELPLAY_FRAME_TYPE_YV12;
            default:
                return 0;
        }
    }

    ZELPLAY_PORT port = 0;

  private:
    bool stream() const { return mode() != ZELPLAY_MODE_FILE; }
    // Video frames over and over; with sound, a voice frame after each (queued in the
    // buffered mode, where video at both ends of the queue starts play).
    void feed() {
        const Media& m = media();
        enginetest::ToneFrames tone(enginetest::AudioKind::Alaw, 440);
        const bool audio = source_ == Source::RealTimeAudio || source_ == Source::BufferedAudio;
        for (size_t i = 0; feeding_.load(); i = (i + 1) % m.streamRecords.size()) {
            const auto& rec = m.streamRecords[i];
            // Refused once the port stops, or while the source buffer is full.
            bool refused =
                ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size())) == 0;
            if (audio) {
                auto voice = tone.nextRecord();
                for (int k = 0; k < 4; ++k)  // the video record's time stamp
                    voice[24 + k] = rec[24 + k];
                refused =
                    (source_ == Source::RealTimeAudio
                         ? ZelPlay_InputAudioData(port, voice.data(),
                                                  static_cast<uint32_t>(voice.size()))
                         : ZelPlay_InputVideoData(port, voice.data(),
                                                  static_cast<uint32_t>(voice.size()))) == 0 ||
                    refused;
            }
            if (refused)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    Source source_;
    std::atomic<bool> feeding_{true};
    std::thread feeder_;
};

// A private X server with a window for the draw callback.
struct DrawWindow {
    std::unique_ptr<enginetest::XvfbServer> server = std::make_unique<enginetest::XvfbServer>();
    Display* display = nullptr;
    std::unique_ptr<enginetest::TestWindow> window;
    DrawWindow() {
        if (server->ok())
            display = XOpenDisplay(server->display().c_str());
        if (display != nullptr)
            window = std::make_unique<enginetest::TestWindow>(display, 0, 0, 160, 120);
    }
    ~DrawWindow() {
        window.reset();
        if (display != nullptr)
            XCloseDisplay(display);
    }
    uintptr_t handle() const { return window ? window->handle() : 0; }
};

void PrintTo(Source s, std::ostream* out) {
    *out << name(s);
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
    ASSERT_FALSE(media().streamRecords.empty());
    ASSERT_FALSE(media().recordWithSei.empty());
    std::unique_ptr<DrawWindow> window;
    if (c.source == Source::Draw) {
        window = std::make_unique<DrawWindow>();
        ASSERT_NE(window->handle(), 0u);
    }
    testsupport::TempDir dir;
    for (size_t e = 0; e < exportsFromCallbacks().size(); ++e) {
        SCOPED_TRACE(exportsFromCallbacks()[e].name);
        Round r;
        r.folder = dir.path().string();
        r.exportIndex = e;
        r.window = window ? window->handle() : 0;
        r.pictureKind = SourcePort::pictureKind(c.source);
        r.armed = true;
        SourcePort source(c.source, {onPicture, onSei, onDraw}, reinterpret_cast<ZELPLAY_USER>(&r),
                          r.window);
        r.port = source.port;
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
                    return ZelPlay_SetPlayMode(r.port, source.mode());
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
        r.armed = false;
    }
}

std::vector<Case> everyPair() {
    std::vector<Case> cases;
    for (Source s : kEverySource) {
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

// ---- Clearing a callback while it runs ----------------------------------------------------

// A callback that holds its thread until released.
struct Holder {
    int kind = 0;  // decode callback: the kind of picture to hold on (0: any)
    std::atomic<int> active{0};
    std::atomic<int> calls{0};
    std::atomic<bool> release{false};

    void hold() {
        ++calls;
        ++active;
        testsupport::waitFor([&] { return release.load(); }, 60000, 1);
        --active;
    }
    static void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                          ZELPLAY_USER user) {
        auto* h = reinterpret_cast<Holder*>(user);
        if (h->kind == 0 ||
            (info->type == ZELPLAY_FRAME_TYPE_YV12) == (h->kind == ZELPLAY_FRAME_TYPE_YV12))
            h->hold();
    }
    static int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD*, uint32_t, ZELPLAY_USER user) {
        reinterpret_cast<Holder*>(user)->hold();
        return 0;
    }
    static void onDraw(ZELPLAY_PORT, void*, ZELPLAY_USER user) {
        reinterpret_cast<Holder*>(user)->hold();
    }
};

class CallbackClearing : public testing::TestWithParam<Source> {
  protected:
    static void SetUpTestSuite() { zelplay::setSoundOutputFactory(zelplay::createNullSoundOutput); }
    static void TearDownTestSuite() { zelplay::setSoundOutputFactory(nullptr); }
};

TEST_P(CallbackClearing, TheClearingCallReturnsOnlyOnceTheCallInProgressHasEnded) {
    const Source source = GetParam();
    std::unique_ptr<DrawWindow> window;
    if (source == Source::Draw) {
        window = std::make_unique<DrawWindow>();
        ASSERT_NE(window->handle(), 0u);
    }
    Holder h;
    h.kind = SourcePort::pictureKind(source);
    int callsAfterClear = 0;
    {
        SourcePort port(source, {Holder::onPicture, Holder::onSei, Holder::onDraw},
                        reinterpret_cast<ZELPLAY_USER>(&h), window ? window->handle() : 0);
        ASSERT_TRUE(testsupport::waitFor([&] { return h.active.load() == 1; }, 30000))
            << "no callback came";
        std::atomic<bool> cleared{false};
        int activeWhenCleared = -1;
        std::thread clearer([&] {
            if (source == Source::BufferedSei || source == Source::FileSei)
                ZelPlay_RigisterSEICallBack(port.port, nullptr, 0);
            else if (source == Source::Draw)
                ZelPlay_RigisterDrawFun(port.port, nullptr, 0);
            else
                ZelPlay_SetDecCallBack(port.port, nullptr, 0);
            activeWhenCleared = h.active.load();
            cleared = true;
        });
        // A clearing call that does not wait returns within this time.
        EXPECT_FALSE(testsupport::waitFor([&] { return cleared.load(); }, 200))
            << "returned while the callback was running";
        h.release = true;
        clearer.join();
        EXPECT_EQ(activeWhenCleared, 0) << "the callback was still running";
        callsAfterClear = h.calls.load();
    }  // the port is freed
    EXPECT_EQ(h.calls.load(), callsAfterClear) << "called after it was cleared";
}

INSTANTIATE_TEST_SUITE_P(EveryPath, CallbackClearing, testing::ValuesIn(kEverySource),
                         [](const testing::TestParamInfo<Source>& info) {
                             return std::string(name(info.param));
                         });

// ---- Callbacks calling other ports ---------------------------------------------------------

// A port's first decode callback: waits until the peer's is running too, then frees the
// other port.
struct Crossing {
    std::atomic<ZELPLAY_PORT> other{0};
    Crossing* peer = nullptr;
    std::atomic<bool> armed{true};
    std::atomic<bool> inside{false};
    std::atomic<bool> done{false};
    int32_t result = -1;
    uint32_t error = 0;
    static void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                          ZELPLAY_USER user) {
        auto* c = reinterpret_cast<Crossing*>(user);
        if (!c->armed.exchange(false))
            return;
        c->inside = true;
        testsupport::waitFor([&] { return c->peer->inside.load() && c->other.load() != 0; }, 10000,
                             1);
        c->result = ZelPlay_FreePort(c->other);
        c->error = c->result == 1 ? 0 : ZelPlay_GetLastError(c->other);
        c->done = true;
    }
};

TEST(CallbacksOnOtherPorts, TwoCallbacksFreeingEachOthersPortsNeverWaitForEachOther) {
    // The older port's callback may free the newer one (it waits for its decoding); the
    // newer one's callback is refused on the older one, with code 16: no circle of waits.
    Crossing older, newer;
    older.peer = &newer;
    newer.peer = &older;
    SourcePort a(Source::RealTimeDecode, {Crossing::onPicture, nullptr, nullptr},
                 reinterpret_cast<ZELPLAY_USER>(&older), 0);
    SourcePort b(Source::RealTimeDecode, {Crossing::onPicture, nullptr, nullptr},
                 reinterpret_cast<ZELPLAY_USER>(&newer), 0);
    older.other = b.port;
    newer.other = a.port;
    if (!testsupport::waitFor([&] { return older.done.load() && newer.done.load(); }, 60000)) {
        std::fprintf(stderr, "deadlock: two callbacks freeing each other's ports\n");
        std::abort();
    }
    EXPECT_EQ(older.result, 1) << "the newer port is freed";
    EXPECT_EQ(newer.result, 0) << "the older port is refused";
    EXPECT_EQ(newer.error, 16u);
    EXPECT_EQ(ZelPlay_GetVolume(a.port), 0xFFFFu) << "the older port is still there";
}

// A callback calling the calls that wait for its own port's decoding.
struct OwnPort {
    std::atomic<bool> armed{true};
    std::atomic<bool> done{false};
    std::vector<std::pair<int32_t, uint32_t>> results;  // written once, by the callback
    static void onPicture(ZELPLAY_PORT port, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                          ZELPLAY_USER user) {
        auto* o = reinterpret_cast<OwnPort*>(user);
        if (!o->armed.exchange(false))
            return;
        const auto record = media().streamRecords.front();
        const auto size = static_cast<uint32_t>(record.size());
        for (const std::function<int32_t()>& call : std::vector<std::function<int32_t()>>{
                 [&] { return ZelPlay_Stop(port); }, [&] { return ZelPlay_Close(port); },
                 [&] { return ZelPlay_SetPlayMode(port, 0); },
                 [&] { return ZelPlay_OpenStream(port, 0); },
                 [&] { return ZelPlay_InputVideoData(port, record.data(), size); },
                 [&] { return ZelPlay_FreePort(port); }}) {
            const int32_t r = call();
            o->results.emplace_back(r, ZelPlay_GetLastError(port));
        }
        o->done = true;
    }
};

TEST(CallbacksOnOtherPorts, CallsThatWaitForTheCallbacksOwnPortAreRefusedNotADeadlock) {
    OwnPort own;
    SourcePort p(Source::RealTimeDecode, {OwnPort::onPicture, nullptr, nullptr},
                 reinterpret_cast<ZELPLAY_USER>(&own), 0);
    if (!testsupport::waitFor([&] { return own.done.load(); }, 60000)) {
        std::fprintf(stderr, "deadlock: a callback stopping its own port\n");
        std::abort();
    }
    ASSERT_EQ(own.results.size(), 6u);
    for (const auto& [result, error] : own.results) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(error, 16u);
    }
    EXPECT_EQ(ZelPlay_GetVolume(p.port), 0xFFFFu) << "the port is still there";
}

}  // namespace
