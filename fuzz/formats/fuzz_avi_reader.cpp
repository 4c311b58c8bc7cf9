// AVI reader on arbitrary bytes: open with and without an index, read every video frame and
// the audio of every track, by chunk and by byte.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "fuzz_file.h"
#include "zelplay/avilib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzfile::QuietStderr quiet;
    if (!fuzzfile::writeInput(data, size)) {
        return 0;
    }
    const char* path = fuzzfile::scratchPath().c_str();
    if (avi_reader_t* bare = avi_reader_open(path, 0)) {
        avi_reader_read_video(bare, nullptr, nullptr);
        avi_reader_close(bare);
    }
    avi_reader_t* h = avi_reader_open(path, 1);
    if (h == nullptr) {
        return 0;
    }
    std::vector<uint8_t> buf(8192);
    long frames = avi_reader_video_frames(h);
    for (long i = 0; i < frames; ++i) {
        int key = 0;
        long size = avi_reader_frame_size(h);
        if (avi_reader_read_video_bounded(h, buf.data(), static_cast<long>(buf.size()), &key) < 0) {
            // The unbounded read, as a caller that sized its buffer by the frame does.
            std::vector<uint8_t> exact(static_cast<size_t>(std::clamp(size, 0L, 1L << 20)));
            if (size >= 0 && size <= (1L << 20)) {
                avi_reader_read_video(h, exact.data(), &key);
            } else {
                avi_reader_read_video(h, nullptr, &key);
            }
        }
    }
    avi_reader_seek_video(h, frames / 2);
    avi_reader_read_video_bounded(h, buf.data(), static_cast<long>(buf.size()), nullptr);
    for (int t = 0; t < avi_reader_audio_tracks(h); ++t) {
        avi_reader_set_audio_track(h, t);
        long chunks = avi_reader_audio_chunks(h);
        for (long c = 0; c < chunks; ++c) {
            avi_reader_audio_chunk_size(h, c);
        }
        avi_reader_seek_audio_byte(h, avi_reader_audio_bytes(h) / 2);
        avi_reader_read_audio(h, buf.data(), 100);
        avi_reader_read_audio(h, buf.data(), 0);
        avi_reader_seek_audio_chunk(h, 0);
        // Chunk entries may overlap in a hostile index: read a bounded amount.
        for (int i = 0; i < 64; ++i) {
            if (avi_reader_read_audio(h, buf.data(), static_cast<long>(buf.size())) <= 0) {
                break;
            }
        }
    }
    avi_reader_close(h);
    return 0;
}
