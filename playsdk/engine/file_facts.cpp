#include "file_facts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "files/regular_file.h"
#include "format_handles.h"

namespace zelplay {

using formats::AviPtr;
using formats::RecordPtr;

namespace {

constexpr uint32_t kAssumedFrameMs = 40;  // AVI duration when the headers give no rate

// Length of a stream in ms from its sample count and rate, rounded as the stream headers'
// own sample-to-time conversion does.
uint32_t samplesToMs(double samples, double perSecond) {
    if (perSecond <= 0.0)
        return 0;
    return static_cast<uint32_t>(std::llround(samples * 1000.0 / perSecond));
}

}  // namespace

std::optional<FileKind> fileKindOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    const std::string ext = path.substr(dot + 1);
    if (ext == "ifv")
        return FileKind::Record;
    if (ext == "avi")
        return FileKind::Avi;
    return FileKind::Other;
}

bool fileReadable(const std::string& path) {
    const int fd = files::openRegular(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::optional<RecordFacts> readRecordFacts(const std::string& path, uint32_t baseOffset) {
    RecordPtr record(custommp4_open(path.c_str(), CUSTOMMP4_MODE_READ, baseOffset));
    if (!record)
        return std::nullopt;
    custommp4_t* h = record.get();
    RecordFacts f;
    f.startTime = custommp4_start_time(h);
    f.endTime = custommp4_end_time(h);
    f.durationMs = custommp4_duration(h);
    f.videoFrames = custommp4_video_frames(h);
    f.audioFrames = custommp4_audio_frames(h);
    f.width = custommp4_video_width(h);
    f.height = custommp4_video_height(h);
    f.frameRate = custommp4_video_frame_rate(h);
    f.audioBits = custommp4_audio_bits_per_sample(h);
    return f;
}

namespace {

std::optional<MediaFacts> readRecordMediaFacts(const std::string& path, uint32_t baseOffset) {
    RecordPtr record(custommp4_open(path.c_str(), CUSTOMMP4_MODE_READ, baseOffset));
    if (!record)
        return std::nullopt;
    custommp4_t* h = record.get();
    MediaFacts f;
    f.width = custommp4_video_width(h) & 0xFFFF;
    f.height = custommp4_video_height(h) & 0xFFFF;
    f.startTime = custommp4_start_time(h);
    f.frameRate = custommp4_video_frame_rate(h);
    f.durationMs = custommp4_duration(h);
    f.hasAudio = custommp4_has_audio(h) != 0;
    f.audioBits = custommp4_audio_bits_per_sample(h);
    uint64_t videoBytes = 0;
    while (const int size = custommp4_skip_video_frame(h))
        videoBytes += static_cast<uint64_t>(size);
    if (f.durationMs != 0)
        f.bitRate = static_cast<uint32_t>(videoBytes / f.durationMs);
    return f;
}

}  // namespace

std::optional<MediaFacts> readAviFacts(const std::string& path) {
    AviPtr avi(avi_reader_open(path.c_str(), 1));
    if (!avi)
        return std::nullopt;
    avi_reader_t* h = avi.get();
    MediaFacts f;
    const long frames = avi_reader_video_frames(h);
    f.frameCount = frames > 0 ? static_cast<uint32_t>(frames) : 0;
    f.width = avi_reader_width(h);
    f.height = avi_reader_height(h);
    f.frameRate = avi_reader_frame_rate(h);
    f.audioBits = avi_reader_audio_bits(h);
    f.hasAudio = f.audioBits > 0;
    if (f.hasAudio) {
        f.audioChannels = avi_reader_audio_channels(h);
        f.audioFormat = avi_reader_audio_format(h);
        f.audioChunks = avi_reader_audio_chunks(h);
        f.audioRate = avi_reader_audio_rate(h);
        f.audioBytesPerSecond =
            static_cast<uint32_t>((f.audioBits + 7) / 8 * f.audioChannels * f.audioRate);
        f.audioBytes = avi_reader_audio_bytes(h);
        f.audioDurationMs = samplesToMs(static_cast<double>(f.audioBytes), f.audioBytesPerSecond);
    }
    uint64_t videoBytes = 0;
    for (long i = 0; i < frames; ++i) {
        const long size = avi_reader_read_video(h, nullptr, nullptr);
        if (size > 0)
            videoBytes += static_cast<uint64_t>(size);
    }
    // Start and length of the video stream, from its stream header.
    f.startTime = static_cast<uint32_t>(std::max(0L, avi_reader_video_start(h)));
    f.durationMs = f.frameRate > 0.0 ? samplesToMs(static_cast<double>(f.frameCount), f.frameRate)
                                     : f.frameCount * kAssumedFrameMs;
    if (f.durationMs != 0)
        f.bitRate = static_cast<uint32_t>(videoBytes / f.durationMs * 1000 / 1024);
    return f;
}

std::optional<MediaFacts> readMediaFacts(const std::string& path, uint32_t baseOffset) {
    const std::optional<FileKind> kind = fileKindOf(path);
    if (kind == FileKind::Record)
        return readRecordMediaFacts(path, baseOffset);
    if (kind == FileKind::Avi)
        return readAviFacts(path);
    return std::nullopt;
}

}  // namespace zelplay
