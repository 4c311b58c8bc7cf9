// Buffered (mode 1) ports fed live at 25 fps each: how late the scheduler shows frames
// (median and 99th percentile against their time stamps) and how much CPU its thread uses,
// against the CPU libavcodec needs to decode the same frames directly, in the same run.
//
//   bench_engine_scheduler [seconds=8] [port counts...=16 64]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_media.h"
#include "zelplay.h"

using namespace enginebench;

namespace {

struct PortStats {
    std::mutex lock;
    std::vector<double> shownAt;   // guarded by lock
    std::vector<uint32_t> stamps;  // guarded by lock
};

void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
               ZELPLAY_USER user) {
    auto* s = reinterpret_cast<PortStats*>(user);
    const double t = nowSeconds();
    std::lock_guard l(s->lock);
    s->shownAt.push_back(t);
    s->stamps.push_back(static_cast<uint32_t>(info->timeStamp));
}

double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

void run(int ports, int seconds, const std::vector<Unit>& units) {
    const int frames = seconds * 25;
    std::vector<std::vector<uint8_t>> records;
    for (int i = 0; i < frames; ++i)
        records.push_back(record(units[i % units.size()], static_cast<uint32_t>(i), 1000));
    // Keys every 25 frames in the source; wrapping the source keeps the sequence numbers going.
    std::vector<ZELPLAY_PORT> handles(ports);
    std::vector<PortStats> stats(ports);
    for (int p = 0; p < ports; ++p) {
        ZelPlay_GetPort(&handles[p]);
        ZelPlay_SetPlayMode(handles[p], 1);
        ZelPlay_SetDelayTime(handles[p], 1, 0);
        ZelPlay_OpenStream(handles[p], 4 << 20);
        ZelPlay_SetDecCallBack(handles[p], onPicture, reinterpret_cast<ZELPLAY_USER>(&stats[p]));
        ZelPlay_Play(handles[p], 0);
    }
    const double cpu0 = threadCpuSeconds("zelplay-sched");
    const double start = nowSeconds();
    // One feeder, all ports in turn every 40 ms, staggered across the frame time.
    for (int i = 0; i < frames; ++i) {
        for (int p = 0; p < ports; ++p) {
            const double due = start + 0.040 * i + 0.040 * p / ports;
            const double wait = due - nowSeconds();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            ZelPlay_InputVideoData(handles[p], records[i].data(),
                                   static_cast<uint32_t>(records[i].size()));
        }
    }
    const double fedFor = nowSeconds() - start;
    const double cpu = threadCpuSeconds("zelplay-sched") - cpu0;
    std::vector<double> late;
    long shown = 0, gaps = 0;
    for (int p = 0; p < ports; ++p) {
        std::lock_guard l(stats[p].lock);
        shown += static_cast<long>(stats[p].shownAt.size());
        // Lateness against the first shown frame's pace: shown - first - (stamp - first stamp).
        for (size_t k = 1; k < stats[p].stamps.size(); ++k)
            gaps += stats[p].stamps[k] - stats[p].stamps[k - 1] != 40 ? 1 : 0;
        for (size_t k = 0; k < stats[p].shownAt.size(); ++k) {
            const double expected = (stats[p].stamps[k] - stats[p].stamps[0]) / 1000.0;
            late.push_back((stats[p].shownAt[k] - stats[p].shownAt[0] - expected) * 1000.0);
        }
    }
    for (auto h : handles)
        ZelPlay_FreePort(h);

    // Baseline: the same pictures decoded directly, one decoder per port.
    const long pictures = std::max(shown, 1L);
    const double base0 = processCpuSeconds();
    {
        DirectDecoder dec;
        for (long k = 0; k < pictures; ++k)
            dec.decode(units[k % units.size()].bytes);
    }
    const double baseCpu = processCpuSeconds() - base0;
    const long expectedShown =
        static_cast<long>(ports) * (frames - 25);  // the last second stays queued
    std::printf(
        "%3d ports: shown %ld of %ld fed (%.1f s), %ld skipped, late median %.1f ms, p99 %.1f ms, "
        "max %.1f ms\n",
        ports, shown, static_cast<long>(ports) * frames, fedFor, gaps, percentile(late, 0.5),
        percentile(late, 0.99), percentile(late, 1.0));
    std::printf(
        "           scheduler CPU %.2f s (%.1f%% of a core), direct decode of the same pictures "
        "%.2f s, "
        "ratio %.2f; shown/expected %.3f\n",
        cpu, 100.0 * cpu / fedFor, baseCpu, baseCpu > 0 ? cpu / baseCpu : 0.0,
        static_cast<double>(shown) / static_cast<double>(expectedShown));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 8;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {16, 64};
    const auto units = encode(176, 144, 100, 25, "veryfast");
    for (int n : counts)
        run(n, seconds, units);
    return 0;
}
