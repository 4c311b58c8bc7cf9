// The port's side of file play (mode 2): opening files, the file controls and queries, and
// the FilePlayHost calls through which the file threads decode, report and sound.
#include <algorithm>
#include <cstring>

#include "file_facts.h"
#include "play_port.h"
#include "port_table.h"
#include "sei.h"

namespace zelplay {

namespace {

bool validPosition(float position) {
    return position >= 0.0f && position <= 1.0f;  // false for NaN too
}

}  // namespace

int32_t PlayPort::openFile(const char* path) {
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    int32_t result = 0;
    {
        std::lock_guard decode(decodeLock_);
        std::lock_guard state(stateLock_);
        result = openFileLocked(path, 0, nullptr, leftovers);
    }
    finishStopping(std::move(leftovers));
    return result;
}

int32_t PlayPort::openFileEx(const char* path, uint32_t baseOffset, uint32_t startTime) {
    if (!mayWaitHere())
        return 0;
    Leftovers leftovers;
    int32_t result = 0;
    {
        std::lock_guard decode(decodeLock_);
        std::lock_guard state(stateLock_);
        result = openFileLocked(path, baseOffset, &startTime, leftovers);
    }
    finishStopping(std::move(leftovers));
    return result;
}

// startTime null: ZelPlay_OpenFile (the kind by the extension, the record at offset 0);
// else ZelPlay_OpenFileEx (a record at baseOffset, play from startTime when it lies inside).
int32_t PlayPort::openFileLocked(const char* path, uint32_t baseOffset, const uint32_t* startTime,
                                 Leftovers& leftovers) {
    if (path == nullptr || std::strlen(path) >= ZELPLAY_PATH_MAX)
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    if (mode_.load() != kModeFile)
        return setError(ZELPLAY_ERR_MODE), 0;
    const std::optional<FileKind> kind = startTime ? FileKind::Record : fileKindOf(path);
    if (!kind)
        return setError(ZELPLAY_ERR_ARGUMENT), 0;  // no extension to tell the kind by
    leftovers = closeLocked();
    FileOpenFacts facts;
    facts.kind = *kind;
    facts.path = path;
    facts.baseOffset = baseOffset;
    if (*kind == FileKind::Record) {
        const std::optional<RecordFacts> record = readRecordFacts(path, baseOffset);
        if (!record)
            return setError(ZELPLAY_ERR_FILE_OPEN), 0;
        if (record->videoFrames == 0)
            return setError(ZELPLAY_ERR_NO_VIDEO), 0;
        facts.startTime = record->startTime;
        facts.durationMs = record->durationMs;
        facts.totalFrames = record->videoFrames;
        facts.hasAudio = record->audioFrames != 0;
        facts.factsRead = true;
        if (startTime != nullptr && record->startTime <= *startTime &&
            *startTime <= record->endTime) {
            const uint64_t offsetMs =
                (static_cast<uint64_t>(*startTime) - record->startTime) * 1000;
            facts.initialSeekMs = static_cast<uint32_t>(std::min<uint64_t>(offsetMs, UINT32_MAX));
        }
    } else if (*kind == FileKind::Avi) {
        // A file that cannot be opened at all fails here; one that opens but whose facts
        // cannot be read opens, and its play ends at once.
        if (!fileReadable(path))
            return setError(ZELPLAY_ERR_FILE_OPEN), 0;
        if (const std::optional<MediaFacts> avi = readAviFacts(path)) {
            if (avi->frameCount == 0)
                return 0;
            facts.avi = *avi;
            facts.startTime = avi->startTime;
            facts.durationMs = avi->durationMs;
            facts.totalFrames = avi->frameCount;
            facts.hasAudio = avi->hasAudio;
            facts.factsRead = true;
        }
    }
    file_.setOpened(std::move(facts));
    opened_.store(true);
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

int32_t PlayPort::setPlayPos(float position) {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0;
    if (mode_.load() != kModeFile)
        return setError(ZELPLAY_ERR_MODE), 0;
    if (!validPosition(position))
        return setError(ZELPLAY_ERR_ARGUMENT), 0;
    // The seek waits for the video thread to land, unless that could hold up this thread's
    // own callback's port.
    switch (file_.seek(position, CallbackContext::mayWaitFor(order_))) {
        case SeekResult::NotPlaying:
            return setError(ZELPLAY_ERR_NO_POSITION), 0;
        case SeekResult::NoKeyFrame:
            // Nothing to start decoding at from there on: play stays where it was.
            return setError(ZELPLAY_ERR_VIDEO_DECODE), 0;
        case SeekResult::Landed:
        case SeekResult::Asked:
            break;
    }
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

float PlayPort::playPos() {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), 0.0f;
    if (!playing_.load())
        return setError(ZELPLAY_ERR_NOT_PLAYING), 0.0f;
    if (mode_.load() != kModeFile)
        return setError(ZELPLAY_ERR_MODE), 0.0f;
    float position = 0.0f;
    if (!file_.position(&position))
        return setError(ZELPLAY_ERR_NO_POSITION), 0.0f;
    setError(ZELPLAY_ERR_NONE);
    return position;
}

int32_t PlayPort::setFileEndMsg(uintptr_t window, uint32_t message) {
    if (mode_.load() != kModeFile)
        return setError(ZELPLAY_ERR_MODE), 0;
    file_.setEndMessage(window, message);
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

// The file queries: opened, then mode 2.
bool PlayPort::fileQueryAllowed() {
    if (!opened_.load())
        return setError(ZELPLAY_ERR_NOT_OPEN), false;
    if (mode_.load() != kModeFile)
        return setError(ZELPLAY_ERR_MODE), false;
    setError(ZELPLAY_ERR_NONE);
    return true;
}

uint32_t PlayPort::fileTime() {
    return fileQueryAllowed() ? file_.durationMs() : 0;
}

uint32_t PlayPort::fileTotalFrames() {
    return fileQueryAllowed() ? file_.opened().totalFrames : 0;
}

uint32_t PlayPort::playedFrames() {
    return fileQueryAllowed() ? file_.playedFrames() : 0;
}

uint32_t PlayPort::fileStartTime() {
    return fileQueryAllowed() ? file_.opened().startTime : 0;
}

int32_t PlayPort::playInfo(char* path, uint32_t* baseOffset) {
    if (mode_.load() != kModeFile)
        return 0;
    const FileOpenFacts facts = file_.opened();
    if (path != nullptr && !facts.path.empty()) {
        // Paths are stored only when shorter than ZELPLAY_PATH_MAX.
        std::memcpy(path, facts.path.c_str(), facts.path.size() + 1);
    }
    if (baseOffset != nullptr)
        *baseOffset = facts.baseOffset;
    setError(ZELPLAY_ERR_NONE);
    return 1;
}

// The size a record states in its headers, read at the record's own base offset (so that a
// record inside a larger file reports its own size). An AVI has no record: false, no code.
bool PlayPort::pictureSizeOfFile(int32_t* width, int32_t* height) {
    const FileOpenFacts facts = file_.opened();
    if (facts.kind != FileKind::Record)
        return false;
    const std::optional<RecordFacts> record = readRecordFacts(facts.path, facts.baseOffset);
    if (!record)
        return false;
    *width = record->width & 0xFFFF;
    *height = record->height & 0xFFFF;
    return true;
}

// ---- FilePlayHost ----------------------------------------------------------------------

void PlayPort::reportFileSei(const uint8_t* frame, size_t length, uint32_t stampMs) {
    FrameHeader header;
    header.payloadLength = static_cast<uint32_t>(length);
    header.timeStamp = stampMs;
    extractAndReportSei(header, frame);
}

void PlayPort::notePlayPosition(uint32_t positionMs) {
    if (firstTimeStamp_.load() == kNoTimeStamp)
        firstTimeStamp_.store(positionMs);
    playedTime_.store(positionMs - firstTimeStamp_.load());
}

bool PlayPort::lockForFileDecode(std::unique_lock<std::mutex>& decode,
                                 const std::atomic<bool>& keepRunning) {
    // The calls that stop play hold decodeLock_ only while they change the state, never
    // while they wait for this thread; they ask it to stop before they release the lock.
    decode = std::unique_lock(decodeLock_);
    return keepRunning.load();
}

int PlayPort::showFilePicture(const uint8_t* frame, size_t length, uint8_t frameType,
                              uint32_t positionMs, int32_t frameRate,
                              const std::atomic<bool>& keepRunning) {
    std::unique_lock<std::mutex> decode;
    if (!lockForFileDecode(decode, keepRunning))
        return 0;
    try {
        const H264Decoder::Outcome outcome =
            decodeUnit(frame, static_cast<uint32_t>(length), frameType, positionMs, frameRate);
        return outcome.ok || outcome.pictures > 0 ? outcome.pictures : -1;
    } catch (const std::bad_alloc&) {
        setError(ZELPLAY_ERR_RESOURCES);  // this frame is lost; the next one is tried
        return -1;
    }
}

int PlayPort::flushFilePicture(int32_t frameRate, const std::atomic<bool>& keepRunning) {
    std::unique_lock<std::mutex> decode;
    if (!lockForFileDecode(decode, keepRunning))
        return 0;
    try {
        return flushPictures(frameRate, 1);
    } catch (const std::bad_alloc&) {
        setError(ZELPLAY_ERR_RESOURCES);
        return 0;
    }
}

void PlayPort::discardFilePictures(const std::atomic<bool>& keepRunning) {
    std::unique_lock<std::mutex> decode;
    if (lockForFileDecode(decode, keepRunning))
        decoder_.discardHeld();
}

void PlayPort::prepareSound(int bits, int rate) {
    std::lock_guard sound(soundLock_);
    if (bits != soundFormat_)
        openSoundLocked(bits, rate);  // refused: the port plays on unheard
}

void PlayPort::restartSound() {
    std::lock_guard sound(soundLock_);
    if (soundFormat_ == 0)
        return;
    sound_->stop();  // what waits to be played belongs to the place before the jump
    sound_->start();
    soundRoom_.notify_all();
}

bool PlayPort::isSoundPort() {
    std::lock_guard sound(soundLock_);
    return heard_;
}

void PlayPort::reportPcm(const uint8_t* pcm, size_t bytes, int bits, uint32_t stampMs) {
    CallbackGate::Call call(callbackGate_);
    const DecodeCallback cb = decodeCallback();
    if (cb.fn == nullptr || bytes == 0)
        return;
    const ZELPLAY_FRAME_INFO info{0, 0, static_cast<int32_t>(stampMs),
                                  bits == 8 ? ZELPLAY_FRAME_TYPE_PCM8 : ZELPLAY_FRAME_TYPE_PCM16,
                                  static_cast<int32_t>(bits * 1000 / static_cast<int64_t>(bytes))};
    cb.fn(handle(), pcm, static_cast<int32_t>(bytes), &info, cb.user);
}

SoundWrite PlayPort::writePcm(const uint8_t* pcm, size_t bytes, int bits) {
    return writeHeard(pcm, bytes, bits, 0);
}

}  // namespace zelplay
