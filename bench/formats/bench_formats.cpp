// Benchmarks of the record and AVI readers, each against a baseline measured in the same
// run on the same file:
//   record: open + read every frame of a one-hour record (90 000 video frames at 25 fps and
//           its voice frames), and 1000 random seeks each followed by a frame read; baseline:
//           reading the whole file sequentially with fread.
//   AVI:    open (with the index) of a one-hour AVI; baseline: avformat_open_input +
//           avformat_find_stream_info on the same file. Also the index rebuilt by a scan.
// Usage: bench_formats [folder for the scratch files, default /tmp]
extern "C" {
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "format_handles.h"

namespace {

using Clock = std::chrono::steady_clock;
using zelplay::formats::AviPtr;
using zelplay::formats::RecordPtr;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Best of n runs, in ms.
template <typename F>
double best(int n, F&& f) {
    double b = 1e300;
    for (int i = 0; i < n; ++i) {
        auto t0 = Clock::now();
        f();
        b = std::min(b, msSince(t0));
    }
    return b;
}

constexpr int kVideoFrames = 90000;  // one hour at 25 fps
constexpr int kVideoBytes = 900;
constexpr int kVoiceBytes = 324;  // 40 ms A-law voice frame

bool makeHourRecord(const std::string& path) {
    RecordPtr h(custommp4_open(path.c_str(), 1, 0));
    if (!h) {
        return false;
    }
    custommp4_set_start_time(h.get(), 1700000000);
    custommp4_set_video_format(h.get(), 352, 288, 25.0f, 180000, "H264");
    custommp4_set_audio_format(h.get(), "PCMA", 8000, 16, 1, kVoiceBytes, 40);
    std::vector<uint8_t> video(kVideoBytes, 0x11), voice(kVoiceBytes, 0x22);
    video[3] = 1;
    voice[1] = 1;
    for (int i = 0; i < kVideoFrames; ++i) {
        uint32_t ts = static_cast<uint32_t>(i) * 40;
        if (custommp4_write_video_frame(h.get(), video.data(), kVideoBytes, ts,
                                        i % 50 == 0 ? 5 : 1) != 1 ||
            custommp4_write_audio_frame(h.get(), voice.data(), kVoiceBytes, ts) != 1) {
            return false;
        }
    }
    return true;
}

void recordBench(const std::string& dir) {
    std::string path = dir + "/bench_hour.ifv";
    auto t0 = Clock::now();
    if (!makeHourRecord(path)) {
        fprintf(stderr, "bench: cannot write %s\n", path.c_str());
        return;
    }
    double writeMs = msSince(t0);
    long size = static_cast<long>(std::filesystem::file_size(path));

    std::vector<uint8_t> buf(1 << 16);
    double rawMs = best(3, [&] {
        FILE* f = fopen(path.c_str(), "rb");
        while (fread(buf.data(), 1, buf.size(), f) > 0) {
        }
        fclose(f);
    });
    long frames = 0;
    double readMs = best(3, [&] {
        RecordPtr h(custommp4_open(path.c_str(), 0, 0));
        frames = 0;
        while (custommp4_read_video_frame(h.get(), buf.data(), static_cast<int>(buf.size()),
                                          nullptr, nullptr, nullptr) > 0) {
            ++frames;
        }
        while (custommp4_read_audio_frame(h.get(), buf.data(), static_cast<int>(buf.size()),
                                          nullptr, nullptr) > 0) {
            ++frames;
        }
    });
    double openMs = best(5, [&] { RecordPtr h(custommp4_open(path.c_str(), 0, 0)); });
    RecordPtr h(custommp4_open(path.c_str(), 0, 0));
    std::mt19937 rng(42);
    std::uniform_int_distribution<uint32_t> when(0, kVideoFrames * 40);
    int found = 0;
    double seekMs = best(3, [&] {
        for (int i = 0; i < 1000; ++i) {
            found += custommp4_seek_to_time_stamp(h.get(), when(rng)) == 1;
            custommp4_read_video_frame(h.get(), buf.data(), static_cast<int>(buf.size()), nullptr,
                                       nullptr, nullptr);
        }
    });
    printf("record: one hour, %ld bytes, %u segments, written in %.0f ms\n", size,
           custommp4_segment_count(h.get()), writeMs);
    printf("record: open                         %8.2f ms\n", openMs);
    printf("record: open + read all %ld frames %8.1f ms  (%.0f frames/s)\n", frames, readMs,
           frames / readMs * 1000.0);
    printf("baseline: fread of the whole file    %8.1f ms\n", rawMs);
    printf("ratio read-all / fread               %8.2f\n", readMs / rawMs);
    printf("record: 1000 random seeks + read     %8.1f ms  (%.1f us per seek, %d found)\n", seekMs,
           seekMs, found);
    std::filesystem::remove(path);
}

void aviBench(const std::string& dir) {
    std::string clip = dir + "/bench_clip.avi", hour = dir + "/bench_hour.avi";
    std::string make =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc2=size=352x288:rate=25 -f lavfi -i sine=sample_rate=8000 -t 10 -c:v libx264 "
        "-preset ultrafast -g 50 -pix_fmt yuv420p -c:a pcm_s16le -ac 1 '" +
        clip + "' && ffmpeg -hide_banner -loglevel error -nostdin -y -stream_loop 359 -i '" + clip +
        "' -c copy '" + hour + "'";
    if (system(make.c_str()) != 0) {
        fprintf(stderr, "bench: cannot make the AVI with ffmpeg\n");
        return;
    }
    long frames = 0;
    double readerMs = best(5, [&] {
        AviPtr h(avi_reader_open(hour.c_str(), 1));
        frames = h ? avi_reader_video_frames(h.get()) : -1;
    });
    double ffmpegMs = best(5, [&] {
        AVFormatContext* ctx = nullptr;
        if (avformat_open_input(&ctx, hour.c_str(), nullptr, nullptr) == 0) {
            avformat_find_stream_info(ctx, nullptr);
            avformat_close_input(&ctx);
        }
    });
    // The same file without its index: the reader scans "movi".
    std::string scanned = dir + "/bench_noindex.avi";
    std::string junk = "cp '" + hour + "' '" + scanned +
                       "' && perl -0777 -pi -e 's/idx1/JUNK/g; s/indx/JUNK/g' '" + scanned + "'";
    double scanMs = -1;
    if (system(junk.c_str()) == 0) {
        // The rebuild announces itself on standard error: keep the figures readable.
        fflush(stderr);
        int saved = dup(STDERR_FILENO);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        scanMs = best(3, [&] { AviPtr h(avi_reader_open(scanned.c_str(), 1)); });
        dup2(saved, STDERR_FILENO);
        close(saved);
        close(devNull);
    }
    printf("avi: one hour, %ld video frames, %ld bytes\n", frames,
           static_cast<long>(std::filesystem::file_size(hour)));
    printf("avi: avi_reader_open with index       %8.2f ms\n", readerMs);
    printf("baseline: avformat_open_input + find_stream_info %8.2f ms\n", ffmpegMs);
    printf("ratio reader / FFmpeg                 %8.2f\n", readerMs / ffmpegMs);
    if (scanMs >= 0) {
        printf("avi: open with the index rebuilt      %8.2f ms  (ratio to FFmpeg %.2f)\n", scanMs,
               scanMs / ffmpegMs);
    }
    std::filesystem::remove(clip);
    std::filesystem::remove(hour);
    std::filesystem::remove(scanned);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "/tmp";
    av_log_set_level(AV_LOG_ERROR);
    recordBench(dir);
    aviBench(dir);
    return 0;
}
