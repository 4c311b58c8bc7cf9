#include "bench_media.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "h264/annexb.h"

namespace enginebench {

std::vector<Unit> encode(int width, int height, int frames, int gop, const std::string& preset,
                         int bframes) {
    char folder[] = "/tmp/bench_engine_XXXXXX";
    if (mkdtemp(folder) == nullptr)
        std::exit(2);
    const std::string out = std::string(folder) + "/s.h264";
    std::ostringstream cmd;
    cmd << "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=" << width
        << "x" << height << ":rate=25 -frames:v " << frames << " -c:v libx264 -preset " << preset
        << " -pix_fmt yuv420p -bf " << bframes << " -g " << gop
        << " -x264-params repeat-headers=1:scenecut=0 -f h264 " << out;
    if (std::system(cmd.str().c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        std::exit(2);
    }
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    rmdir(folder);
    std::vector<Unit> units;
    for (std::span<const uint8_t> unit : h264::splitAccessUnits(s)) {
        Unit u;
        u.bytes.assign(unit.begin(), unit.end());
        u.key = h264::isKeyAccessUnit(unit);
        u.startsWithSps = unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 &&
                          unit[3] == 1 && h264::nalType(unit.subspan(4)) == h264::kNalSps;
        units.push_back(std::move(u));
    }
    return units;
}

std::vector<uint8_t> record(const Unit& u, uint32_t index, uint32_t stampBase) {
    std::vector<uint8_t> r(40 + u.bytes.size(), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    r[0] = 0x62;
    put32(12, static_cast<uint32_t>(u.bytes.size()));
    r[16] = 25;
    put32(20, index + 1);
    put32(24, stampBase + 40 * index);
    put32(28, u.key ? (u.startsWithSps ? 3u : 1u) : 0u);
    std::memcpy(r.data() + 40, u.bytes.data(), u.bytes.size());
    return r;
}

struct DirectDecoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
};

DirectDecoder::DirectDecoder() : impl_(std::make_unique<Impl>()) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    impl_->ctx = avcodec_alloc_context3(codec);
    impl_->ctx->thread_count = 1;
    avcodec_open2(impl_->ctx, codec, nullptr);
    impl_->pkt = av_packet_alloc();
    impl_->frame = av_frame_alloc();
}

DirectDecoder::~DirectDecoder() {
    av_frame_free(&impl_->frame);
    av_packet_free(&impl_->pkt);
    avcodec_free_context(&impl_->ctx);
}

int DirectDecoder::decode(const std::vector<uint8_t>& au) {
    av_new_packet(impl_->pkt, static_cast<int>(au.size()));
    std::memcpy(impl_->pkt->data, au.data(), au.size());
    avcodec_send_packet(impl_->ctx, impl_->pkt);
    av_packet_unref(impl_->pkt);
    int got = 0;
    while (avcodec_receive_frame(impl_->ctx, impl_->frame) == 0) {
        ++got;
        av_frame_unref(impl_->frame);
    }
    return got;
}

int DirectDecoder::flush() {
    avcodec_send_packet(impl_->ctx, nullptr);
    int got = 0;
    while (avcodec_receive_frame(impl_->ctx, impl_->frame) == 0) {
        ++got;
        av_frame_unref(impl_->frame);
    }
    avcodec_flush_buffers(impl_->ctx);
    return got;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds(const std::string& name) {
    DIR* d = opendir("/proc/self/task");
    if (!d)
        return -1;
    double result = -1;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string n;
        std::getline(comm, n);
        if (n != name)
            continue;
        std::ifstream stat(base + "/stat");
        std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = all.rfind(')');
        std::istringstream rest(all.substr(close + 2));
        std::string field;
        unsigned long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stoul(field);
            if (i == 15)
                stime = std::stoul(field);
        }
        result = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    closedir(d);
    return result;
}

}  // namespace enginebench
