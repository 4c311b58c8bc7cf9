// Record files: a chain of segments behind four header objects, each segment holding a
// video and an audio index table and the frame data. The reader walks the segment headers
// at open time, keeps one segment's index tables in memory per stream and loads others as
// frames are read or seeks land; the writer appends frames and closes a segment when one of
// its index tables is full.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

#include "files/regular_file.h"
#include "le_bytes.h"
#include "zelplay/custommp4.h"

namespace {

using zelplay::formats::loadU16;
using zelplay::formats::loadU32;
using zelplay::formats::storeU16;
using zelplay::formats::storeU32;

// Sizes of the header objects and index entries.
constexpr int kFileObjSize = 68;
constexpr int kVideoObjSize = 56;
constexpr int kAudioObjSize = 48;
constexpr int kListObjSize = 28;
constexpr int kSegmentObjSize = 48;
constexpr int kHeadersSize = kFileObjSize + kVideoObjSize + kAudioObjSize + kListObjSize;  // 200
constexpr int kVideoEntrySize = 28;
constexpr int kAudioEntrySize = 24;

// Entries reserved per segment by the writer, and the initial index buffers of the reader.
constexpr uint32_t kVideoIndexCapacity = 3000;
constexpr uint32_t kAudioIndexCapacity = 4000;

// No byte at or beyond this absolute position is read or written.
constexpr int64_t kPositionLimit = 0x8000000;

// Key frames seeking may land on, and how far before the target they may lie.
constexpr uint8_t kKeyFrameType = 3;
constexpr uint8_t kIdrFrameType = 5;
constexpr uint32_t kSeekLeadMs = 1600;

// Durations of the last frames of a record.
constexpr int32_t kLastVideoDurationMs = 40;
constexpr int32_t kLastAudioDurationMs = 30;

constexpr uint8_t kFileObjId[16] = {0x11, 0xD2, 0xD3, 0xAB, 0xBA, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kVideoObjId[16] = {0x41, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                                     0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
constexpr uint8_t kAudioObjId[16] = {0xE3, 0xCB, 0x1A, 0x4B, 0x0B, 0x10, 0xD0, 0x11,
                                     0xA3, 0x9B, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
constexpr uint8_t kListObjId[16] = {0x20, 0xDB, 0xFE, 0x4C, 0xF6, 0x75, 0xCF, 0x11,
                                    0x9C, 0x0F, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr uint8_t kSegmentObjId[16] = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                       0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

// Field offsets inside the header objects.
namespace fileobj {
constexpr int kLabel = 20, kStart = 52, kEnd = 56, kLength = 60, kVideoFlag = 64, kAudioFlag = 65;
}
namespace videoobj {
constexpr int kTimescale = 20, kWidth = 24, kHeight = 26, kFrameRate = 28, kBitRate = 32,
              kCodec = 36, kHorzRes = 40, kVertRes = 44, kBitsPerPixel = 48;
}
namespace audioobj {
constexpr int kTimescale = 20, kChannels = 24, kBits = 26, kRate = 28, kCodec = 32, kFrameSize = 36,
              kFrameDuration = 40;
}
namespace listobj {
constexpr int kSegments = 20;
}

struct SegmentEntry {
    int64_t position = 0;  // absolute position S of the segment header
    uint32_t firstTimeStamp = 0;
    uint32_t lastTimeStamp = 0;
    uint32_t videoCount = 0;
    uint32_t audioCount = 0;
    uint32_t videoCapacity = 0;
    uint32_t audioCapacity = 0;
};

struct VideoEntry {
    int64_t position;  // absolute in memory, relative to the base offset on disk
    uint32_t size;
    uint32_t timeStamp;
    uint8_t type;
};

struct AudioEntry {
    int64_t position;
    uint32_t timeStamp;
};

enum class LastIo { kNone, kRead, kWrite };

}  // namespace

struct custommp4_s {
    FILE* file = nullptr;
    uint8_t mode = 0;
    uint32_t baseOffset = 0;
    int64_t filePos = 0;     // logical position, absolute
    int64_t streamPos = -1;  // where the stdio stream stands, -1 unknown
    LastIo lastIo = LastIo::kNone;
    int64_t fileSize = 0;  // at open, for checking sizes read from the record

    uint8_t fileObj[kFileObjSize] = {};
    uint8_t videoObj[kVideoObjSize] = {};
    uint8_t audioObj[kAudioObjSize] = {};
    uint8_t listObj[kListObjSize] = {};

    std::vector<SegmentEntry> segments;
    std::vector<uint64_t> videoBefore;  // video frames in the segments before each one
    std::vector<uint64_t> audioBefore;
    uint32_t totalVideo = 0;
    uint32_t totalAudio = 0;

    // Everything below is guarded by frameLock (frame reading, passing over, seeking,
    // writing), together with the file and its positions above.
    std::mutex frameLock;
    std::vector<VideoEntry> videoIndex;  // entries of the loaded segment; capacity only grows
    std::vector<AudioEntry> audioIndex;
    int currentSegment = 0;
    uint32_t keyFrameIndex = 0;
    uint32_t audioSeekIndex = 0;
    int loadedVideoSegment = -1;
    int loadedAudioSegment = -1;
    uint32_t nextVideo = 0;
    uint32_t nextAudio = 0;

    // Writer: the open segment is segments.back(); its entries are kept here until it is
    // closed, with positions relative to the base offset.
    bool segmentHasSpace = false;  // index space of the open segment reserved
    int64_t dataEnd = 0;           // absolute end of the written frame data
    std::vector<VideoEntry> pendingVideo;
    std::vector<AudioEntry> pendingAudio;
    uint32_t lastVideoTimeStamp = 0;
    uint32_t lastAudioTimeStamp = 0;
    uint32_t writeVideoCapacity = kVideoIndexCapacity;  // entries reserved per segment
    uint32_t writeAudioCapacity = kAudioIndexCapacity;
    // errno of the first write, flush or positioning that failed; once set, no more frames
    // are taken, since what reached the file is no longer known.
    int writeErrno = 0;
};

namespace {

int64_t clampU32(int64_t v) {
    return std::clamp<int64_t>(v, 0, UINT32_MAX);
}

// Brings the stdio stream to the logical position; prints the caller's messages on failure.
bool positionStream(custommp4_t* h, const char* who, LastIo next) {
    bool switching = h->lastIo != LastIo::kNone && h->lastIo != next;
    if (h->streamPos == h->filePos && !switching) {
        return true;
    }
    int result = fseeko(h->file, static_cast<off_t>(h->filePos), SEEK_SET);
    if (result != 0) {
        int err = errno;
        printf("%s:fseek error=%d,errno=%d,errstr=%s\n", who, result, err, strerror(err));
        printf("%s:right_pos=%ld,real_pos=%d\n", who, static_cast<long>(h->filePos),
               static_cast<int>(ftello(h->file)));
        h->streamPos = -1;
        return false;
    }
    h->streamPos = h->filePos;
    return true;
}

int readData(custommp4_t* h, void* buffer, size_t length) {
    if (h->filePos >= kPositionLimit) {
        printf("custommp4_read_data:file_pos=%ld\n", static_cast<long>(h->filePos));
        return 0;
    }
    if (!positionStream(h, "custommp4_read_data", LastIo::kRead)) {
        return 0;
    }
    h->lastIo = LastIo::kRead;
    size_t items = length == 0 ? 0 : fread(buffer, length, 1, h->file);
    h->filePos += static_cast<int64_t>(length);
    h->streamPos = items == 1 ? h->filePos : -1;
    return static_cast<int>(items);
}

void noteWriteError(custommp4_t* h, int err) {
    if (h->writeErrno == 0) {
        h->writeErrno = err != 0 ? err : EIO;
    }
}

// Returns false when the bytes did not all reach the stream (the error is kept in the handle).
bool writeData(custommp4_t* h, const void* data, size_t length) {
    if (h->filePos >= kPositionLimit) {
        printf("custommp4_write_data:file_pos=%ld\n", static_cast<long>(h->filePos));
    }
    bool positioned = positionStream(h, "custommp4_write_data", LastIo::kWrite);
    int err = positioned ? 0 : errno;
    h->lastIo = LastIo::kWrite;
    size_t items = length == 0 ? 0 : fwrite(data, length, 1, h->file);
    if (length != 0 && items != 1 && err == 0) {
        err = errno;
    }
    h->filePos += static_cast<int64_t>(length);
    h->streamPos = items == 1 ? h->filePos : -1;
    bool ok = positioned && (length == 0 || items == 1);
    if (!ok) {
        noteWriteError(h, err);
    }
    return ok;
}

// Closes the file and frees the handle; returns the errno of a failed fclose, else 0.
int destroyHandle(custommp4_t* h) {
    int closeErrno = 0;
    if (h->file != nullptr) {
        int result = fclose(h->file);
        if (result != 0) {
            int err = errno;
            printf("custommp4_destroy:fclose error=%d,errno=%d,errstr=%s\n", result, err,
                   strerror(err));
            closeErrno = err != 0 ? err : EIO;
        }
        h->file = nullptr;
    }
    delete h;
    return closeErrno;
}

// ---- reading the record structure ----

int64_t audioTablePosition(const SegmentEntry& s) {
    return s.position + kSegmentObjSize + static_cast<int64_t>(s.videoCapacity) * kVideoEntrySize;
}

// Whether count entries of entrySize bytes at position lie inside the file; a table that
// does not is not read (and its buffer not grown), whatever the count claims.
bool tableFits(const custommp4_t* h, int64_t position, uint32_t count, int entrySize) {
    return position + static_cast<int64_t>(count) * entrySize <= h->fileSize;
}

bool readSegmentObject(custommp4_t* h, int i) {
    int64_t start = h->filePos;
    uint8_t obj[kSegmentObjSize];
    if (readData(h, obj, sizeof obj) != 1) {
        printf("ReadmdatSegmentObject%d (offset:%d) failed 1\n", i + 1, static_cast<int>(start));
        return false;
    }
    if (memcmp(obj, kSegmentObjId, 16) != 0) {
        printf("ReadmdatSegmentObject%d (offset:%d) failed 2\n", i + 1, static_cast<int>(start));
        return false;
    }
    uint32_t size = loadU32(obj + 16);
    if (size < kSegmentObjSize) {
        printf("ReadmdatSegmentObject%d (offset:%d) failed 3\n", i + 1, static_cast<int>(start));
        return false;
    }
    SegmentEntry s;
    s.position = start;
    s.videoCount = loadU32(obj + 28);
    s.audioCount = loadU32(obj + 32);
    s.videoCapacity = loadU32(obj + 36);
    // Index tables that lie beyond the end of the file mark a damaged segment: its frame
    // counts cannot be believed, and they would make every later count wrong.
    if (!tableFits(h, start + kSegmentObjSize, s.videoCount, kVideoEntrySize) ||
        !tableFits(h, audioTablePosition(s), s.audioCount, kAudioEntrySize)) {
        printf("ReadmdatSegmentObject%d (offset:%d) failed 4\n", i + 1, static_cast<int>(start));
        return false;
    }
    s.position = start;
    s.firstTimeStamp = loadU32(obj + 20);
    s.lastTimeStamp = loadU32(obj + 24);
    s.videoCount = loadU32(obj + 28);
    s.audioCount = loadU32(obj + 32);
    s.videoCapacity = loadU32(obj + 36);
    s.audioCapacity = loadU32(obj + 40);
    h->segments.push_back(s);
    h->filePos = start + size;
    return true;
}

enum class LoadStyle { kPair, kSingle };

// Reads one segment's index table of `count` entries of `entrySize` bytes at `position` into
// `index`, each entry made by `decode`. `kind` ("video" or "audio") names the table in the
// messages, which differ between the paired load and the single-table load.
template <typename Entry, typename Decode>
bool loadTable(custommp4_t* h, int64_t position, uint32_t count, size_t entrySize,
               std::vector<Entry>& index, const char* kind, LoadStyle style, Decode decode) {
    const bool pair = style == LoadStyle::kPair;
    auto fail = [&](const char* pairReason, const char* singleReason) {
        printf("read %s index table failed%s\n", kind, pair ? pairReason : singleReason);
        return false;
    };
    if (!tableFits(h, position, count, entrySize))
        return fail(":read", " 2");
    std::vector<uint8_t> raw;
    try {
        if (count > index.capacity())
            index.reserve(count);
        raw.resize(static_cast<size_t>(count) * entrySize);
    } catch (const std::bad_alloc&) {
        return fail(":realloc", " 1");
    }
    if (count != 0) {
        h->filePos = position;
        if (readData(h, raw.data(), raw.size()) != 1)
            return fail(":read", " 2");
    }
    index.clear();
    for (uint32_t k = 0; k < count; ++k)
        index.push_back(decode(raw.data() + static_cast<size_t>(k) * entrySize));
    return true;
}

bool loadVideoTable(custommp4_t* h, int seg, LoadStyle style) {
    const SegmentEntry& s = h->segments[seg];
    const bool loaded = loadTable(h, s.position + kSegmentObjSize, s.videoCount, kVideoEntrySize,
                                  h->videoIndex, "video", style, [h](const uint8_t* e) {
                                      return decltype(h->videoIndex)::value_type{
                                          static_cast<int64_t>(loadU32(e)) + h->baseOffset,
                                          loadU32(e + 4), loadU32(e + 16), e[20]};
                                  });
    if (loaded)
        h->loadedVideoSegment = seg;
    return loaded;
}

bool loadAudioTable(custommp4_t* h, int seg, LoadStyle style) {
    const SegmentEntry& s = h->segments[seg];
    const bool loaded =
        loadTable(h, audioTablePosition(s), s.audioCount, kAudioEntrySize, h->audioIndex, "audio",
                  style, [h](const uint8_t* e) {
                      return decltype(h->audioIndex)::value_type{
                          static_cast<int64_t>(loadU32(e)) + h->baseOffset, loadU32(e + 16)};
                  });
    if (loaded)
        h->loadedAudioSegment = seg;
    return loaded;
}

bool loadIndexTables(custommp4_t* h, int seg) {
    if (!loadVideoTable(h, seg, LoadStyle::kPair) || !loadAudioTable(h, seg, LoadStyle::kPair)) {
        return false;
    }
    h->currentSegment = seg;
    h->keyFrameIndex = 0;
    h->audioSeekIndex = 0;
    return true;
}

// Segment and index inside it of frame n, over the prefix sums `before`; false past the end.
bool locateFrame(const std::vector<uint64_t>& before, uint64_t total, uint32_t n, int* seg,
                 uint32_t* index) {
    if (n >= total) {
        return false;
    }
    // The last segment whose first frame number is <= n and that holds frames.
    auto it = std::upper_bound(before.begin(), before.end(), static_cast<uint64_t>(n));
    int s = static_cast<int>(it - before.begin()) - 1;
    *seg = s;
    *index = static_cast<uint32_t>(n - before[s]);
    return true;
}

bool readHeaders(custommp4_t* h) {
    if (readData(h, h->fileObj, kFileObjSize) != 1) {
        printf("ReadFilePropertiesObject failed 1\n");
        return false;
    }
    if (memcmp(h->fileObj, kFileObjId, 16) != 0) {
        printf("ReadFilePropertiesObject failed 2\n");
        return false;
    }
    if (loadU32(h->fileObj + 16) != kFileObjSize) {
        printf("ReadFilePropertiesObject failed 3\n");
        return false;
    }
    if (readData(h, h->videoObj, kVideoObjSize) != 1 || memcmp(h->videoObj, kVideoObjId, 16) != 0 ||
        loadU32(h->videoObj + 16) != kVideoObjSize) {
        printf("ReadVideoStreamPropertiesObject failed\n");
        return false;
    }
    if (readData(h, h->audioObj, kAudioObjSize) != 1 || memcmp(h->audioObj, kAudioObjId, 16) != 0 ||
        loadU32(h->audioObj + 16) != kAudioObjSize || readData(h, h->listObj, kListObjSize) != 1 ||
        memcmp(h->listObj, kListObjId, 16) != 0) {
        printf("ReadAudioStreamPropertiesObject failed\n");
        return false;
    }
    return true;
}

bool readRecord(custommp4_t* h) {
    if (!readHeaders(h)) {
        return false;
    }
    uint32_t segmentCount = loadU32(h->listObj + listobj::kSegments);
    if (segmentCount == 0) {
        return true;
    }
    try {
        // Every segment takes at least 48 bytes, which bounds what a damaged count can ask.
        h->segments.reserve(std::min<uint64_t>(segmentCount, h->fileSize / kSegmentObjSize + 1));
    } catch (const std::bad_alloc&) {
        printf("alloc memory for sect table failed\n");
        return false;
    }
    for (uint32_t i = 0; i < segmentCount; ++i) {
        if (!readSegmentObject(h, static_cast<int>(i))) {
            if (i == 0) {
                return false;
            }
            break;
        }
    }
    storeU32(h->listObj + listobj::kSegments, static_cast<uint32_t>(h->segments.size()));
    uint64_t videoSum = 0, audioSum = 0;
    for (const SegmentEntry& s : h->segments) {
        h->videoBefore.push_back(videoSum);
        h->audioBefore.push_back(audioSum);
        videoSum += s.videoCount;
        audioSum += s.audioCount;
    }
    // Frame numbers are 32-bit; a record claiming more frames keeps the first 2^32 - 1.
    h->totalVideo = static_cast<uint32_t>(std::min<uint64_t>(videoSum, UINT32_MAX));
    h->totalAudio = static_cast<uint32_t>(std::min<uint64_t>(audioSum, UINT32_MAX));
    try {
        h->videoIndex.reserve(std::min(h->totalVideo, kVideoIndexCapacity));
    } catch (const std::bad_alloc&) {
        printf("alloc memory for video table failed\n");
        return false;
    }
    try {
        h->audioIndex.reserve(std::min(h->totalAudio, kAudioIndexCapacity));
    } catch (const std::bad_alloc&) {
        printf("alloc memory for audio table failed\n");
        return false;
    }
    if (!loadIndexTables(h, 0)) {
        return false;
    }
    uint32_t first = h->segments.front().firstTimeStamp;
    uint32_t last = h->segments.back().lastTimeStamp;
    uint32_t start = loadU32(h->fileObj + fileobj::kStart);
    // A last time stamp below the first (a damaged record) would wrap to an end time
    // decades away; such a record ends where it starts.
    storeU32(h->fileObj + fileobj::kEnd, last >= first ? start + (last - first) / 1000 : start);
    return true;
}

// ---- writing ----

void fillCreationHeaders(custommp4_t* h, uint32_t now) {
    memcpy(h->fileObj, kFileObjId, 16);
    storeU32(h->fileObj + 16, kFileObjSize);
    static const char kLabelText[] = "This is DVR record file ver 2";
    memcpy(h->fileObj + fileobj::kLabel, kLabelText, sizeof kLabelText - 1);
    storeU32(h->fileObj + fileobj::kStart, now);
    storeU32(h->fileObj + fileobj::kEnd, now);
    storeU32(h->fileObj + fileobj::kLength, kHeadersSize);

    memcpy(h->videoObj, kVideoObjId, 16);
    storeU32(h->videoObj + 16, kVideoObjSize);
    storeU32(h->videoObj + videoobj::kTimescale, 1000);
    storeU16(h->videoObj + videoobj::kWidth, 352);
    storeU16(h->videoObj + videoobj::kHeight, 288);
    storeU32(h->videoObj + videoobj::kFrameRate, 0x41C80000u);  // 25.0f
    storeU32(h->videoObj + videoobj::kBitRate, 0x80000);
    memcpy(h->videoObj + videoobj::kCodec, "XVID", 4);
    storeU32(h->videoObj + videoobj::kHorzRes, 72);
    storeU32(h->videoObj + videoobj::kVertRes, 72);
    storeU16(h->videoObj + videoobj::kBitsPerPixel, 24);

    memcpy(h->audioObj, kAudioObjId, 16);
    storeU32(h->audioObj + 16, kAudioObjSize);
    storeU32(h->audioObj + audioobj::kTimescale, 1000);
    storeU16(h->audioObj + audioobj::kChannels, 1);
    storeU16(h->audioObj + audioobj::kBits, 8);
    storeU32(h->audioObj + audioobj::kRate, 8000);
    memcpy(h->audioObj + audioobj::kCodec, "PCMU", 4);
    storeU32(h->audioObj + audioobj::kFrameSize, 240);
    storeU32(h->audioObj + audioobj::kFrameDuration, 30);

    memcpy(h->listObj, kListObjId, 16);
    storeU32(h->listObj + 16, kListObjSize);
}

uint32_t videoCapacityOf(const custommp4_t* h);
uint32_t audioCapacityOf(const custommp4_t* h);

bool writeSegmentObject(custommp4_t* h, const SegmentEntry& s, uint32_t size) {
    uint8_t obj[kSegmentObjSize] = {};
    memcpy(obj, kSegmentObjId, 16);
    storeU32(obj + 16, size);
    storeU32(obj + 20, s.firstTimeStamp);
    storeU32(obj + 24, s.lastTimeStamp);
    storeU32(obj + 28, s.videoCount);
    storeU32(obj + 32, s.audioCount);
    storeU32(obj + 36, s.videoCapacity);
    storeU32(obj + 40, s.audioCapacity);
    h->filePos = s.position;
    return writeData(h, obj, sizeof obj);
}

bool writeHeaders(custommp4_t* h) {
    h->filePos = h->baseOffset;
    bool ok = writeData(h, h->fileObj, kFileObjSize);
    ok = writeData(h, h->videoObj, kVideoObjSize) && ok;
    ok = writeData(h, h->audioObj, kAudioObjSize) && ok;
    return writeData(h, h->listObj, kListObjSize) && ok;
}

void createRecord(custommp4_t* h) {
    uint32_t now = static_cast<uint32_t>(time(nullptr));
    fillCreationHeaders(h, now);
    writeHeaders(h);
    SegmentEntry s;
    s.position = static_cast<int64_t>(h->baseOffset) + kHeadersSize;
    s.firstTimeStamp = now;
    s.lastTimeStamp = now;
    s.videoCapacity = videoCapacityOf(h);
    s.audioCapacity = audioCapacityOf(h);
    h->segments.push_back(s);
    writeSegmentObject(h, s, kSegmentObjSize);
    h->dataEnd = s.position + kSegmentObjSize;
}

bool writing(const custommp4_t* h) {
    return h != nullptr && h->mode != CUSTOMMP4_MODE_READ;
}

bool anyFrameWritten(const custommp4_t* h) {
    return h->segments.size() > 1 || !h->pendingVideo.empty() || !h->pendingAudio.empty();
}

uint32_t videoCapacityOf(const custommp4_t* h) {
    return h->fileObj[fileobj::kVideoFlag] ? h->writeVideoCapacity : 0;
}
uint32_t audioCapacityOf(const custommp4_t* h) {
    return h->fileObj[fileobj::kAudioFlag] ? h->writeAudioCapacity : 0;
}

int64_t segmentReserve(const custommp4_t* h) {
    return kSegmentObjSize + static_cast<int64_t>(videoCapacityOf(h)) * kVideoEntrySize +
           static_cast<int64_t>(audioCapacityOf(h)) * kAudioEntrySize;
}

// Writes the open segment's tables and header and the record headers that count it, and
// flushes them; false when any of it failed.
bool finishSegment(custommp4_t* h) {
    bool ok = true;
    SegmentEntry& s = h->segments.back();
    std::vector<uint8_t> table(static_cast<size_t>(s.videoCount) * kVideoEntrySize, 0);
    for (size_t k = 0; k < h->pendingVideo.size(); ++k) {
        uint8_t* e = table.data() + k * kVideoEntrySize;
        const VideoEntry& v = h->pendingVideo[k];
        storeU32(e, static_cast<uint32_t>(v.position));
        storeU32(e + 4, v.size);
        storeU32(e + 16, v.timeStamp);
        e[20] = v.type;
    }
    if (!table.empty()) {
        h->filePos = s.position + kSegmentObjSize;
        ok = writeData(h, table.data(), table.size()) && ok;
    }
    table.assign(static_cast<size_t>(s.audioCount) * kAudioEntrySize, 0);
    for (size_t k = 0; k < h->pendingAudio.size(); ++k) {
        uint8_t* e = table.data() + k * kAudioEntrySize;
        storeU32(e, static_cast<uint32_t>(h->pendingAudio[k].position));
        storeU32(e + 16, h->pendingAudio[k].timeStamp);
    }
    if (!table.empty()) {
        h->filePos = audioTablePosition(s);
        ok = writeData(h, table.data(), table.size()) && ok;
    }
    ok = writeSegmentObject(h, s, static_cast<uint32_t>(h->dataEnd - s.position)) && ok;
    storeU32(h->listObj + listobj::kSegments, loadU32(h->listObj + listobj::kSegments) + 1);
    storeU32(h->fileObj + fileobj::kLength, static_cast<uint32_t>(h->dataEnd - h->baseOffset));
    uint32_t start = loadU32(h->fileObj + fileobj::kStart);
    uint32_t lastStamp = std::max(h->lastVideoTimeStamp, h->lastAudioTimeStamp);
    storeU32(h->fileObj + fileobj::kEnd, start + lastStamp / 1000);
    ok = writeHeaders(h) && ok;
    h->pendingVideo.clear();
    h->pendingAudio.clear();
    h->segmentHasSpace = false;
    if (fflush(h->file) != 0) {
        int err = errno;
        printf("custommp4_write_data:fflush error,errno=%d,errstr=%s\n", err, strerror(err));
        noteWriteError(h, err);
        h->streamPos = -1;
        ok = false;
    }
    h->filePos = h->dataEnd;
    return ok;
}

// Makes room for one more frame of the given size in the open segment (starting a new
// segment when a table is full); false when the frame would reach the unreadable region.
bool prepareFrame(custommp4_t* h, bool video, uint32_t size) {
    SegmentEntry* s = &h->segments.back();
    if (h->segmentHasSpace) {
        bool full = video ? s->videoCount >= s->videoCapacity : s->audioCount >= s->audioCapacity;
        if (full) {
            if (h->dataEnd + segmentReserve(h) + size > kPositionLimit) {
                return false;
            }
            if (!finishSegment(h)) {
                return false;
            }
            SegmentEntry next;
            next.position = h->dataEnd;
            h->segments.push_back(next);
            s = &h->segments.back();
        }
    }
    if (!h->segmentHasSpace) {
        int64_t dataStart = s->position + segmentReserve(h);
        if (dataStart + size > kPositionLimit) {
            return false;
        }
        s->videoCapacity = videoCapacityOf(h);
        s->audioCapacity = audioCapacityOf(h);
        s->videoCount = 0;
        s->audioCount = 0;
        // The index space is written as zeros so that the file holds no stale bytes there.
        std::vector<uint8_t> zeros(static_cast<size_t>(dataStart - s->position), 0);
        h->filePos = s->position;
        if (!writeData(h, zeros.data(), zeros.size())) {
            return false;
        }
        h->dataEnd = dataStart;
        h->segmentHasSpace = true;
    }
    if ((video && s->videoCapacity == 0) || (!video && s->audioCapacity == 0)) {
        return false;
    }
    return h->dataEnd + size <= kPositionLimit;
}

// False (with a message) once a write has failed on the handle.
bool writable(const custommp4_t* h, const char* who) {
    if (h->writeErrno != 0) {
        printf("%s:an earlier write failed,errno=%d,errstr=%s\n", who, h->writeErrno,
               strerror(h->writeErrno));
        return false;
    }
    return true;
}

void reportNoRoom(const custommp4_t* h, const char* who, int size) {
    if (h->writeErrno != 0) {
        printf("%s:write error,errno=%d,errstr=%s\n", who, h->writeErrno, strerror(h->writeErrno));
    } else {
        printf("%s:no room for %d bytes\n", who, size);
    }
}

void noteTimeStamp(SegmentEntry& s, uint32_t timeStamp) {
    if (s.videoCount + s.audioCount == 0) {
        s.firstTimeStamp = timeStamp;
        s.lastTimeStamp = timeStamp;
    } else {
        s.firstTimeStamp = std::min(s.firstTimeStamp, timeStamp);
        s.lastTimeStamp = std::max(s.lastTimeStamp, timeStamp);
    }
}

}  // namespace

extern "C" {

custommp4_t* custommp4_open(const char* path, uint8_t mode, uint32_t base_offset) {
    const char* streamMode = nullptr;
    switch (mode) {
        case CUSTOMMP4_MODE_READ:
            streamMode = "rb";
            break;
        case CUSTOMMP4_MODE_CREATE:
            streamMode = "wb";
            base_offset = 0;
            break;
        case CUSTOMMP4_MODE_CREATE_INTO:
            streamMode = "rb+";
            break;
        case CUSTOMMP4_MODE_CREATE_OR_INTO:
            if (FILE* probe = path != nullptr ? fopen(path, "rb+") : nullptr) {
                fclose(probe);
                streamMode = "rb+";
            } else {
                streamMode = "wb";
                base_offset = 0;
            }
            break;
        default:
            printf("open mode error\n");
            return nullptr;
    }
    custommp4_t* h = new (std::nothrow) custommp4_t;
    if (h == nullptr) {
        return nullptr;
    }
    // A record is read only from a regular file, opened without a wait (a FIFO, a device);
    // the writer takes what it is given (a device that fills up, say).
    h->file = mode == CUSTOMMP4_MODE_READ ? files::fopenRegular(path, streamMode)
              : path != nullptr           ? fopen(path, streamMode)
                                          : nullptr;
    if (h->file == nullptr) {
        printf("open file failed\n");
        destroyHandle(h);
        return nullptr;
    }
    h->mode = mode;
    h->baseOffset = base_offset;
    h->filePos = base_offset;
    struct stat st;
    h->fileSize = fstat(fileno(h->file), &st) == 0 ? st.st_size : 0;
    try {
        if (mode != CUSTOMMP4_MODE_READ) {
            createRecord(h);
            return h;
        }
        if (readRecord(h)) {
            return h;
        }
    } catch (const std::bad_alloc&) {
        printf("alloc memory for sect table failed\n");
    }
    destroyHandle(h);
    return nullptr;
}

int custommp4_close(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    custommp4_close_checked(h, nullptr);
    return 1;
}

int custommp4_close_checked(custommp4_t* h, int* error) {
    if (h == nullptr) {
        return 0;
    }
    int err = 0;
    if (writing(h)) {
        std::lock_guard<std::mutex> lock(h->frameLock);
        // After a failed write the frames indexed so far are still written down: they
        // were taken whole, and a reader passes over any whose data did not arrive.
        if (!h->pendingVideo.empty() || !h->pendingAudio.empty()) {
            finishSegment(h);
        }
        err = h->writeErrno;
    }
    int closeErr = destroyHandle(h);
    if (err == 0) {
        err = closeErr;
    }
    if (error != nullptr) {
        *error = err;
    }
    return err == 0 ? 1 : 0;
}

int custommp4_write_error(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    return h->writeErrno;
}

int custommp4_destroy(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    destroyHandle(h);
    return 1;
}

int custommp4_read_data(custommp4_t* h, void* buffer, int length) {
    if (h == nullptr || buffer == nullptr || length < 0) {
        return 0;
    }
    return readData(h, buffer, static_cast<size_t>(length));
}

void custommp4_write_data(custommp4_t* h, const void* data, int length) {
    if (h == nullptr || data == nullptr || length < 0) {
        return;
    }
    writeData(h, data, static_cast<size_t>(length));
}

int custommp4_read_video_frame(custommp4_t* h, uint8_t* buffer, int buffer_size,
                               uint32_t* time_stamp, int32_t* duration, uint8_t* frame_type) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    int seg = 0;
    uint32_t index = 0;
    if (!locateFrame(h->videoBefore, h->totalVideo, h->nextVideo, &seg, &index)) {
        return 0;
    }
    uint32_t n = h->nextVideo++;
    if (seg != h->loadedVideoSegment && !loadVideoTable(h, seg, LoadStyle::kSingle)) {
        return 0;
    }
    const VideoEntry entry = h->videoIndex[index];
    int result = 0;
    // A frame larger than the caller's buffer is not read: it counts as a failed read.
    if (buffer != nullptr && buffer_size >= 0 && entry.size <= static_cast<uint32_t>(buffer_size)) {
        h->filePos = entry.position;
        if (readData(h, buffer, entry.size) == 1) {
            result = static_cast<int>(entry.size);
        }
    }
    int64_t nextStamp = -1;
    if (index + 1 < h->videoIndex.size()) {
        nextStamp = h->videoIndex[index + 1].timeStamp;
    } else if (n + 1 < h->totalVideo) {
        int nextSeg = 0;
        uint32_t nextIndex = 0;
        locateFrame(h->videoBefore, h->totalVideo, n + 1, &nextSeg, &nextIndex);
        if (loadVideoTable(h, nextSeg, LoadStyle::kSingle)) {
            nextStamp = h->videoIndex[nextIndex].timeStamp;
        }
    }
    int64_t frameDuration = nextStamp < 0 ? kLastVideoDurationMs : nextStamp - entry.timeStamp;
    if (time_stamp != nullptr) {
        *time_stamp = entry.timeStamp;
    }
    if (duration != nullptr) {
        *duration = static_cast<int32_t>(std::clamp<int64_t>(frameDuration, 0, INT32_MAX));
    }
    if (frame_type != nullptr) {
        *frame_type = entry.type;
    }
    return result;
}

int custommp4_read_audio_frame(custommp4_t* h, uint8_t* buffer, int buffer_size,
                               uint32_t* time_stamp, int32_t* duration) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    int seg = 0;
    uint32_t index = 0;
    if (!locateFrame(h->audioBefore, h->totalAudio, h->nextAudio, &seg, &index)) {
        return 0;
    }
    uint32_t n = h->nextAudio++;
    if (seg != h->loadedAudioSegment && !loadAudioTable(h, seg, LoadStyle::kSingle)) {
        return 0;
    }
    const AudioEntry entry = h->audioIndex[index];
    uint32_t frameSize = loadU32(h->audioObj + audioobj::kFrameSize);
    int result = 0;
    if (buffer != nullptr && buffer_size >= 0 && frameSize <= static_cast<uint32_t>(buffer_size) &&
        frameSize <= INT32_MAX) {
        h->filePos = entry.position;
        if (readData(h, buffer, frameSize) == 1) {
            result = static_cast<int>(frameSize);
        }
    }
    int64_t nextStamp = -1;
    if (index + 1 < h->audioIndex.size()) {
        nextStamp = h->audioIndex[index + 1].timeStamp;
    } else if (n + 1 < h->totalAudio) {
        int nextSeg = 0;
        uint32_t nextIndex = 0;
        locateFrame(h->audioBefore, h->totalAudio, n + 1, &nextSeg, &nextIndex);
        if (loadAudioTable(h, nextSeg, LoadStyle::kSingle)) {
            nextStamp = h->audioIndex[nextIndex].timeStamp;
        }
    }
    int64_t frameDuration = nextStamp < 0 ? kLastAudioDurationMs : nextStamp - entry.timeStamp;
    if (time_stamp != nullptr) {
        *time_stamp = entry.timeStamp;
    }
    if (duration != nullptr) {
        *duration = static_cast<int32_t>(std::clamp<int64_t>(frameDuration, 0, INT32_MAX));
    }
    return result;
}

int custommp4_skip_video_frame(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    int seg = 0;
    uint32_t index = 0;
    if (!locateFrame(h->videoBefore, h->totalVideo, h->nextVideo, &seg, &index)) {
        return 0;
    }
    uint32_t n = h->nextVideo++;
    if (seg != h->loadedVideoSegment && !loadVideoTable(h, seg, LoadStyle::kSingle)) {
        return 0;
    }
    const VideoEntry entry = h->videoIndex[index];
    int result = 0;
    h->filePos = entry.position;
    if (h->filePos >= kPositionLimit) {
        printf("custommp4_read_data:file_pos=%ld\n", static_cast<long>(h->filePos));
    } else if (positionStream(h, "custommp4_read_data", LastIo::kRead)) {
        h->filePos = entry.position + entry.size;
        result = static_cast<int>(std::min<uint32_t>(entry.size, INT32_MAX));
    }
    if (index + 1 == h->videoIndex.size() && n + 1 < h->totalVideo) {
        loadVideoTable(h, seg + 1, LoadStyle::kSingle);
    }
    return result;
}

int custommp4_seek_to_time_stamp(custommp4_t* h, uint32_t time_stamp) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    for (size_t i = 0; i < h->segments.size(); ++i) {
        if (h->segments[i].lastTimeStamp < time_stamp) {
            continue;
        }
        h->loadedVideoSegment = -1;
        h->loadedAudioSegment = -1;
        if (!loadIndexTables(h, static_cast<int>(i))) {
            printf("custommp4_seek_to_time_stamp:ReadmdatIndexTable error\n");
            return -1;
        }
        size_t k = 0;
        while (k < h->videoIndex.size()) {
            const VideoEntry& e = h->videoIndex[k];
            bool key = e.type == kKeyFrameType || e.type == kIdrFrameType;
            if (key && static_cast<uint64_t>(e.timeStamp) + kSeekLeadMs >= time_stamp) {
                break;
            }
            ++k;
        }
        if (k == h->videoIndex.size()) {
            continue;
        }
        h->keyFrameIndex = static_cast<uint32_t>(k);
        uint32_t keyStamp = h->videoIndex[k].timeStamp;
        size_t l = 0;
        while (l < h->audioIndex.size() && h->audioIndex[l].timeStamp <= keyStamp) {
            ++l;
        }
        h->audioSeekIndex = static_cast<uint32_t>(l);
        h->nextVideo = static_cast<uint32_t>(h->videoBefore[i] + k);
        h->nextAudio = static_cast<uint32_t>(h->audioBefore[i] + l);
        return 1;
    }
    return 0;
}

int custommp4_seek_to_time(custommp4_t* h, uint32_t seconds) {
    if (h == nullptr) {
        return 0;
    }
    uint32_t start = loadU32(h->fileObj + fileobj::kStart);
    uint32_t end = loadU32(h->fileObj + fileobj::kEnd);
    if (seconds > end) {
        return 0;
    }
    if (seconds < start) {
        return custommp4_seek_to_time_stamp(h, 0);
    }
    return custommp4_seek_to_time_stamp(
        h, static_cast<uint32_t>(clampU32((static_cast<int64_t>(seconds) - start) * 1000)));
}

uint32_t custommp4_start_time(custommp4_t* h) {
    return h != nullptr ? loadU32(h->fileObj + fileobj::kStart) : 0;
}

uint32_t custommp4_end_time(custommp4_t* h) {
    return h != nullptr ? loadU32(h->fileObj + fileobj::kEnd) : 0;
}

uint32_t custommp4_duration(custommp4_t* h) {
    if (h == nullptr || h->segments.empty() || h->mode != CUSTOMMP4_MODE_READ) {
        return 0;
    }
    int32_t span =
        static_cast<int32_t>(h->segments.back().lastTimeStamp - h->segments.front().firstTimeStamp);
    if (span > 0) {
        return static_cast<uint32_t>(span);
    }
    int64_t seconds = static_cast<int64_t>(custommp4_end_time(h)) - custommp4_start_time(h);
    return static_cast<uint32_t>(clampU32(seconds * 1000));
}

uint32_t custommp4_video_frames(custommp4_t* h) {
    return h != nullptr ? h->totalVideo : 0;
}

uint32_t custommp4_audio_frames(custommp4_t* h) {
    return h != nullptr ? h->totalAudio : 0;
}

int custommp4_has_audio(custommp4_t* h) {
    return h != nullptr && h->totalAudio != 0 ? 1 : 0;
}

int custommp4_video_width(custommp4_t* h) {
    return h != nullptr ? loadU16(h->videoObj + videoobj::kWidth) : 0;
}

int custommp4_video_height(custommp4_t* h) {
    return h != nullptr ? loadU16(h->videoObj + videoobj::kHeight) : 0;
}

float custommp4_video_frame_rate(custommp4_t* h) {
    if (h == nullptr) {
        return 0.0f;
    }
    uint32_t bits = loadU32(h->videoObj + videoobj::kFrameRate);
    float rate;
    memcpy(&rate, &bits, sizeof rate);
    return rate;
}

uint32_t custommp4_video_bit_rate(custommp4_t* h) {
    return h != nullptr ? loadU32(h->videoObj + videoobj::kBitRate) : 0;
}

int custommp4_audio_bits_per_sample(custommp4_t* h) {
    return h != nullptr ? loadU16(h->audioObj + audioobj::kBits) : 0;
}

uint32_t custommp4_segment_count(custommp4_t* h) {
    return h != nullptr ? loadU32(h->listObj + listobj::kSegments) : 0;
}

int custommp4_segment_info(custommp4_t* h, uint32_t index, uint32_t* first_time_stamp,
                           uint32_t* last_time_stamp, uint32_t* video_frames,
                           uint32_t* audio_frames) {
    // A record being written keeps its open segment in the table before it counts it.
    if (h == nullptr || index >= custommp4_segment_count(h) || index >= h->segments.size()) {
        return 0;
    }
    const SegmentEntry& s = h->segments[index];
    if (first_time_stamp != nullptr) {
        *first_time_stamp = s.firstTimeStamp;
    }
    if (last_time_stamp != nullptr) {
        *last_time_stamp = s.lastTimeStamp;
    }
    if (video_frames != nullptr) {
        *video_frames = s.videoCount;
    }
    if (audio_frames != nullptr) {
        *audio_frames = s.audioCount;
    }
    return 1;
}

void custommp4_video_codec(custommp4_t* h, char tag[5]) {
    if (tag == nullptr) {
        return;
    }
    memset(tag, 0, 5);
    if (h != nullptr) {
        memcpy(tag, h->videoObj + videoobj::kCodec, 4);
    }
}

void custommp4_audio_codec(custommp4_t* h, char tag[5]) {
    if (tag == nullptr) {
        return;
    }
    memset(tag, 0, 5);
    if (h != nullptr) {
        memcpy(tag, h->audioObj + audioobj::kCodec, 4);
    }
}

int custommp4_audio_sample_rate(custommp4_t* h) {
    return h != nullptr ? static_cast<int>(loadU32(h->audioObj + audioobj::kRate)) : 0;
}

int custommp4_audio_channels(custommp4_t* h) {
    return h != nullptr ? loadU16(h->audioObj + audioobj::kChannels) : 0;
}

int custommp4_audio_frame_size(custommp4_t* h) {
    return h != nullptr ? static_cast<int>(loadU32(h->audioObj + audioobj::kFrameSize)) : 0;
}

int custommp4_audio_frame_duration(custommp4_t* h) {
    return h != nullptr ? static_cast<int>(loadU32(h->audioObj + audioobj::kFrameDuration)) : 0;
}

uint32_t custommp4_video_position(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    return h->nextVideo;
}

uint32_t custommp4_audio_position(custommp4_t* h) {
    if (h == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    return h->nextAudio;
}

int custommp4_set_start_time(custommp4_t* h, uint32_t seconds) {
    if (!writing(h)) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (anyFrameWritten(h)) {
        printf("custommp4_set_start_time:frames already written\n");
        return 0;
    }
    storeU32(h->fileObj + fileobj::kStart, seconds);
    storeU32(h->fileObj + fileobj::kEnd, seconds);
    return 1;
}

int custommp4_set_index_capacity(custommp4_t* h, uint32_t video_entries, uint32_t audio_entries) {
    // The tables of one segment must leave room for frames below the readable limit.
    constexpr uint32_t kMaxEntries = 1u << 20;
    if (!writing(h) || video_entries == 0 || audio_entries == 0 || video_entries > kMaxEntries ||
        audio_entries > kMaxEntries) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (anyFrameWritten(h)) {
        printf("custommp4_set_index_capacity:frames already written\n");
        return 0;
    }
    h->writeVideoCapacity = video_entries;
    h->writeAudioCapacity = audio_entries;
    return 1;
}

int custommp4_set_video_format(custommp4_t* h, int width, int height, float frame_rate,
                               uint32_t bit_rate, const char codec_tag[4]) {
    if (!writing(h) || width < 0 || width > UINT16_MAX || height < 0 || height > UINT16_MAX) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (anyFrameWritten(h)) {
        printf("custommp4_set_video_format:frames already written\n");
        return 0;
    }
    storeU16(h->videoObj + videoobj::kWidth, static_cast<uint16_t>(width));
    storeU16(h->videoObj + videoobj::kHeight, static_cast<uint16_t>(height));
    uint32_t bits;
    memcpy(&bits, &frame_rate, sizeof bits);
    storeU32(h->videoObj + videoobj::kFrameRate, bits);
    storeU32(h->videoObj + videoobj::kBitRate, bit_rate);
    if (codec_tag != nullptr) {
        memcpy(h->videoObj + videoobj::kCodec, codec_tag, 4);
    }
    h->fileObj[fileobj::kVideoFlag] = 1;
    return 1;
}

int custommp4_set_audio_format(custommp4_t* h, const char codec_tag[4], int sample_rate,
                               int bits_per_sample, int channels, int frame_size,
                               int frame_duration_ms) {
    if (!writing(h) || sample_rate <= 0 || bits_per_sample <= 0 || bits_per_sample > UINT16_MAX ||
        channels <= 0 || channels > UINT16_MAX || frame_size <= 0 || frame_duration_ms <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (anyFrameWritten(h)) {
        printf("custommp4_set_audio_format:frames already written\n");
        return 0;
    }
    if (codec_tag != nullptr) {
        memcpy(h->audioObj + audioobj::kCodec, codec_tag, 4);
    }
    storeU32(h->audioObj + audioobj::kRate, static_cast<uint32_t>(sample_rate));
    storeU16(h->audioObj + audioobj::kBits, static_cast<uint16_t>(bits_per_sample));
    storeU16(h->audioObj + audioobj::kChannels, static_cast<uint16_t>(channels));
    storeU32(h->audioObj + audioobj::kFrameSize, static_cast<uint32_t>(frame_size));
    storeU32(h->audioObj + audioobj::kFrameDuration, static_cast<uint32_t>(frame_duration_ms));
    h->fileObj[fileobj::kAudioFlag] = 1;
    return 1;
}

int custommp4_write_video_frame(custommp4_t* h, const uint8_t* data, int size, uint32_t time_stamp,
                                uint8_t frame_type) {
    if (!writing(h) || data == nullptr || size <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (!anyFrameWritten(h) && !h->fileObj[fileobj::kVideoFlag]) {
        h->fileObj[fileobj::kVideoFlag] = 1;  // a record of video only
    }
    if (!h->pendingVideo.empty() || h->segments.size() > 1) {
        if (time_stamp < h->lastVideoTimeStamp) {
            printf("custommp4_write_video_frame:time stamp %u before %u\n", time_stamp,
                   h->lastVideoTimeStamp);
            return 0;
        }
    }
    if (!writable(h, "custommp4_write_video_frame")) {
        return 0;
    }
    if (!prepareFrame(h, true, static_cast<uint32_t>(size))) {
        reportNoRoom(h, "custommp4_write_video_frame", size);
        return 0;
    }
    SegmentEntry& s = h->segments.back();
    h->filePos = h->dataEnd;
    if (!writeData(h, data, static_cast<size_t>(size))) {
        reportNoRoom(h, "custommp4_write_video_frame", size);
        return 0;
    }
    h->pendingVideo.push_back(
        {h->dataEnd - h->baseOffset, static_cast<uint32_t>(size), time_stamp, frame_type});
    h->dataEnd += size;
    noteTimeStamp(s, time_stamp);
    ++s.videoCount;
    h->lastVideoTimeStamp = time_stamp;
    return 1;
}

int custommp4_write_audio_frame(custommp4_t* h, const uint8_t* data, int size,
                                uint32_t time_stamp) {
    if (!writing(h) || data == nullptr || size <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(h->frameLock);
    if (!h->fileObj[fileobj::kAudioFlag] ||
        static_cast<uint32_t>(size) != loadU32(h->audioObj + audioobj::kFrameSize)) {
        printf("custommp4_write_audio_frame:audio format not declared or size %d differs\n", size);
        return 0;
    }
    if ((!h->pendingAudio.empty() || h->segments.size() > 1) &&
        time_stamp < h->lastAudioTimeStamp) {
        printf("custommp4_write_audio_frame:time stamp %u before %u\n", time_stamp,
               h->lastAudioTimeStamp);
        return 0;
    }
    if (!writable(h, "custommp4_write_audio_frame")) {
        return 0;
    }
    if (!prepareFrame(h, false, static_cast<uint32_t>(size))) {
        reportNoRoom(h, "custommp4_write_audio_frame", size);
        return 0;
    }
    SegmentEntry& s = h->segments.back();
    h->filePos = h->dataEnd;
    if (!writeData(h, data, static_cast<size_t>(size))) {
        reportNoRoom(h, "custommp4_write_audio_frame", size);
        return 0;
    }
    h->pendingAudio.push_back({h->dataEnd - h->baseOffset, time_stamp});
    h->dataEnd += size;
    noteTimeStamp(s, time_stamp);
    ++s.audioCount;
    h->lastAudioTimeStamp = time_stamp;
    return 1;
}

}  // extern "C"
