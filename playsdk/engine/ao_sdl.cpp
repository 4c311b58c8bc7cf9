// The SDL sound output: one SDL audio device per output, opened only while the output is
// started and audible, fed with SDL_QueueAudio. The volume is a gain applied to the PCM as
// it is queued.

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "sound_output.h"

namespace zelplay {

namespace {

// The audio subsystem is shared with whatever else in the process uses SDL: each open
// device holds one reference on it (SDL counts SDL_InitSubSystem against
// SDL_QuitSubSystem), and SDL_Quit is never called. SDL's subsystem start and stop and
// device open and close are not safe against each other across threads, so every output
// of the process makes them under this lock.
std::mutex& sdlAudioLock() {
    static std::mutex lock;
    return lock;
}
std::atomic<int> devicesOpen{0};

// Starts SDL's audio subsystem (which starts its events too) without SDL's SIGINT and
// SIGTERM handlers, which would turn the host's signals into SDL events nobody reads: the
// signals stay the host's. A host that set the hint itself keeps its own choice. Needs
// sdlAudioLock().
bool initAudioSubsystem() {
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

// SDL keeps data per thread (its error text) for every thread that starts the subsystem or
// opens or closes a device, and frees it only when told to on that thread. The threads that
// get here are the callers' and the scheduler's, so those calls run on a short thread of
// their own that releases what SDL kept before it ends. They are rare: a change of the
// port heard or of its format.
template <typename Fn>
bool onSdlThread(Fn&& fn) {
    bool result = false;
    try {
        std::thread worker([&] {
            result = fn();
            SDL_TLSCleanup();
        });
        worker.join();
    } catch (const std::system_error&) {
        result = fn();  // no thread to be had: SDL's per-thread data stays with this one
    }
    return result;
}

// Silence queued ahead of sound written to an idle device. PCM fed at the pace of real time
// arrives a frame (40 ms) at a time while the device takes a period (32 ms) at a time; the
// lead keeps the device from running dry between frames, at the cost of that much delay.
constexpr int kLeadMs = 100;
constexpr uint32_t kFullGainQ15 = 1u << 15;

// A device period of about 32 ms: the power of two of samples nearest rate / 32.
Uint16 devicePeriodSamples(int rate) {
    Uint16 samples = 64;
    while (samples < 4096 && samples * 32 < rate)
        samples = static_cast<Uint16>(samples * 2);
    return samples;
}

class SdlSoundOutput final : public SoundOutput {
  public:
    ~SdlSoundOutput() override { closeDevice(); }

    int create() override {
        destroy();
        created_ = true;
        bits_ = 16;
        rate_ = 8000;
        gainQ15_ = kFullGainQ15;
        percent_ = 100;
        return 0;
    }

    int setFormat(int bitsPerSample, int sampleRate) override {
        if (!created_ || started_ || !soundFormatPlayable(bitsPerSample, sampleRate))
            return 1;
        bits_ = bitsPerSample;
        rate_ = sampleRate;
        return 0;
    }

    int start() override {
        if (!created_)
            return 1;
        started_ = true;
        if (audible_ && device_ == 0 && !openDevice()) {
            started_ = false;
            return 1;
        }
        return 0;
    }

    int setAudible(bool audible) override {
        audible_ = audible;
        if (!audible) {
            closeDevice();
            return 0;
        }
        if (started_ && device_ == 0 && !openDevice())
            return 1;
        return 0;
    }

    int writePcm(const uint8_t* pcm, size_t bytes) override {
        if (device_ == 0 || pcm == nullptr)
            return kSoundDropped;
        retirePlayed();
        if (pending_.size() >= static_cast<size_t>(kSoundBuffers)) {
            // A device that stopped (lost, say) never drains: waiting would be for nothing.
            return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING ? kSoundFull
                                                                          : kSoundDropped;
        }
        size_t n = std::min(bytes, kSoundBufferBytes);
        if (bits_ == 16)
            n &= ~size_t{1};  // whole samples only, or every later sample would be split
        if (n == 0)
            return kSoundWritten;
        if (SDL_GetQueuedAudioSize(device_) == 0 && !queueLead())
            return kSoundDropped;
        const uint8_t* data = gainQ15_ == kFullGainQ15 ? pcm : applyGain(pcm, n);
        if (SDL_QueueAudio(device_, data, static_cast<Uint32>(n)) != 0)
            return kSoundDropped;
        pending_.push_back(n);
        pendingBytes_ += n;
        return kSoundWritten;
    }

    uint32_t msUntilRoom() override {
        retirePlayed();
        if (device_ == 0 || pending_.size() < static_cast<size_t>(kSoundBuffers))
            return 1;
        const size_t waiting = SDL_GetQueuedAudioSize(device_);
        const size_t playedOfFront = pendingBytes_ - std::min(waiting, pendingBytes_);
        const size_t left = pending_.front() - std::min(playedOfFront, pending_.front());
        const size_t bytesPerSecond = static_cast<size_t>(rate_) * static_cast<size_t>(bits_ / 8);
        const auto ms = static_cast<uint32_t>((left * 1000 + bytesPerSecond - 1) / bytesPerSecond);
        return std::max<uint32_t>(ms, 1);
    }

    int setVolume(unsigned percent) override {
        if (percent > 100)
            return 1;
        percent_ = percent;
        gainQ15_ = percent * kFullGainQ15 / 100;
        return 0;
    }

    int stop() override {
        started_ = false;
        closeDevice();
        return 0;
    }

    void destroy() override {
        stop();
        created_ = false;
    }

    SoundOutputState state() override {
        retirePlayed();
        SoundOutputState s;
        s.deviceOpen = device_ != 0;
        s.bits = device_ != 0 ? bits_ : 0;
        s.samplesSigned = SDL_AUDIO_ISSIGNED(deviceFormat_) != 0;
        s.rate = device_ != 0 ? rate_ : 0;
        s.buffersWaiting = static_cast<int>(pending_.size());
        s.bytesWaiting = device_ != 0 ? SDL_GetQueuedAudioSize(device_) : 0;
        s.volumePercent = percent_;
        return s;
    }

  private:
    bool openDevice() {
        SDL_AudioSpec wanted{};
        wanted.freq = rate_;
        // The library's 8-bit PCM is signed: the voice codec makes raw unsigned samples signed.
        wanted.format = bits_ == 8 ? AUDIO_S8 : AUDIO_S16LSB;
        wanted.channels = 1;
        wanted.samples = devicePeriodSamples(rate_);
        wanted.callback = nullptr;  // fed by SDL_QueueAudio
        SDL_AudioDeviceID device = 0;
        const bool opened = onSdlThread([&] {
            std::lock_guard sdl(sdlAudioLock());
            if (!initAudioSubsystem())
                return false;
            SDL_AudioSpec obtained{};
            // No changes allowed: SDL converts to whatever the hardware takes.
            device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
            if (device == 0) {
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
                return false;
            }
            SDL_PauseAudioDevice(device, 0);
            return true;
        });
        if (!opened)
            return false;
        deviceFormat_ = wanted.format;  // no changes allowed: SDL converts to the hardware's
        device_ = device;
        ++devicesOpen;
        return true;
    }

    void closeDevice() {
        pending_.clear();
        pendingBytes_ = 0;
        if (device_ == 0)
            return;
        const SDL_AudioDeviceID device = device_;
        device_ = 0;
        onSdlThread([device] {
            std::lock_guard sdl(sdlAudioLock());
            SDL_CloseAudioDevice(device);  // what is queued goes with it
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return true;
        });
        --devicesOpen;
    }

    // Silence ahead of sound for an idle device; it takes a buffer of its own.
    bool queueLead() {
        const size_t bytes =
            static_cast<size_t>(rate_) * kLeadMs / 1000 * static_cast<size_t>(bits_ / 8);
        lead_.assign(bytes, 0);  // silence in signed samples of either size
        if (SDL_QueueAudio(device_, lead_.data(), static_cast<Uint32>(bytes)) != 0)
            return false;
        pending_.push_back(bytes);
        pendingBytes_ += bytes;
        return true;
    }

    // Forgets the buffers the device has taken whole.
    void retirePlayed() {
        if (device_ == 0 || pending_.empty())
            return;
        const size_t waiting = SDL_GetQueuedAudioSize(device_);
        while (!pending_.empty() && pendingBytes_ - pending_.front() >= waiting) {
            pendingBytes_ -= pending_.front();
            pending_.pop_front();
        }
    }

    const uint8_t* applyGain(const uint8_t* pcm, size_t n) {
        scaled_.resize(n);
        const auto gain = static_cast<int32_t>(gainQ15_);
        if (bits_ == 8) {
            for (size_t i = 0; i < n; ++i)
                scaled_[i] = static_cast<uint8_t>(static_cast<int8_t>(pcm[i]) * gain >> 15);
        } else {
            for (size_t i = 0; i + 1 < n; i += 2) {
                const auto s = static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8);
                const auto v = static_cast<uint16_t>(s * gain >> 15);
                scaled_[i] = static_cast<uint8_t>(v);
                scaled_[i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        return scaled_.data();
    }

    bool created_ = false;
    bool started_ = false;
    bool audible_ = false;  // kept across create and destroy
    int bits_ = 16;
    int rate_ = 8000;
    unsigned percent_ = 100;
    uint32_t gainQ15_ = kFullGainQ15;
    SDL_AudioDeviceID device_ = 0;                 // 0 while no device is open
    SDL_AudioFormat deviceFormat_ = AUDIO_S16LSB;  // the samples the open device takes
    std::deque<size_t> pending_;   // sizes of the buffers written and not yet played
    size_t pendingBytes_ = 0;      // their sum
    std::vector<uint8_t> scaled_;  // the PCM with the gain applied
    std::vector<uint8_t> lead_;    // silence queued ahead of sound
};

}  // namespace

std::unique_ptr<SoundOutput> createSdlSoundOutput() {
    return std::make_unique<SdlSoundOutput>();
}

int sdlSoundDevicesOpen() {
    return devicesOpen.load();
}

bool sdlAudioAvailable() {
    return onSdlThread([] {
        std::lock_guard sdl(sdlAudioLock());
        if (!initAudioSubsystem())
            return false;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return true;
    });
}

}  // namespace zelplay
