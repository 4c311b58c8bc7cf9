// Record reader on arbitrary bytes: open at offset 0 and at a small base offset taken from
// the input, read every frame, pass over frames and seek.
#include <cstdio>
#include <vector>

#include "fuzz_file.h"
#include "zelplay/custommp4.h"

static void exercise(const char* path, uint32_t base, size_t inputSize) {
    custommp4_t* h = custommp4_open(path, 0, base);
    if (h == nullptr) {
        return;
    }
    std::vector<uint8_t> buf(4096);
    // Every frame read or passed over costs at least a table entry of the input, so the
    // loops are bounded by its size.
    size_t limit = inputSize / 24 + 4;
    for (size_t i = 0; i < limit; ++i) {
        uint32_t ts;
        int32_t dur;
        uint8_t type;
        custommp4_read_video_frame(h, buf.data(), static_cast<int>(buf.size()), &ts, &dur, &type);
        custommp4_read_audio_frame(h, buf.data(), static_cast<int>(buf.size()), &ts, &dur);
    }
    custommp4_seek_to_time_stamp(h, 0);
    custommp4_seek_to_time_stamp(h, 1700);
    custommp4_seek_to_time(h, custommp4_start_time(h) + 1);
    for (size_t i = 0; i < limit; ++i) {
        custommp4_skip_video_frame(h);
    }
    custommp4_duration(h);
    custommp4_close(h);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The readers print their diagnostics on standard output; keep the fuzzer's log short.
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    if (!fuzzfile::writeInput(data, size)) {
        return 0;
    }
    exercise(fuzzfile::scratchPath().c_str(), 0, size);
    if (size > 8) {
        exercise(fuzzfile::scratchPath().c_str(), data[size - 1] % 64, size);
    }
    return 0;
}
