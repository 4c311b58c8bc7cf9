// Facts of record and AVI files: what opening a file for play and the media information
// query learn from the file's headers (and, for the bit rate, from its frame index).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelplay {

enum class FileKind : int { Record = 0, Avi = 1, Other = 2 };

// The kind named by the text after the last '.' of the path ("ifv" or "avi", case
// sensitive); nullopt when the path has no '.'.
std::optional<FileKind> fileKindOf(const std::string& path);

// What the record's headers say, read when a record is opened for play.
struct RecordFacts {
    uint32_t startTime = 0;  // seconds since 1970
    uint32_t endTime = 0;    // seconds since 1970
    uint32_t durationMs = 0;
    uint32_t videoFrames = 0;
    uint32_t audioFrames = 0;
    int width = 0;
    int height = 0;
    float frameRate = 0.0f;
    int audioBits = 0;
};
// Nullopt when the record cannot be opened at that base offset.
std::optional<RecordFacts> readRecordFacts(const std::string& path, uint32_t baseOffset);

// The media facts of a file (record or AVI), as the media information query reports them;
// the audio fields are filled for AVI files.
struct MediaFacts {
    int width = 0;
    int height = 0;
    uint32_t startTime = 0;   // record: seconds since 1970; AVI: the video stream's start
    uint32_t frameCount = 0;  // AVI only; 0 for records
    double frameRate = 0.0;
    uint32_t durationMs = 0;
    uint32_t bitRate = 0;  // record: bytes per ms; AVI: kilobytes per second
    bool hasAudio = false;

    int audioBits = 0;
    int audioChannels = 0;
    int audioFormat = 0;  // the AVI format tag: 1 PCM, 6 A-law, 7 mu-law, ...
    long audioRate = 0;
    uint32_t audioBytesPerSecond = 0;
    int64_t audioBytes = 0;
    long audioChunks = 0;
    uint32_t audioDurationMs = 0;
};
// Nullopt when the file cannot be read as its kind (or the kind is neither).
std::optional<MediaFacts> readMediaFacts(const std::string& path, uint32_t baseOffset);
std::optional<MediaFacts> readAviFacts(const std::string& path);

// Whether path names a regular file that can be opened for reading (a FIFO or a device is
// refused at once, without waiting for anybody on its other end).
bool fileReadable(const std::string& path);

}  // namespace zelplay
