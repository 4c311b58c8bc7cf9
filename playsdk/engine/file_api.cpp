// The exported C calls of file play and file facts.

#include <cstring>
#include <optional>

#include "file_facts.h"
#include "port_call.h"
#include "zelplay/play.h"

using zelplay::PlayPort;
using zelplay::withPort;

extern "C" {

ZELPLAY_API int32_t ZelPlay_OpenFile(ZELPLAY_PORT port, const char* path) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.openFile(path); });
}

ZELPLAY_API int32_t ZelPlay_OpenFileEx(ZELPLAY_PORT port, const char* path, uint32_t baseOffset,
                                       uint32_t startTime) {
    return withPort<int32_t>(
        port, 0, [&](PlayPort& p) { return p.openFileEx(path, baseOffset, startTime); });
}

ZELPLAY_API int32_t ZelPlay_SetPlayPos(ZELPLAY_PORT port, float position) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.setPlayPos(position); });
}

ZELPLAY_API float ZelPlay_GetPlayPos(ZELPLAY_PORT port) {
    return withPort<float>(port, 0.0f, [](PlayPort& p) { return p.playPos(); });
}

ZELPLAY_API int32_t ZelPlay_SetFileEndMsg(ZELPLAY_PORT port, uintptr_t window, uint32_t message) {
    return withPort<int32_t>(port, 0,
                             [&](PlayPort& p) { return p.setFileEndMsg(window, message); });
}

ZELPLAY_API uint32_t ZelPlay_GetFileTime(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.fileTime(); });
}

ZELPLAY_API uint32_t ZelPlay_GetFileTotalFrames(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.fileTotalFrames(); });
}

ZELPLAY_API uint32_t ZelPlay_GetPlayedFrames(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.playedFrames(); });
}

ZELPLAY_API uint32_t ZelPlay_GetFileStartTime(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.fileStartTime(); });
}

ZELPLAY_API int32_t ZelPlay_GetPlayInfo(ZELPLAY_PORT port, char* path, uint32_t* baseOffset) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.playInfo(path, baseOffset); });
}

ZELPLAY_API int32_t ZelPlay_GetMediaInfo(const char* path, int32_t* width, int32_t* height,
                                         uint32_t* startTime, uint32_t* frameCount,
                                         double* frameRate, uint32_t* durationMs, uint32_t* bitRate,
                                         uint8_t* hasAudio, uint32_t baseOffset) {
    if (path == nullptr || width == nullptr || height == nullptr || startTime == nullptr ||
        frameCount == nullptr || frameRate == nullptr || durationMs == nullptr ||
        bitRate == nullptr || hasAudio == nullptr) {
        return 0;
    }
    try {
        const std::optional<zelplay::MediaFacts> facts = zelplay::readMediaFacts(path, baseOffset);
        if (!facts)
            return 0;
        *width = facts->width;
        *height = facts->height;
        *startTime = facts->startTime;
        *frameCount = facts->frameCount;
        *frameRate = facts->frameRate;
        *durationMs = facts->durationMs;
        *bitRate = facts->bitRate;
        *hasAudio = facts->hasAudio ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
