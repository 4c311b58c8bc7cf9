// zelplay_chaos: random sequences of calls on the playback library's C interface from several
// threads at once, on ports they share, with real media (B-frame streams, AVI and record
// files, sound), hostile handles and arguments (freed, random and null handles; sizes,
// positions, volumes and colours out of range; FIFOs, folders, devices and overlong paths)
// and windows destroyed while ports draw into them.
//
// What it checks, round after round:
//   - the callback promises of play.h: once a setter (or Stop, Close, SetPlayMode, an open,
//     FreePort) has returned, the callback it replaced is not running and is not called
//     again; a callback's calls that would wait for its own port are refused with code 16;
//   - that no call takes longer than 10 s (a watchdog then prints every thread's stack and
//     ends the program);
//   - that threads and file descriptors come back to what they were after each round.
// Every round has a seed of its own (the base seed plus the round's number): a failure is
// replayed with --seed and --rounds.
//
//   zelplay_chaos [--seconds 20] [--seed 1] [--rounds N] [--threads 6] [--ports 6]
//                 [--round-seconds 2] [--verbose]
// Exit code 0 when it found nothing, 1 when it did, 2 for wrong usage.
#include <X11/Xlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio_frames.h"
#include "support/corpus.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "x11_test_support.h"
#include "zelplay.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestCall = std::chrono::seconds(10);

struct Options {
    int seconds = 20;
    uint64_t seed = 1;
    int rounds = 0;  // 0: as many as the seconds allow
    int threads = 6;
    int ports = 6;
    int roundSeconds = 2;
    bool verbose = false;
};

// ---- What it found ------------------------------------------------------------------------

class Findings {
  public:
    void add(const std::string& what) {
        std::lock_guard l(lock_);
        if (seen_[what]++ == 0)
            std::fprintf(stderr, "chaos: %s\n", what.c_str());
    }
    size_t count() {
        std::lock_guard l(lock_);
        size_t n = 0;
        for (const auto& [what, times] : seen_)
            n += times;
        return n;
    }

  private:
    std::mutex lock_;
    std::map<std::string, long> seen_;  // guarded by lock_
};

Findings findings;

// ---- Callbacks and their promises -----------------------------------------------------------

enum class Kind { Decode, Sei, Draw };

// One registration of a callback. Retired once the call that replaced it has returned: a call
// of it after that, or one still running then, breaks a promise.
struct CallbackContext {
    Kind kind;
    ZELPLAY_PORT port;
    std::atomic<int> running{0};
    std::atomic<bool> retired{false};
    std::atomic<unsigned> draws{0};

    void enter() {
        ++running;
        if (retired.load())
            findings.add(std::string("a callback was called after the call that cleared it ") +
                         "returned (" + kindName() + ")");
    }
    void leave() { --running; }
    void retire(const char* by) {
        retired = true;
        if (running.load() != 0)
            findings.add(std::string("a ") + kindName() + " callback was still running when " + by +
                         " returned");
    }
    const char* kindName() const {
        return kind == Kind::Decode ? "decode" : kind == Kind::Sei ? "SEI" : "draw";
    }
};

// The calls a callback makes on its own port now and then: those it may make, and one that
// would wait for its own decoding, which must be refused with code 16.
void callBackInto(CallbackContext& c, unsigned pick) {
    switch (pick % 16) {
        case 0: {
            int32_t w = 0, h = 0;
            ZelPlay_GetPictureSize(c.port, &w, &h);
            break;
        }
        case 1:
            ZelPlay_SetColor(c.port, 64, 64, 64, 64);
            break;
        case 2:
            ZelPlay_GetPlayPos(c.port);
            break;
        case 3: {
            // A stop waits for the port's decoding and threads, and so for this callback.
            const int32_t r = ZelPlay_Stop(c.port);
            const uint32_t code = ZelPlay_GetLastError(c.port);
            if (r == 1 || (code != ZELPLAY_ERR_RESOURCES && code != ZELPLAY_ERR_ARGUMENT))
                findings.add("a callback stopping its own port was not refused with code 16");
            break;
        }
        default:
            break;
    }
}

void onDecode(ZELPLAY_PORT, const uint8_t* data, int32_t size, const ZELPLAY_FRAME_INFO* info,
              ZELPLAY_USER user) {
    auto& c = *reinterpret_cast<CallbackContext*>(user);
    c.enter();
    if (data != nullptr && size > 0) {
        // The buffer is the library's, valid during the call: the sanitizers watch these.
        volatile uint8_t touch = data[0] ^ data[size - 1];
        (void)touch;
    }
    callBackInto(c, static_cast<unsigned>(info->timeStamp));
    c.leave();
}

int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD* record, uint32_t stamp, ZELPLAY_USER user) {
    auto& c = *reinterpret_cast<CallbackContext*>(user);
    c.enter();
    volatile uint8_t touch = record->data[record->length > 0 ? record->length - 1 : 0];
    (void)touch;
    callBackInto(c, stamp / 40);
    c.leave();
    return 0;
}

void onDraw(ZELPLAY_PORT, void*, ZELPLAY_USER user) {
    auto& c = *reinterpret_cast<CallbackContext*>(user);
    c.enter();
    callBackInto(c, c.draws++);
    c.leave();
}

// ---- Shared state of a round ----------------------------------------------------------------

// A place for a port that the threads share. The calls whose callback promises are checked
// go through the place's lock, so that the test knows which registration each one replaced.
struct Slot {
    std::mutex lock;
    std::atomic<ZELPLAY_PORT> port{0};
    CallbackContext* decode = nullptr;  // guarded by lock
    CallbackContext* sei = nullptr;     // guarded by lock
    CallbackContext* draw = nullptr;    // guarded by lock

    void retire(CallbackContext*& c, const char* by) {
        if (c != nullptr)
            c->retire(by);
        c = nullptr;
    }
};

struct Media {
    std::vector<std::vector<uint8_t>> video;  // frame records of a B-frame stream, with SEI
    std::vector<std::vector<uint8_t>> audio;  // voice frames and raw PCM
    std::vector<std::string> files;           // every kind of path a caller may hand over
    std::string folder;
};

Media makeMedia(const std::string& folder) {
    Media m;
    m.folder = folder;
    const std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, 4, 'c', 'a', 'm', 0, 0x80};
    for (auto r : corpus::frameRecords(corpus::path(corpus::entry("x264_bf3_pyramid.h264")))) {
        r.insert(r.begin() + 40, sei.begin(), sei.end());
        const auto length = static_cast<uint32_t>(r.size() - 40);
        std::memcpy(r.data() + 12, &length, 4);
        m.video.push_back(std::move(r));
    }
    enginetest::ToneFrames alaw(enginetest::AudioKind::Alaw, 440),
        raw8(enginetest::AudioKind::Raw8, 440), raw16(enginetest::AudioKind::Raw16, 440);
    for (int i = 0; i < 8; ++i) {
        m.audio.push_back(alaw.nextRecord());
        m.audio.push_back(raw8.nextRecord());
        m.audio.push_back(raw16.nextRecord());
    }
    for (const char* name : {"x264_bf2_pcm16.avi", "x264_bf3_pyramid_pcm8.avi", "x264_bf2.ifv",
                             "x264_aud_sei.ifv", "x264_bf2_noindex.avi"})
        m.files.push_back(corpus::path(corpus::entry(name)));
    const std::string fifo = folder + "/fifo.ifv", fifoAvi = folder + "/fifo.avi";
    mkfifo(fifo.c_str(), 0600);
    mkfifo(fifoAvi.c_str(), 0600);
    std::filesystem::create_directory(folder + "/folder.avi");
    std::filesystem::create_symlink("/dev/zero", folder + "/zero.ifv");
    std::ofstream(folder + "/text.avi") << "not an AVI at all";
    m.files.insert(m.files.end(), {fifo, fifoAvi, folder + "/folder.avi", folder + "/zero.ifv",
                                   folder + "/text.avi", folder + "/missing.ifv",
                                   folder + "/no_extension", std::string(700, 'x') + ".avi", ""});
    return m;
}

// The windows ports draw into, on a private X server; one is destroyed and another made now
// and then while ports draw.
class Windows {
  public:
    Windows() {
        if (server_.ok())
            display_ = XOpenDisplay(server_.display().c_str());
        for (int i = 0; display_ != nullptr && i < 3; ++i)
            make();
    }
    ~Windows() {
        std::lock_guard l(lock_);
        windows_.clear();
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    uintptr_t pick(unsigned r) {
        std::lock_guard l(lock_);
        return windows_.empty() ? 0 : windows_[r % windows_.size()]->handle();
    }
    void churn(unsigned r) {
        std::lock_guard l(lock_);
        if (windows_.empty())
            return;
        windows_.erase(windows_.begin() + static_cast<long>(r % windows_.size()));
        makeLocked();
    }

  private:
    void make() {
        std::lock_guard l(lock_);
        makeLocked();
    }
    void makeLocked() {
        windows_.push_back(std::make_unique<enginetest::TestWindow>(
            display_, static_cast<int>(windows_.size()) * 170, 0, 160, 120));
    }

    enginetest::XvfbServer server_;
    Display* display_ = nullptr;
    std::mutex lock_;  // guards windows_ and every use of display_ after the start
    std::vector<std::unique_ptr<enginetest::TestWindow>> windows_;
};

// The watchdog's view of one worker: which call it is in, since when.
struct Watch {
    std::atomic<int64_t> sinceNs{0};  // 0: between calls
    std::atomic<const char*> call{nullptr};
};

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void printStacksAndEnd(const char* call, int64_t seconds) {
    std::fprintf(stderr, "chaos: %s has not returned for %lld s; every thread's stack:\n", call,
                 static_cast<long long>(seconds));
    const std::string gdb =
        "gdb -p " + std::to_string(getpid()) + " -batch -ex 'thread apply all bt' 1>&2 2>/dev/null";
    if (std::system(gdb.c_str()) != 0)
        std::fprintf(stderr, "chaos: (gdb could not show them)\n");
    std::_Exit(1);
}

// ---- One round --------------------------------------------------------------------------------

class Round {
  public:
    Round(const Options& o, const Media& media, Windows& windows, uint64_t seed)
        : options_(o), media_(media), windows_(windows), seed_(seed), slots_(o.ports) {}

    // Runs the workers for the round's time; the calls they made.
    long run() {
        std::vector<std::thread> workers;
        std::vector<Watch> watches(static_cast<size_t>(options_.threads));
        const auto end = Clock::now() + std::chrono::seconds(options_.roundSeconds);
        std::atomic<bool> running{true};
        std::thread watchdog([&] {
            while (running.load()) {
                for (const Watch& w : watches) {
                    const int64_t since = w.sinceNs.load();
                    if (since != 0 &&
                        nowNs() - since > std::chrono::nanoseconds(kLongestCall).count())
                        printStacksAndEnd(w.call.load(), (nowNs() - since) / 1000000000);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        for (int t = 0; t < options_.threads; ++t) {
            workers.emplace_back([this, t, end, &watches] {
                std::mt19937_64 rng(seed_ * 1000003u + static_cast<uint64_t>(t));
                Watch& watch = watches[static_cast<size_t>(t)];
                while (Clock::now() < end)
                    step(rng, watch);
            });
        }
        for (auto& w : workers)
            w.join();
        // What is left is freed, with its promises checked like any other free.
        for (Slot& s : slots_)
            freeSlot(s);
        running = false;
        watchdog.join();
        return calls_.load();
    }

  private:
    CallbackContext* fresh(Kind kind, ZELPLAY_PORT port) {
        std::lock_guard l(arenaLock_);
        arena_.push_back(std::make_unique<CallbackContext>());
        arena_.back()->kind = kind;
        arena_.back()->port = port;
        return arena_.back().get();
    }

    // Calls fn for the watchdog under the name of the call.
    template <typename Fn>
    auto watched(Watch& w, const char* name, Fn fn) {
        w.call = name;
        w.sinceNs = nowNs();
        ++calls_;
        auto result = fn();
        w.sinceNs = 0;
        return result;
    }

    // Sets a fresh callback of the slot's port (or clears it, one time in four) with set;
    // once the setter has returned, the callback it replaced must never run again.
    template <typename Set>
    void replaceCallback(std::mt19937_64& rng, Watch& w, Slot& slot, CallbackContext*& current,
                         Kind kind, const char* name, Set set) {
        std::lock_guard l(slot.lock);
        const ZELPLAY_PORT p = slot.port.load();
        CallbackContext* c = rng() % 4 == 0 ? nullptr : fresh(kind, p);
        if (watched(w, name, [&] { return set(p, c); }) == 1) {
            slot.retire(current, name);
            current = c;
        }
    }

    // A handle to call with: mostly a shared port, sometimes a freed one, a random value or
    // null.
    ZELPLAY_PORT anyHandle(std::mt19937_64& rng) {
        const unsigned r = rng() % 20;
        if (r == 0)
            return 0;
        if (r == 1)
            return static_cast<ZELPLAY_PORT>(rng());
        if (r == 2) {
            std::lock_guard l(freedLock_);
            if (!freed_.empty())
                return freed_[rng() % freed_.size()];
        }
        return slots_[rng() % slots_.size()].port.load();
    }

    void freeSlot(Slot& s) {
        std::lock_guard l(s.lock);
        const ZELPLAY_PORT p = s.port.exchange(0);
        if (p == 0)
            return;
        if (ZelPlay_FreePort(p) == 1) {
            s.retire(s.decode, "FreePort");
            s.retire(s.sei, "FreePort");
            s.retire(s.draw, "FreePort");
            std::lock_guard f(freedLock_);
            freed_.push_back(p);
        }
    }

    void step(std::mt19937_64& rng, Watch& w);

    const Options& options_;
    const Media& media_;
    Windows& windows_;
    const uint64_t seed_;
    std::vector<Slot> slots_;
    std::atomic<long> calls_{0};
    std::mutex arenaLock_;
    std::deque<std::unique_ptr<CallbackContext>> arena_;  // until the round ends; arenaLock_
    std::mutex freedLock_;
    std::vector<ZELPLAY_PORT> freed_;  // guarded by freedLock_
};

void Round::step(std::mt19937_64& rng, Watch& w) {
    auto pickInt = [&](int64_t lo, int64_t hi) {
        return static_cast<int32_t>(
            lo + static_cast<int64_t>(rng() % static_cast<uint64_t>(hi - lo + 1)));
    };
    Slot& slot = slots_[rng() % slots_.size()];
    const ZELPLAY_PORT any = anyHandle(rng);
    const std::string& file = media_.files[rng() % media_.files.size()];
    const unsigned op = rng() % 40;
    switch (op) {
        // -- Ports, modes, opens, stops: the callback promises of the decode callback.
        case 0:
        case 1: {
            std::lock_guard l(slot.lock);
            if (slot.port.load() != 0)
                break;
            ZELPLAY_PORT p = 0;
            if (watched(w, "GetPort", [&] { return ZelPlay_GetPort(&p); }) == 1)
                slot.port = p;
            break;
        }
        case 2:
            watched(w, "FreePort", [&] {
                freeSlot(slot);
                return 0;
            });
            break;
        case 3:
        case 4: {
            std::lock_guard l(slot.lock);
            const ZELPLAY_PORT p = slot.port.load();
            const int32_t mode = rng() % 10 == 0 ? pickInt(-3, 9) : pickInt(0, 2);
            if (watched(w, "SetPlayMode", [&] { return ZelPlay_SetPlayMode(p, mode); }) == 1)
                slot.retire(slot.decode, "SetPlayMode");
            break;
        }
        case 5:
        case 6: {
            std::lock_guard l(slot.lock);
            const ZELPLAY_PORT p = slot.port.load();
            const uint32_t bytes = rng() % 5 == 0 ? static_cast<uint32_t>(rng()) : 4u << 20;
            if (watched(w, "OpenStream", [&] { return ZelPlay_OpenStream(p, bytes); }) == 1 ||
                ZelPlay_GetLastError(p) == ZELPLAY_ERR_ARGUMENT)
                slot.retire(slot.decode, "OpenStream");
            break;
        }
        case 7:
        case 8: {
            std::lock_guard l(slot.lock);
            const ZELPLAY_PORT p = slot.port.load();
            const bool ex = rng() % 4 == 0;
            const int32_t r = watched(w, ex ? "OpenFileEx" : "OpenFile", [&] {
                return ex ? ZelPlay_OpenFileEx(p, file.empty() ? nullptr : file.c_str(),
                                               static_cast<uint32_t>(rng() % 3 == 0 ? rng() : 0),
                                               static_cast<uint32_t>(rng()))
                          : ZelPlay_OpenFile(p, file.empty() ? nullptr : file.c_str());
            });
            // A file refused before the port was closed leaves the callback in place.
            const uint32_t code = ZelPlay_GetLastError(p);
            if (r == 1 || code == ZELPLAY_ERR_FILE_OPEN || code == ZELPLAY_ERR_NO_VIDEO)
                slot.retire(slot.decode, ex ? "OpenFileEx" : "OpenFile");
            break;
        }
        case 9: {
            std::lock_guard l(slot.lock);
            const ZELPLAY_PORT p = slot.port.load();
            if (watched(w, "Stop", [&] { return ZelPlay_Stop(p); }) == 1)
                slot.retire(slot.decode, "Stop");
            break;
        }
        case 10: {
            std::lock_guard l(slot.lock);
            const ZELPLAY_PORT p = slot.port.load();
            if (watched(w, "Close", [&] { return ZelPlay_Close(p); }) == 1)
                slot.retire(slot.decode, "Close");
            break;
        }
        // -- The callback setters.
        case 11:
        case 12:
            replaceCallback(rng, w, slot, slot.decode, Kind::Decode, "SetDecCallBack",
                            [](ZELPLAY_PORT p, CallbackContext* c) {
                                return ZelPlay_SetDecCallBack(p, c ? onDecode : nullptr,
                                                              reinterpret_cast<ZELPLAY_USER>(c));
                            });
            break;
        case 13:
            replaceCallback(rng, w, slot, slot.sei, Kind::Sei, "RigisterSEICallBack",
                            [](ZELPLAY_PORT p, CallbackContext* c) {
                                return ZelPlay_RigisterSEICallBack(
                                    p, c ? onSei : nullptr, reinterpret_cast<ZELPLAY_USER>(c));
                            });
            break;
        case 14:
            replaceCallback(rng, w, slot, slot.draw, Kind::Draw, "RigisterDrawFun",
                            [](ZELPLAY_PORT p, CallbackContext* c) {
                                return ZelPlay_RigisterDrawFun(p, c ? onDraw : nullptr,
                                                               reinterpret_cast<ZELPLAY_USER>(c));
                            });
            break;
        // -- Play and its controls, on any handle.
        case 15:
        case 16: {
            const unsigned k = rng() % 8;
            const uintptr_t window = k < 5    ? windows_.pick(static_cast<unsigned>(rng()))
                                     : k == 5 ? uintptr_t{0xFFFFFFFF}
                                     : k == 6 ? static_cast<uintptr_t>(rng() & 0x3FFFFFFF)
                                              : 0;
            watched(w, "Play", [&] { return ZelPlay_Play(any, window); });
            break;
        }
        case 17:
        case 18:
        case 19: {
            // Video frames in order from a random place, now and then a hostile one.
            const size_t at = rng() % media_.video.size();
            for (size_t i = 0; i < 6; ++i) {
                std::vector<uint8_t> r = media_.video[(at + i) % media_.video.size()];
                uint32_t size = static_cast<uint32_t>(r.size());
                switch (rng() % 24) {
                    case 0:
                        size -= 1;  // does not match its header
                        break;
                    case 1:
                        r.resize(40 + rng() % 64);  // cut short, its header fixed
                        size = static_cast<uint32_t>(r.size());
                        {
                            const uint32_t n = size - 40;
                            std::memcpy(r.data() + 12, &n, 4);
                        }
                        break;
                    case 2:
                        for (size_t k = 40; k < r.size(); k += 7)
                            r[k] = static_cast<uint8_t>(rng());  // damaged
                        break;
                    default:
                        break;
                }
                watched(w, "InputVideoData", [&] {
                    return ZelPlay_InputVideoData(any, rng() % 50 == 0 ? nullptr : r.data(), size);
                });
            }
            break;
        }
        case 20: {
            const auto& a = media_.audio[rng() % media_.audio.size()];
            watched(w, "InputAudioData", [&] {
                return ZelPlay_InputAudioData(any, a.data(), static_cast<uint32_t>(a.size()));
            });
            break;
        }
        case 21:
            watched(w, "Pause", [&] { return ZelPlay_Pause(any, pickInt(0, 1)); });
            break;
        case 22:
            watched(w, "Fast/Slow",
                    [&] { return rng() % 2 ? ZelPlay_Fast(any) : ZelPlay_Slow(any); });
            break;
        case 23:
            watched(w, "OneByOne", [&] { return ZelPlay_OneByOne(any); });
            break;
        case 24: {
            const float positions[] = {
                0.0f, 0.5f, 0.9f, 1.0f, -0.5f, 2.0f, std::numeric_limits<float>::quiet_NaN()};
            const float at = positions[rng() % 7];
            watched(w, "SetPlayPos", [&] { return ZelPlay_SetPlayPos(any, at); });
            break;
        }
        case 25:
            watched(w, "file queries", [&] {
                ZelPlay_GetPlayPos(any);
                ZelPlay_GetFileTime(any);
                ZelPlay_GetFileTotalFrames(any);
                ZelPlay_GetPlayedFrames(any);
                ZelPlay_GetPlayedTime(any);
                ZelPlay_GetFileStartTime(any);
                char path[ZELPLAY_PATH_MAX];
                uint32_t offset = 0;
                return ZelPlay_GetPlayInfo(any, rng() % 3 ? path : nullptr,
                                           rng() % 3 ? &offset : nullptr);
            });
            break;
        case 26: {
            const int32_t bits = rng() % 5 == 0 ? pickInt(0, 32) : (rng() % 2 ? 8 : 16);
            const int32_t rate = rng() % 5 == 0 ? pickInt(-100, 400000) : 8000;
            watched(w, "PlaySound", [&] { return ZelPlay_PlaySound(any, bits, rate); });
            break;
        }
        case 27:
            watched(w, "StopSound/Volume", [&] {
                ZelPlay_SetVolume(any, static_cast<uint32_t>(rng()));
                ZelPlay_GetVolume(any);
                return rng() % 4 == 0 ? ZelPlay_StopSound() : 1;
            });
            break;
        case 28:
        case 29: {
            // Snapshots to files, FIFOs, devices, folders to make, and hostile paths.
            const std::string names[] = {
                media_.folder + "/shot.bmp", media_.folder + "/sub/deeper/shot.jpg",
                media_.folder + "/fifo.ifv", "/dev/null",
                std::string(600, 'y'),       "bare-name-in-home.jpg"};
            const std::string& path = names[rng() % 6];
            const char* p = rng() % 20 == 0 ? nullptr : path.c_str();
            const int32_t quality = rng() % 8 == 0 ? pickInt(-5, 400) : 75;
            watched(w, "snapshot", [&] {
                switch (rng() % 4) {
                    case 0:
                        return ZelPlay_GetBMP(any, p);
                    case 1:
                        return ZelPlay_GetJPG(any, p, quality);
                    case 2:
                        return ZelPlay_GetBMPWithTag(any, p, rng() % 10 ? "cam 1\nlobby" : nullptr);
                    default:
                        return ZelPlay_GetJPGWithTag(any, p, quality, "a tag");
                }
            });
            break;
        }
        case 30:
            watched(w, "source buffer", [&] {
                ZelPlay_GetSourceBufferRemain(any);
                return rng() % 3 == 0 ? ZelPlay_ResetSourceBuffer(any) : 1;
            });
            break;
        case 31:
            watched(w, "SetDelayTime",
                    [&] { return ZelPlay_SetDelayTime(any, pickInt(-2, 5), 0); });
            break;
        case 32:
            watched(w, "colour", [&] {
                int32_t b = 0, c = 0, s = 0, h = 0;
                ZelPlay_GetColor(any, rng() % 3 ? &b : nullptr, &c, &s, rng() % 3 ? &h : nullptr);
                return ZelPlay_SetColor(any, pickInt(-1, 130), pickInt(0, 128), pickInt(0, 128),
                                        pickInt(0, 128));
            });
            break;
        case 33:
            watched(w, "display device", [&] {
                ZelPlay_GetDDrawDeviceTotalNums();
                return ZelPlay_SetDDrawDevice(any, pickInt(-3, 5));
            });
            break;
        case 34:
            watched(w, "GetPictureSize", [&] {
                int32_t width = 0, height = 0;
                return ZelPlay_GetPictureSize(any, rng() % 4 ? &width : nullptr, &height);
            });
            break;
        case 35:
            watched(w, "GetMediaInfo", [&] {
                int32_t width = 0, height = 0;
                uint32_t start = 0, frames = 0, duration = 0, rate = 0;
                double fps = 0;
                uint8_t audio = 0;
                return ZelPlay_GetMediaInfo(file.empty() ? nullptr : file.c_str(), &width,
                                            rng() % 8 ? &height : nullptr, &start, &frames, &fps,
                                            &duration, &rate, &audio,
                                            static_cast<uint32_t>(rng() % 4 == 0 ? rng() : 0));
            });
            break;
        case 36:
            watched(w, "SetFileEndMsg", [&] {
                return ZelPlay_SetFileEndMsg(any, windows_.pick(static_cast<unsigned>(rng())),
                                             static_cast<uint32_t>(rng()));
            });
            break;
        case 37:
            watched(w, "GetLastError",
                    [&] { return static_cast<int32_t>(ZelPlay_GetLastError(any)); });
            break;
        case 38:
            if (rng() % 8 == 0) {
                watched(w, "destroy a window", [&] {
                    windows_.churn(static_cast<unsigned>(rng()));
                    return 0;
                });
            }
            break;
        default:
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
    }
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const long long v = std::atoll(argv[++i]);
        if (arg == "--seconds")
            o->seconds = static_cast<int>(v);
        else if (arg == "--seed")
            o->seed = static_cast<uint64_t>(v);
        else if (arg == "--rounds")
            o->rounds = static_cast<int>(v);
        else if (arg == "--threads")
            o->threads = static_cast<int>(v);
        else if (arg == "--ports")
            o->ports = static_cast<int>(v);
        else if (arg == "--round-seconds")
            o->roundSeconds = static_cast<int>(v);
        else
            return false;
    }
    return o->seconds > 0 && o->threads > 0 && o->ports > 0 && o->roundSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: zelplay_chaos [--seconds S] [--seed N] [--rounds R] [--threads T] "
                     "[--ports P] [--round-seconds S] [--verbose]\n");
        return 2;
    }
    // Line by line, so that the figures are in the log even when a sanitizer ends the
    // program at exit.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The watchdog's debugger may look at this process.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    setenv("ZELPLAY_LOG", "off", 0);
    testsupport::TempDir dir;
    setenv("HOME", dir.path().c_str(), 1);  // bare snapshot names land in the scratch folder
    const Media media = makeMedia(dir.path().string());
    if (media.video.empty()) {
        std::fprintf(stderr, "chaos: no media\n");
        return 1;
    }
    Windows windows;
    if (!windows.ok()) {
        std::fprintf(stderr, "chaos: no X server\n");
        return 1;
    }
    testsupport::startSanitizerThreads();
    const auto start = Clock::now();
    long calls = 0;
    int rounds = 0;
    int baseThreads = -1, baseFds = -1;
    while (o.rounds > 0 ? rounds < o.rounds
                        : Clock::now() - start < std::chrono::seconds(o.seconds)) {
        const uint64_t seed = o.seed + static_cast<uint64_t>(rounds);
        Round round(o, media, windows, seed);
        const long made = round.run();
        calls += made;
        ++rounds;
        // What the round started has ended: its threads and descriptors are gone. The first
        // round sets what the process holds for good (the X server's connection, SDL).
        if (baseThreads < 0) {
            testsupport::waitFor([] { return false; }, 500);
            baseThreads = testsupport::threadCount();
            baseFds = testsupport::openFdCount();
        } else if (!testsupport::waitFor(
                       [&] {
                           return testsupport::threadCount() <= baseThreads &&
                                  testsupport::openFdCount() <= baseFds;
                       },
                       15000)) {
            findings.add(
                "threads or descriptors left after round with seed " + std::to_string(seed) +
                ": threads " + std::to_string(testsupport::threadCount()) + " (" +
                std::to_string(baseThreads) + "), descriptors " +
                std::to_string(testsupport::openFdCount()) + " (" + std::to_string(baseFds) + ")");
        }
        if (o.verbose)
            std::printf("chaos: round %d, seed %llu: %ld calls\n", rounds,
                        static_cast<unsigned long long>(seed), made);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "chaos: %d rounds (seeds %llu..%llu), %ld calls in %.1f s (%.0f calls/s), %d threads on "
        "%d ports: %zu findings\n",
        rounds, static_cast<unsigned long long>(o.seed),
        static_cast<unsigned long long>(o.seed + static_cast<uint64_t>(rounds) - 1), calls, seconds,
        calls / seconds, o.threads, o.ports, findings.count());
    return findings.count() == 0 ? 0 : 1;
}
