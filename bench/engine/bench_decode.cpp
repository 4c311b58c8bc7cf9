// Real-time (mode 0) decode throughput of a 1920 x 1080 stream with B-frames (x264's
// default of three) through a port against libavcodec decoding the same access units
// directly with the same settings, in the same run. The port runs three ways: as a port
// that shows its pictures (they stay in the decoder's planes, uncopied), with a decode
// callback (each picture copied packed for it), and with the picture adjustment on. Each side
// decodes the whole stream, the pictures held back at its end included; a first run checks
// that every picture comes out. Both decode on the calling thread, so the rates are measured
// on that thread's CPU time (steadier than wall time on a shared machine); wall-time rates
// are printed beside them.
//
//   bench_engine_decode [frames=200] [rounds=3] [bframes=3]

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_media.h"
#include "zelplay.h"

using namespace enginebench;

namespace {

double threadCpuNow() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Rate {
    double cpuFps;
    double wallFps;
};

Rate directFps(const std::vector<Unit>& units) {
    DirectDecoder dec;
    const double t0 = nowSeconds(), c0 = threadCpuNow();
    int pictures = 0;
    for (const Unit& u : units)
        pictures += dec.decode(u.bytes);
    pictures += dec.flush();
    const double t = nowSeconds() - t0, c = threadCpuNow() - c0;
    if (pictures != static_cast<int>(units.size()))
        std::fprintf(stderr, "direct: %d pictures\n", pictures);
    return {pictures / c, pictures / t};
}

void countPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                  ZELPLAY_USER user) {
    ++*reinterpret_cast<int*>(user);
}

enum class PortUse { Shown, Callback, Adjusted };

Rate portFps(const std::vector<std::vector<uint8_t>>& records, PortUse use) {
    ZELPLAY_PORT port = 0;
    ZelPlay_GetPort(&port);
    ZelPlay_OpenStream(port, 0);
    if (use == PortUse::Adjusted)
        ZelPlay_SetColor(port, 72, 80, 50, 70);
    int pictures = 0;
    if (use != PortUse::Shown)
        ZelPlay_SetDecCallBack(port, countPicture, reinterpret_cast<ZELPLAY_USER>(&pictures));
    ZelPlay_Play(port, 0);
    const double t0 = nowSeconds(), c0 = threadCpuNow();
    int accepted = 0;
    for (const auto& r : records)
        accepted += ZelPlay_InputVideoData(port, r.data(), static_cast<uint32_t>(r.size()));
    ZelPlay_Stop(port);  // the end of the stream: the held pictures come out
    const double t = nowSeconds() - t0, c = threadCpuNow() - c0;
    ZelPlay_FreePort(port);
    if (use == PortUse::Shown)
        pictures = accepted;  // counted by the checking run
    if (accepted != static_cast<int>(records.size()) || pictures != accepted)
        std::fprintf(stderr, "port: %d frames taken, %d pictures\n", accepted, pictures);
    return {pictures / c, pictures / t};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int bframes = argc > 3 ? std::atoi(argv[3]) : 3;
    std::printf("encoding %d frames of 1920x1080 with %d B-frames ...\n", frames, bframes);
    const auto units = encode(1920, 1080, frames, 50, "veryfast", bframes);
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t i = 0; i < units.size(); ++i)
        records.push_back(record(units[i], i));
    portFps(records, PortUse::Callback);  // checks that every picture comes out
    struct Series {
        std::vector<double> cpu, wall;
        void add(const Rate& r) {
            cpu.push_back(r.cpuFps);
            wall.push_back(r.wallFps);
        }
    } direct, shown, callback, adjusted;
    for (int r = 0; r < rounds; ++r) {  // interleaved, so drift on a shared machine hits all
        direct.add(directFps(units));
        shown.add(portFps(records, PortUse::Shown));
        callback.add(portFps(records, PortUse::Callback));
        adjusted.add(portFps(records, PortUse::Adjusted));
    }
    const double d = median(direct.cpu), dw = median(direct.wall);
    std::printf("                        CPU-time fps  ratio   | wall fps  ratio\n");
    std::printf("libavcodec direct       %8.1f              | %8.1f\n", d, dw);
    auto line = [&](const char* what, const Series& s, const char* goal) {
        const double c = median(s.cpu), w = median(s.wall);
        std::printf("%-23s %8.1f      %.3f   | %8.1f  %.3f%s\n", what, c, c / d, w, w / dw, goal);
    };
    line("port, pictures shown", shown, "   (goal >= 0.95)");
    line("port, decode callback", callback, "");
    line("port, adjustment on", adjusted, "");
    return 0;
}
