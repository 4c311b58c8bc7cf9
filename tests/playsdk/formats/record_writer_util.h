// Records made by the writer for the tests: frames whose bytes and sizes follow from their
// number, so that what is read back can be checked without keeping it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zelplay/custommp4.h"

namespace formats_test {

struct RecordPlan {
    int videoFrames = 0;
    int audioFrames = 0;
    uint32_t startTime = 1700000000;
    int gop = 25;                // a key frame every gop frames
    int firstKeyFrame = 0;       // no key frame before this one
    uint32_t videoCapacity = 0;  // 0: the writer's default
    uint32_t audioCapacity = 0;
    int audioFrameSize = 164;
};

inline uint32_t videoStamp(int i) {
    return static_cast<uint32_t>(i * 40 + (i % 3));  // 40 ms apart, slightly uneven
}
inline uint32_t audioStamp(int i) {
    return static_cast<uint32_t>(i * 30);
}
inline int videoSize(int i) {
    return 20 + (i * 37) % 200;
}
inline uint8_t videoType(const RecordPlan& p, int i) {
    if (i < p.firstKeyFrame || i % p.gop != 0) {
        return 1;
    }
    return (i / p.gop) % 2 == 0 ? 5 : 3;
}
inline std::vector<uint8_t> videoBytes(int i) {
    std::vector<uint8_t> b(static_cast<size_t>(videoSize(i)));
    for (size_t k = 0; k < b.size(); ++k) {
        b[k] = static_cast<uint8_t>(i * 7 + k);
    }
    return b;
}
inline std::vector<uint8_t> audioBytes(const RecordPlan& p, int i) {
    std::vector<uint8_t> b(static_cast<size_t>(p.audioFrameSize));
    for (size_t k = 0; k < b.size(); ++k) {
        b[k] = static_cast<uint8_t>(i * 3 + k * 5);
    }
    return b;
}

// Writes the plan with frames interleaved in time-stamp order. Returns false on any failure.
inline bool writeRecord(const std::string& path, const RecordPlan& p, uint8_t mode = 1,
                        uint32_t baseOffset = 0) {
    custommp4_t* h = custommp4_open(path.c_str(), mode, baseOffset);
    if (h == nullptr) {
        return false;
    }
    bool ok = custommp4_set_start_time(h, p.startTime) == 1;
    if (p.videoCapacity != 0) {
        ok = ok && custommp4_set_index_capacity(h, p.videoCapacity, p.audioCapacity) == 1;
    }
    if (p.videoFrames > 0) {
        ok = ok && custommp4_set_video_format(h, 320, 240, 25.0f, 256000, "H264") == 1;
    }
    if (p.audioFrames > 0) {
        ok = ok && custommp4_set_audio_format(h, "PCMA", 8000, 16, 1, p.audioFrameSize, 30) == 1;
    }
    int v = 0, a = 0;
    while (ok && (v < p.videoFrames || a < p.audioFrames)) {
        bool takeVideo =
            a >= p.audioFrames || (v < p.videoFrames && videoStamp(v) <= audioStamp(a));
        if (takeVideo) {
            auto bytes = videoBytes(v);
            ok = custommp4_write_video_frame(h, bytes.data(), static_cast<int>(bytes.size()),
                                             videoStamp(v), videoType(p, v)) == 1;
            ++v;
        } else {
            auto bytes = audioBytes(p, a);
            ok = custommp4_write_audio_frame(h, bytes.data(), static_cast<int>(bytes.size()),
                                             audioStamp(a)) == 1;
            ++a;
        }
    }
    custommp4_close(h);
    return ok;
}

}  // namespace formats_test
