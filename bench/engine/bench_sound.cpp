// The audio path of ports fed 8 kHz voice at the pace of real time: the process's CPU per
// second of voice with 1, 16 and 64 ports receiving audio, one of them heard (through SDL's
// "dummy" driver unless SDL_AUDIODRIVER names another), against DecAudioFrame decoding the
// same frames alone at the same pace, in the same run.
//
//   bench_engine_sound [seconds=5] [port counts...=1 16 64]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <thread>
#include <vector>

#include "bench_media.h"
#include "sound_output.h"
#include "zelplay.h"

using namespace enginebench;

namespace {

constexpr int kFramesPerSecond = 25;  // 40 ms voice frames

double callingThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Frame records of a 440 Hz tone, A-law and IMA ADPCM frames in turn (the two kinds of
// voice frame DecAudioFrame recognises).
std::vector<std::vector<uint8_t>> voiceRecords(int count) {
    std::vector<std::vector<uint8_t>> records;
    long at = 0;
    for (int i = 0; i < count; ++i) {
        const bool adpcm = i % 2 == 1;
        std::vector<int16_t> pcm(adpcm ? 321 : 320);
        for (int16_t& s : pcm)
            s = static_cast<int16_t>(
                8000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(at++) / 8000));
        std::vector<uint8_t> frame(4 + 2 * 255);
        EncAudioFrame(adpcm ? 1 : 5, pcm.data(), frame.data(), static_cast<int>(pcm.size() * 2));
        frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
        std::vector<uint8_t> rec(40, 0);
        rec[0] = 0x61;
        const auto length = static_cast<uint32_t>(frame.size());
        const uint32_t stamp = 40 * static_cast<uint32_t>(i);
        for (int b = 0; b < 4; ++b) {
            rec[12 + b] = static_cast<uint8_t>(length >> (8 * b));
            rec[24 + b] = static_cast<uint8_t>(stamp >> (8 * b));
        }
        rec.insert(rec.end(), frame.begin(), frame.end());
        records.push_back(std::move(rec));
    }
    return records;
}

// Calls feed(port, record) for every port every 40 ms, staggered across the frame time, as
// a live source would; returns the feeding thread's CPU seconds inside those calls.
template <typename Feed>
double feedPaced(int ports, int frames, const std::vector<std::vector<uint8_t>>& records,
                 Feed&& feed) {
    double inCalls = 0;
    const double start = nowSeconds();
    for (int i = 0; i < frames; ++i) {
        for (int p = 0; p < ports; ++p) {
            const double due = start + (i + static_cast<double>(p) / ports) / kFramesPerSecond;
            const double wait = due - nowSeconds();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            const auto& rec = records[static_cast<size_t>(i) % records.size()];
            const double before = callingThreadCpuSeconds();
            feed(p, rec);
            inCalls += callingThreadCpuSeconds() - before;
        }
    }
    return inCalls;
}

void run(int ports, int seconds, const std::vector<std::vector<uint8_t>>& records) {
    const int frames = seconds * kFramesPerSecond;
    std::vector<ZELPLAY_PORT> handles(ports);
    for (auto& h : handles) {
        ZelPlay_GetPort(&h);
        ZelPlay_OpenStream(h, 0);
        ZelPlay_Play(h, 0);
    }
    ZelPlay_PlaySound(handles[0], 16, 8000);
    long failed = 0;
    const double cpu0 = processCpuSeconds();
    const double start = nowSeconds();
    const double inCalls = feedPaced(ports, frames, records, [&](int p, const auto& rec) {
        failed +=
            ZelPlay_InputAudioData(handles[p], rec.data(), static_cast<uint32_t>(rec.size())) != 1;
    });
    const double fedFor = nowSeconds() - start;
    const double cpu = processCpuSeconds() - cpu0;
    ZelPlay_StopSound();
    for (auto h : handles)
        ZelPlay_FreePort(h);

    // Baseline: the same frames at the same pace, decoded by DecAudioFrame alone.
    std::vector<uint8_t> pcm(1024);
    int pcmBytes = 0;
    const double baseline = feedPaced(ports, frames, records, [&](int, const auto& rec) {
        DecAudioFrame(rec.data() + 40, static_cast<int>(rec.size() - 40), pcm.data(), &pcmBytes);
    });

    const double voiceSeconds = static_cast<double>(ports) * frames / kFramesPerSecond;
    std::printf(
        "%3d ports (1 heard): %.0f s of voice fed in %.1f s, %ld failed\n"
        "     per second of voice: input calls %.1f us CPU, DecAudioFrame alone %.1f us, "
        "ratio %.2f; whole process %.1f us (%.2f%% of a core, with SDL's thread and the "
        "feeder's pacing)\n",
        ports, voiceSeconds, fedFor, failed, 1e6 * inCalls / voiceSeconds,
        1e6 * baseline / voiceSeconds, baseline > 0 ? inCalls / baseline : 0.0,
        1e6 * cpu / voiceSeconds, 100 * cpu / fedFor);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i)
        counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty())
        counts = {1, 16, 64};
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    zelplay::setSoundOutputFactory(zelplay::createSdlSoundOutput);
    const auto records = voiceRecords(2 * kFramesPerSecond);
    for (int n : counts)
        run(n, seconds, records);
    return 0;
}
