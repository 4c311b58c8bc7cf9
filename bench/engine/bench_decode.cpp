// Real-time (mode 0) decode throughput of a 1920 x 1080 stream through a port, with the
// picture adjustment off and on, against libavcodec decoding the same access units
// directly with the same settings, in the same run.
//
//   bench_engine_decode [frames=200] [rounds=3]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_media.h"
#include "zelplay.h"

using namespace enginebench;

namespace {

double directFps(const std::vector<Unit>& units) {
    DirectDecoder dec;
    const double t0 = nowSeconds();
    int pictures = 0;
    for (const Unit& u : units)
        pictures += dec.decode(u.bytes) ? 1 : 0;
    const double t = nowSeconds() - t0;
    if (pictures != static_cast<int>(units.size()))
        std::fprintf(stderr, "direct: %d pictures\n", pictures);
    return pictures / t;
}

double portFps(const std::vector<std::vector<uint8_t>>& records, bool adjust) {
    ZELPLAY_PORT port = 0;
    ZelPlay_GetPort(&port);
    ZelPlay_OpenStream(port, 0);
    if (adjust)
        ZelPlay_SetColor(port, 72, 80, 50, 70);
    ZelPlay_Play(port, 0);
    const double t0 = nowSeconds();
    int pictures = 0;
    for (const auto& r : records)
        pictures += ZelPlay_InputVideoData(port, r.data(), static_cast<uint32_t>(r.size()));
    const double t = nowSeconds() - t0;
    ZelPlay_FreePort(port);
    if (pictures != static_cast<int>(records.size()))
        std::fprintf(stderr, "port: %d pictures\n", pictures);
    return pictures / t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::printf("encoding %d frames of 1920x1080 ...\n", frames);
    const auto units = encode(1920, 1080, frames, 50, "veryfast");
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t i = 0; i < units.size(); ++i)
        records.push_back(record(units[i], i));
    std::vector<double> direct, plain, adjusted;
    for (int r = 0; r < rounds; ++r) {  // interleaved, so drift on a shared machine hits all three
        direct.push_back(directFps(units));
        plain.push_back(portFps(records, false));
        adjusted.push_back(portFps(records, true));
    }
    const double d = median(direct), p = median(plain), a = median(adjusted);
    std::printf("libavcodec direct      %8.1f fps\n", d);
    std::printf("port, adjustment off   %8.1f fps  ratio %.3f (goal >= 0.95)\n", p, p / d);
    std::printf("port, adjustment on    %8.1f fps  ratio %.3f\n", a, a / d);
    return 0;
}
