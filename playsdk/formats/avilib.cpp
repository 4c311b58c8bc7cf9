// AVI reader: RIFF "AVI " with the OpenDML extension. The open walks the top-level chunks
// (the first RIFF and any "RIFF AVIX" behind it), parses the header list, then builds the
// frame index from the OpenDML standard indexes, from "idx1", or from a scan of the "movi"
// lists. Every size and offset read from the file is checked against the file size and the
// buffer it fills, so a damaged file ends in an error code or a shorter index.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "files/regular_file.h"
#include "le_bytes.h"
#include "library_log.h"
#include "zelplay/avilib.h"

namespace {

using zelplay::formats::loadU16;
using zelplay::formats::loadU32;
using zelplay::formats::loadU64;

// The reader's last error, shared by every handle of the process.
std::atomic<int> g_aviErrno{0};

int fail(int code) {
    g_aviErrno.store(code, std::memory_order_relaxed);
    return -1;
}

constexpr uint32_t kIndexKeyFlag = 0x10;           // AVIIF_KEYFRAME in idx1 and our index
constexpr uint32_t kStdIndexNotKey = 0x80000000u;  // size bit of an OpenDML entry: not a key
constexpr uint8_t kIndexOfIndexes = 0;             // bIndexType of a super index
constexpr uint8_t kIndexOfChunks = 1;              // bIndexType of a standard index
constexpr int64_t kMaxHeaderListBytes = 16 << 20;  // "hdrl" larger than this is refused
constexpr size_t kKeyPeekBytes = 64;               // bytes of a frame looked at when scanning

bool isTag(const uint8_t* p, const char* tag) {
    return memcmp(p, tag, 4) == 0;
}

struct IndexEntry {
    int64_t position;  // of the chunk's data, absolute
    uint32_t size;
    uint32_t flags;
};

struct AudioChunk {
    int64_t position;
    uint32_t size;
    int64_t bytesBefore;  // audio bytes of the track before this chunk
};

// An OpenDML super index: where the standard indexes of one stream lie.
struct SuperIndex {
    std::vector<int64_t> chunkPositions;  // of each "ix##" chunk header
};

struct AudioTrack {
    int streamNumber = -1;
    int format = 0;
    int channels = 0;
    int bits = 0;
    long rate = 0;
    long mp3rate = 0;
    SuperIndex superIndex;
    std::vector<AudioChunk> chunks;
    long chunkPosition = 0;  // current chunk
    int64_t byteOffset = 0;  // inside it
    int64_t totalBytes = 0;
};

struct MoviRange {
    int64_t start;  // the "movi" list type
    int64_t end;
};

}  // namespace

struct avi_reader_s {
    int fd = -1;
    bool reading = true;
    int64_t fileSize = 0;

    int videoStream = -1;  // stream number of the video stream
    int width = 0;
    int height = 0;
    double frameRate = 0.0;
    char videoCodec[5] = {};
    long videoStart = 0;
    long headerFrames = 0;  // frame count from the headers, used without an index
    SuperIndex videoSuperIndex;
    std::vector<IndexEntry> videoIndex;
    long videoPosition = 0;

    std::vector<AudioTrack> tracks;
    int currentTrack = 0;

    bool headerParseStopped = false;  // a stream the reader cannot take ended the parse
    bool hasIndex = false;
    bool rebuilt = false;
    std::vector<MoviRange> movi;
    int64_t idx1Position = -1;  // data of the "idx1" chunk
    uint32_t idx1Size = 0;

    ~avi_reader_s() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

namespace {

// Reads exactly length bytes at position; false on a short read or a range outside the file.
bool readAt(const avi_reader_t* h, int64_t position, void* buffer, size_t length) {
    if (position < 0 || position > h->fileSize ||
        static_cast<uint64_t>(h->fileSize - position) < length) {
        return false;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t got = pread(h->fd, out + done, length - done, static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

// Stream number of a chunk id "NNxx", -1 when the first two characters are not digits.
int streamOf(const uint8_t* id) {
    if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') {
        return -1;
    }
    return (id[0] - '0') * 10 + (id[1] - '0');
}

bool isVideoChunk(const avi_reader_t* h, const uint8_t* id) {
    return streamOf(id) == h->videoStream && h->videoStream >= 0 &&
           (memcmp(id + 2, "dc", 2) == 0 || memcmp(id + 2, "db", 2) == 0);
}

AudioTrack* audioTrackOf(avi_reader_t* h, const uint8_t* id) {
    int stream = streamOf(id);
    if (stream < 0 || memcmp(id + 2, "wb", 2) != 0) {
        return nullptr;
    }
    for (AudioTrack& t : h->tracks) {
        if (t.streamNumber == stream) {
            return &t;
        }
    }
    return nullptr;
}

void addAudioChunk(AudioTrack& t, int64_t position, uint32_t size) {
    t.chunks.push_back({position, size, t.totalBytes});
    t.totalBytes += size;
}

// A frame that starts decoding: an IDR slice or a sequence parameter set among its first
// NAL units (Annex-B start codes).
bool looksLikeKeyFrame(const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            int type = p[i + 3] & 0x1F;
            if (type == 5 || type == 7) {
                return true;
            }
        }
    }
    return false;
}

void parseSuperIndex(const uint8_t* chunk, uint32_t size, SuperIndex* out) {
    // wLongsPerEntry, bIndexSubType, bIndexType, nEntriesInUse, dwChunkId, 3 reserved words.
    if (size < 24 || chunk[3] != kIndexOfIndexes) {
        return;
    }
    uint64_t entries = loadU32(chunk + 4);
    entries = std::min<uint64_t>(entries, (size - 24) / 16);
    for (uint64_t i = 0; i < entries; ++i) {
        uint64_t offset = loadU64(chunk + 24 + i * 16);
        if (offset != 0 && offset < static_cast<uint64_t>(INT64_MAX)) {
            out->chunkPositions.push_back(static_cast<int64_t>(offset));
        }
    }
}

// One "strl" list: stream header, format and OpenDML super index. Returns false when the
// stream stops the header parse.
bool parseStreamList(avi_reader_t* h, const uint8_t* p, uint32_t size, int streamNumber) {
    const uint8_t* strh = nullptr;
    uint32_t strhSize = 0;
    const uint8_t* strf = nullptr;
    uint32_t strfSize = 0;
    const uint8_t* indx = nullptr;
    uint32_t indxSize = 0;
    for (uint32_t pos = 0; size - pos >= 8;) {
        uint32_t chunkSize = loadU32(p + pos + 4);
        if (chunkSize > size - pos - 8) {
            break;
        }
        const uint8_t* data = p + pos + 8;
        if (isTag(p + pos, "strh")) {
            strh = data;
            strhSize = chunkSize;
        } else if (isTag(p + pos, "strf")) {
            strf = data;
            strfSize = chunkSize;
        } else if (isTag(p + pos, "indx")) {
            indx = data;
            indxSize = chunkSize;
        }
        uint64_t next = static_cast<uint64_t>(pos) + 8 + chunkSize + (chunkSize & 1);
        if (next > size) {
            break;
        }
        pos = static_cast<uint32_t>(next);
    }
    if (strh == nullptr || strhSize < 36) {
        return true;
    }
    if (isTag(strh, "vids") && h->videoStream < 0) {
        h->videoStream = streamNumber;
        memcpy(h->videoCodec, strh + 4, 4);
        uint32_t scale = loadU32(strh + 20);
        uint32_t rate = loadU32(strh + 24);
        h->videoStart = static_cast<long>(loadU32(strh + 28));
        h->headerFrames = static_cast<long>(loadU32(strh + 32));
        if (scale != 0 && rate != 0) {
            h->frameRate = static_cast<double>(rate) / scale;
        }
        if (strf != nullptr && strfSize >= 20) {
            h->width = static_cast<int>(loadU32(strf + 4));
            h->height = std::abs(static_cast<int>(loadU32(strf + 8)));
            if (memcmp(h->videoCodec, "\0\0\0\0", 4) == 0) {
                memcpy(h->videoCodec, strf + 16, 4);
            }
        }
        if (indx != nullptr) {
            parseSuperIndex(indx, indxSize, &h->videoSuperIndex);
        }
    } else if (isTag(strh, "auds")) {
        if (h->tracks.size() >= AVI_MAX_AUDIO_TRACKS) {
            zelplay::logLine("error - only %d audio tracks supported", AVI_MAX_AUDIO_TRACKS);
            return false;
        }
        AudioTrack t;
        t.streamNumber = streamNumber;
        if (strf != nullptr && strfSize >= 16) {
            t.format = loadU16(strf);
            t.channels = loadU16(strf + 2);
            t.rate = static_cast<long>(loadU32(strf + 4));
            t.mp3rate = static_cast<long>(8ull * loadU32(strf + 8) / 1000);
            t.bits = loadU16(strf + 14);
        }
        if (indx != nullptr) {
            parseSuperIndex(indx, indxSize, &t.superIndex);
        }
        h->tracks.push_back(std::move(t));
    } else if (isTag(strh, "iavs")) {
        zelplay::logLine("AVILIB: error - DV AVI Type 1 no supported");
        return false;
    }
    return true;
}

void parseHeaderList(avi_reader_t* h, const uint8_t* p, uint32_t size) {
    int streamNumber = 0;
    for (uint32_t pos = 0; size - pos >= 8;) {
        uint32_t chunkSize = loadU32(p + pos + 4);
        if (chunkSize > size - pos - 8) {
            break;
        }
        const uint8_t* data = p + pos + 8;
        if (isTag(p + pos, "avih") && chunkSize >= 40) {
            uint32_t microsecondsPerFrame = loadU32(data);
            if (h->frameRate <= 0.0 && microsecondsPerFrame != 0) {
                h->frameRate = 1e6 / microsecondsPerFrame;  // replaced by the stream's own rate
            }
            if (h->width == 0) {
                h->width = static_cast<int>(loadU32(data + 32));
                h->height = static_cast<int>(loadU32(data + 36));
            }
        } else if (isTag(p + pos, "LIST") && chunkSize >= 4 && isTag(data, "strl")) {
            if (!parseStreamList(h, data + 4, chunkSize - 4, streamNumber)) {
                h->headerParseStopped = true;
                return;
            }
            ++streamNumber;
        }
        uint64_t next = static_cast<uint64_t>(pos) + 8 + chunkSize + (chunkSize & 1);
        if (next > size) {
            break;
        }
        pos = static_cast<uint32_t>(next);
    }
}

// Walks the top-level chunks: the first RIFF's contents and the "RIFF AVIX" parts after it.
int parseFile(avi_reader_t* h) {
    uint8_t head[12];
    if (!readAt(h, 0, head, sizeof head) || !isTag(head, "RIFF") || !isTag(head + 8, "AVI ")) {
        return AVI_ERR_NO_AVI;
    }
    bool haveHeaderList = false;
    int64_t pos = 12;
    while (pos + 8 <= h->fileSize) {
        uint8_t chunk[12] = {};
        if (!readAt(h, pos, chunk, std::min<int64_t>(12, h->fileSize - pos))) {
            break;
        }
        uint32_t size = loadU32(chunk + 4);
        if (isTag(chunk, "RIFF")) {
            pos += 12;  // an AVIX part: its chunks follow at the top level
            continue;
        }
        if (isTag(chunk, "LIST") && isTag(chunk + 8, "hdrl") && !haveHeaderList) {
            if (size < 4 || size > kMaxHeaderListBytes || pos + 8 + size > h->fileSize) {
                return size > kMaxHeaderListBytes ? AVI_ERR_NO_MEM : AVI_ERR_NO_HDRL;
            }
            std::vector<uint8_t> list(size - 4);
            if (!readAt(h, pos + 12, list.data(), list.size())) {
                return AVI_ERR_READ;
            }
            parseHeaderList(h, list.data(), static_cast<uint32_t>(list.size()));
            haveHeaderList = true;
            if (h->headerParseStopped) {
                return 0;
            }
        } else if (isTag(chunk, "LIST") && isTag(chunk + 8, "movi")) {
            int64_t end = pos + 8 + static_cast<int64_t>(size);
            // A list written without its size (a pipe) or cut short runs to the end of file.
            bool open = size < 4 || end > h->fileSize;
            h->movi.push_back({pos + 8, open ? h->fileSize : end});
            if (open) {
                break;
            }
        } else if (isTag(chunk, "idx1") && h->idx1Position < 0) {
            h->idx1Position = pos + 8;
            h->idx1Size =
                static_cast<uint32_t>(std::min<int64_t>(size, h->fileSize - h->idx1Position));
        }
        pos += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    if (!haveHeaderList) {
        return AVI_ERR_NO_HDRL;
    }
    if (h->movi.empty()) {
        return AVI_ERR_NO_MOVI;
    }
    if (h->videoStream < 0) {
        return AVI_ERR_NO_VIDS;
    }
    return 0;
}

// Reads the standard indexes a super index names into the video index or an audio track.
// The standard indexes of a stream follow each other through the file; one that starts
// inside the previous one is not read, so that a damaged super index naming the same bytes
// over and over cannot multiply the index beyond the size of the file.
// Returns false when an index is damaged (cut short, or lying outside the file). Entries whose
// data lies beyond the end of the file are kept: reading them fails with code 3.
bool readStandardIndexes(avi_reader_t* h, const SuperIndex& super, AudioTrack* track) {
    int64_t previousEnd = 0;
    bool intact = true;
    for (int64_t chunkPos : super.chunkPositions) {
        uint8_t head[32];
        if (chunkPos < previousEnd) {
            continue;
        }
        if (!readAt(h, chunkPos, head, sizeof head)) {
            intact = false;
            continue;
        }
        uint32_t chunkSize = loadU32(head + 4);
        previousEnd = chunkPos + 8 + static_cast<int64_t>(std::max<uint32_t>(chunkSize, 24));
        if (head[10] != 0) {
            zelplay::logLine("Invalid Header, bIndexSubType != 0");
            continue;
        }
        if (head[11] != kIndexOfChunks || chunkSize < 24) {
            continue;
        }
        uint64_t entries = loadU32(head + 12);
        entries = std::min<uint64_t>(entries, (chunkSize - 24) / 8);
        uint64_t inFile = static_cast<uint64_t>(h->fileSize - chunkPos - 32) / 8;
        if (entries > inFile) {
            intact = false;
            entries = inFile;
        }
        int64_t base = static_cast<int64_t>(loadU64(head + 20) & 0x7FFFFFFFFFFFFFFFull);
        std::vector<uint8_t> raw;
        raw.resize(static_cast<size_t>(entries) * 8);
        if (!readAt(h, chunkPos + 32, raw.data(), raw.size())) {
            continue;  // an index reaching past the end of the file is not used
        }
        for (uint64_t i = 0; i < entries; ++i) {
            uint32_t offset = loadU32(raw.data() + i * 8);
            uint32_t sizeField = loadU32(raw.data() + i * 8 + 4);
            uint32_t size = sizeField & ~kStdIndexNotKey;
            // An entry whose data lies beyond the end of the file stays in the index: reading
            // that frame fails, the frames around it remain readable.
            int64_t position = base + offset;
            if (track != nullptr) {
                addAudioChunk(*track, position, size);
            } else {
                uint32_t flags = (sizeField & kStdIndexNotKey) ? 0 : kIndexKeyFlag;
                h->videoIndex.push_back({position, size, flags});
            }
        }
    }
    return intact;
}

enum class IndexSource { kAbsent, kDamaged, kUsed };

IndexSource buildFromOpenDml(avi_reader_t* h) {
    if (h->videoSuperIndex.chunkPositions.empty()) {
        return IndexSource::kAbsent;
    }
    bool intact = readStandardIndexes(h, h->videoSuperIndex, nullptr);
    for (AudioTrack& t : h->tracks) {
        intact = readStandardIndexes(h, t.superIndex, &t) && intact;
    }
    return intact && !h->videoIndex.empty() ? IndexSource::kUsed : IndexSource::kDamaged;
}

bool buildFromIdx1(avi_reader_t* h) {
    if (h->idx1Position < 0) {
        return false;
    }
    uint32_t entries = h->idx1Size / 16;
    std::vector<uint8_t> raw(static_cast<size_t>(entries) * 16);
    if (!readAt(h, h->idx1Position, raw.data(), raw.size())) {
        return false;
    }
    // Offsets count from the "movi" list type or, in some writers, from the file start: the
    // first entry that names a stream tells which.
    int64_t base = h->movi.front().start;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = raw.data() + static_cast<size_t>(i) * 16;
        if (streamOf(e) < 0) {
            continue;
        }
        uint8_t id[4];
        uint32_t offset = loadU32(e + 8);
        if (readAt(h, base + offset, id, 4) && memcmp(id, e, 4) == 0) {
            break;
        }
        if (readAt(h, offset, id, 4) && memcmp(id, e, 4) == 0) {
            base = 0;
        }
        break;
    }
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = raw.data() + static_cast<size_t>(i) * 16;
        int64_t position = base + loadU32(e + 8) + 8;
        uint32_t size = loadU32(e + 12);
        if (isVideoChunk(h, e)) {
            h->videoIndex.push_back({position, size, loadU32(e + 4)});
        } else if (AudioTrack* t = audioTrackOf(h, e)) {
            addAudioChunk(*t, position, size);
        }
    }
    return !h->videoIndex.empty();
}

void rebuildByScan(avi_reader_t* h) {
    for (const MoviRange& range : h->movi) {
        int64_t pos = range.start + 4;
        while (pos + 8 <= range.end) {
            uint8_t head[8 + kKeyPeekBytes];
            size_t want = static_cast<size_t>(std::min<int64_t>(sizeof head, range.end - pos));
            if (!readAt(h, pos, head, want)) {
                break;
            }
            uint32_t size = loadU32(head + 4);
            if (isTag(head, "LIST")) {
                if (want >= 12 && isTag(head + 8, "rec ")) {
                    pos += 12;  // the chunks of a "rec " list are read in place
                    continue;
                }
            } else if (pos + 8 + static_cast<int64_t>(size) > range.end) {
                break;  // a chunk cut short by the end of the file is left out
            } else if (isVideoChunk(h, head)) {
                size_t peek = std::min<size_t>(size, want - 8);
                uint32_t flags = looksLikeKeyFrame(head + 8, peek) ? kIndexKeyFlag : 0;
                h->videoIndex.push_back({pos + 8, size, flags});
            } else if (AudioTrack* t = audioTrackOf(h, head)) {
                addAudioChunk(*t, pos + 8, size);
            }
            pos += 8 + static_cast<int64_t>(size) + (size & 1);
        }
    }
    int64_t audioBytes = h->tracks.empty() ? 0 : h->tracks.front().totalBytes;
    long audioChunks = h->tracks.empty() ? 0 : static_cast<long>(h->tracks.front().chunks.size());
    // The announcement and its close make one line of the log.
    zelplay::logLine("[avilib] Reconstructing index...done. nvi=%ld nai=%ld tot=%ld",
                     static_cast<long>(h->videoIndex.size()), audioChunks,
                     static_cast<long>(audioBytes));
    h->rebuilt = true;
}

void clearIndex(avi_reader_t* h) {
    h->videoIndex.clear();
    for (AudioTrack& t : h->tracks) {
        t.chunks.clear();
        t.totalBytes = 0;
    }
}

// The OpenDML indexes first (they cover every RIFF part), then "idx1", then a scan. A
// damaged OpenDML index goes straight to the scan: "idx1" covers only the first part, and
// the scan finds every whole chunk.
int buildIndex(avi_reader_t* h) {
    IndexSource openDml = buildFromOpenDml(h);
    if (openDml != IndexSource::kUsed) {
        clearIndex(h);
        if (openDml == IndexSource::kDamaged || !buildFromIdx1(h)) {
            clearIndex(h);
            rebuildByScan(h);
        }
    }
    if (h->videoIndex.empty()) {
        return AVI_ERR_NO_VIDS;
    }
    h->hasIndex = true;
    return 0;
}

// Common checks: a reading handle (7), and an index when the operation needs one (13).
bool usable(const avi_reader_t* h, bool needsIndex) {
    if (h == nullptr || !h->reading) {
        fail(AVI_ERR_NOT_PERM);
        return false;
    }
    if (needsIndex && !h->hasIndex) {
        fail(AVI_ERR_NO_IDX);
        return false;
    }
    return true;
}

AudioTrack* currentTrack(avi_reader_t* h) {
    if (h == nullptr || h->currentTrack < 0 ||
        h->currentTrack >= static_cast<int>(h->tracks.size())) {
        return nullptr;
    }
    return &h->tracks[h->currentTrack];
}

// The frame at the video position; capacity < 0: the caller sized the buffer by the frame.
long readVideo(avi_reader_t* h, uint8_t* buffer, long capacity, int* key_frame) {
    if (!usable(h, true)) {
        return -1;
    }
    if (h->videoPosition >= static_cast<long>(h->videoIndex.size())) {
        return -1;
    }
    const IndexEntry& e = h->videoIndex[h->videoPosition];
    int type = e.flags == kIndexKeyFlag ? AVI_FRAME_INDEX_KEY : AVI_FRAME_OTHER;
    if (buffer != nullptr) {
        if ((capacity >= 0 && e.size > static_cast<unsigned long>(capacity)) ||
            !readAt(h, e.position, buffer, e.size)) {
            return fail(AVI_ERR_READ);
        }
        // The byte behind a 4-byte start code: a sequence parameter set (type 7) opens a
        // frame at which decoding can start.
        type = e.size >= 5 && (buffer[4] & 0x07) == 0x07 ? AVI_FRAME_KEY : AVI_FRAME_OTHER;
    }
    if (key_frame != nullptr) {
        *key_frame = type;
    }
    ++h->videoPosition;
    return static_cast<long>(e.size);
}

}  // namespace

extern "C" {

int avi_reader_errno(void) {
    return g_aviErrno.load(std::memory_order_relaxed);
}

const char* avi_reader_strerror(int code) {
    switch (code) {
        case 0:
            return "no error";
        case AVI_ERR_READ:
            return "a read from the file failed or came up short";
        case AVI_ERR_NOT_PERM:
            return "the operation needs a handle open for reading";
        case AVI_ERR_NO_MEM:
            return "out of memory";
        case AVI_ERR_NO_AVI:
            return "not a RIFF AVI file";
        case AVI_ERR_NO_HDRL:
            return "the file has no hdrl header list";
        case AVI_ERR_NO_MOVI:
            return "the file has no movi list";
        case AVI_ERR_NO_VIDS:
            return "the file has no video stream";
        case AVI_ERR_NO_IDX:
            return "the operation needs an index";
        default:
            return "unknown error";
    }
}

avi_reader_t* avi_reader_open(const char* path, int build_index) {
    if (path == nullptr) {
        fail(AVI_ERR_READ);
        return nullptr;
    }
    avi_reader_t* h = new (std::nothrow) avi_reader_t;
    if (h == nullptr) {
        fail(AVI_ERR_NO_MEM);
        return nullptr;
    }
    // Never a wait on the open (a FIFO, a device): only regular files are read.
    h->fd = files::openRegular(path, O_RDONLY);
    struct stat st;
    if (h->fd < 0 || fstat(h->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        delete h;
        fail(AVI_ERR_READ);
        return nullptr;
    }
    h->fileSize = st.st_size;
    int code = 0;
    try {
        code = parseFile(h);
        if (code == 0 && build_index && !h->headerParseStopped) {
            code = buildIndex(h);
        }
    } catch (const std::bad_alloc&) {
        code = AVI_ERR_NO_MEM;
    }
    if (code != 0) {
        delete h;
        fail(code);
        return nullptr;
    }
    g_aviErrno.store(0, std::memory_order_relaxed);
    return h;
}

void avi_reader_close(avi_reader_t* h) {
    delete h;
}

long avi_reader_video_frames(avi_reader_t* h) {
    if (h == nullptr) {
        return 0;
    }
    return h->hasIndex ? static_cast<long>(h->videoIndex.size()) : h->headerFrames;
}

int avi_reader_width(avi_reader_t* h) {
    return h != nullptr ? h->width : 0;
}

int avi_reader_height(avi_reader_t* h) {
    return h != nullptr ? h->height : 0;
}

double avi_reader_frame_rate(avi_reader_t* h) {
    return h != nullptr ? h->frameRate : 0.0;
}

void avi_reader_video_codec(avi_reader_t* h, char tag[5]) {
    if (tag == nullptr) {
        return;
    }
    memset(tag, 0, 5);
    if (h != nullptr) {
        memcpy(tag, h->videoCodec, 4);
    }
}

long avi_reader_video_start(avi_reader_t* h) {
    return h != nullptr ? h->videoStart : 0;
}

int avi_reader_index_rebuilt(avi_reader_t* h) {
    return h != nullptr && h->rebuilt ? 1 : 0;
}

int avi_reader_audio_tracks(avi_reader_t* h) {
    return h != nullptr ? static_cast<int>(h->tracks.size()) : 0;
}

int avi_reader_set_audio_track(avi_reader_t* h, int track) {
    if (!usable(h, false)) {
        return -1;
    }
    if (track < 0 || track >= static_cast<int>(h->tracks.size())) {
        return -1;
    }
    h->currentTrack = track;
    return 0;
}

int avi_reader_audio_bits(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->bits : 0;
}

int avi_reader_audio_channels(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->channels : 0;
}

int avi_reader_audio_format(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->format : 0;
}

long avi_reader_audio_rate(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->rate : 0;
}

long avi_reader_audio_mp3rate(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->mp3rate : 0;
}

int64_t avi_reader_audio_bytes(avi_reader_t* h) {
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? t->totalBytes : 0;
}

int avi_reader_seek_video(avi_reader_t* h, long frame) {
    if (!usable(h, true)) {
        return -1;
    }
    h->videoPosition = std::max(frame, 0L);
    return 0;
}

long avi_reader_frame_size(avi_reader_t* h) {
    if (!usable(h, true)) {
        return -1;
    }
    if (h->videoPosition >= static_cast<long>(h->videoIndex.size())) {
        return -1;
    }
    return static_cast<long>(h->videoIndex[h->videoPosition].size);
}

long avi_reader_read_video(avi_reader_t* h, uint8_t* buffer, int* key_frame) {
    return readVideo(h, buffer, -1, key_frame);
}

long avi_reader_read_video_bounded(avi_reader_t* h, uint8_t* buffer, long buffer_size,
                                   int* key_frame) {
    if (buffer != nullptr && buffer_size < 0) {
        return fail(AVI_ERR_READ);
    }
    return readVideo(h, buffer, buffer_size, key_frame);
}

long avi_reader_audio_chunks(avi_reader_t* h) {
    if (!usable(h, true)) {
        return -1;
    }
    AudioTrack* t = currentTrack(h);
    return t != nullptr ? static_cast<long>(t->chunks.size()) : 0;
}

long avi_reader_audio_chunk_size(avi_reader_t* h, long chunk) {
    if (!usable(h, true)) {
        return -1;
    }
    AudioTrack* t = currentTrack(h);
    if (t == nullptr || chunk < 0 || chunk >= static_cast<long>(t->chunks.size())) {
        return -1;
    }
    return static_cast<long>(t->chunks[chunk].size);
}

int avi_reader_seek_audio_chunk(avi_reader_t* h, long chunk) {
    if (!usable(h, true)) {
        return -1;
    }
    AudioTrack* t = currentTrack(h);
    long count = t != nullptr ? static_cast<long>(t->chunks.size()) : 0;
    if (chunk > count) {
        return fail(AVI_ERR_NO_IDX);
    }
    if (t != nullptr) {
        t->chunkPosition = std::max(chunk, 0L);
        t->byteOffset = 0;
    }
    return 0;
}

int avi_reader_seek_audio_byte(avi_reader_t* h, int64_t byte) {
    if (!usable(h, true)) {
        return -1;
    }
    AudioTrack* t = currentTrack(h);
    if (t == nullptr || t->chunks.empty()) {
        return 0;
    }
    byte = std::max<int64_t>(byte, 0);
    auto after =
        std::upper_bound(t->chunks.begin(), t->chunks.end(), byte,
                         [](int64_t value, const AudioChunk& c) { return value < c.bytesBefore; });
    long chunk = static_cast<long>(after - t->chunks.begin()) - 1;
    chunk = std::max(chunk, 0L);
    t->chunkPosition = chunk;
    t->byteOffset = std::min<int64_t>(byte - t->chunks[chunk].bytesBefore, t->chunks[chunk].size);
    return 0;
}

long avi_reader_read_audio(avi_reader_t* h, uint8_t* buffer, long bytes) {
    if (!usable(h, true)) {
        return -1;
    }
    AudioTrack* t = currentTrack(h);
    if (t == nullptr || bytes < 0) {
        return 0;
    }
    long count = static_cast<long>(t->chunks.size());
    if (bytes == 0) {
        if (t->chunkPosition < count) {
            ++t->chunkPosition;
        }
        t->byteOffset = 0;
        return 0;
    }
    if (buffer == nullptr) {
        return fail(AVI_ERR_READ);
    }
    long done = 0;
    while (done < bytes && t->chunkPosition < count) {
        const AudioChunk& c = t->chunks[t->chunkPosition];
        int64_t left = static_cast<int64_t>(c.size) - t->byteOffset;
        if (left <= 0) {
            ++t->chunkPosition;
            t->byteOffset = 0;
            continue;
        }
        long todo = static_cast<long>(std::min<int64_t>(left, bytes - done));
        int64_t position = c.position + t->byteOffset;
        if (!readAt(h, position, buffer + done, static_cast<size_t>(todo))) {
            zelplay::logLine("XXX pos = %lld, ret = %lld, todo = %ld",
                             static_cast<long long>(position), 0LL, todo);
            return fail(AVI_ERR_READ);
        }
        t->byteOffset += todo;
        done += todo;
    }
    return done;
}

}  // extern "C"
