// The exported C calls of ports and playback: each finds its port, hands the call to it
// and turns anything thrown into a stored error; nothing crosses the C boundary.

#include <exception>
#include <new>

#include "display_devices.h"
#include "port_call.h"
#include "sound_port.h"
#include "zelplay/play.h"

using zelplay::PlayPort;
using zelplay::PortTable;
using zelplay::SnapshotFormat;
using zelplay::SoundPort;
using zelplay::withPort;

extern "C" {

ZELPLAY_API int32_t ZelPlay_GetPort(ZELPLAY_PORT* port) {
    if (port == nullptr)
        return 0;
    try {
        std::shared_ptr<PlayPort> p = PortTable::instance().create();
        if (!p)
            return 0;
        *port = p->handle();
        p->setError(ZELPLAY_ERR_NONE);
        return 1;
    } catch (...) {
        return 0;
    }
}

ZELPLAY_API int32_t ZelPlay_FreePort(ZELPLAY_PORT port) {
    try {
        return PortTable::instance().destroy(port) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ZELPLAY_API uint32_t ZelPlay_GetLastError(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, ZELPLAY_ERR_ARGUMENT,
                              [](PlayPort& p) { return p.lastError(); });
}

ZELPLAY_API uint32_t ZelPlay_GetSdkVersion(void) {
    return ZELPLAY_SDK_VERSION;
}

ZELPLAY_API int32_t ZelPlay_SetPlayMode(ZELPLAY_PORT port, int32_t mode) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.setPlayMode(mode); });
}

ZELPLAY_API int32_t ZelPlay_SetDelayTime(ZELPLAY_PORT port, int32_t seconds, int32_t /*reserved*/) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.setDelayTime(seconds); });
}

ZELPLAY_API int32_t ZelPlay_OpenStream(ZELPLAY_PORT port, uint32_t bufferBytes) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.openStream(bufferBytes); });
}

ZELPLAY_API int32_t ZelPlay_Close(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.close(); });
}

ZELPLAY_API int32_t ZelPlay_Play(ZELPLAY_PORT port, uintptr_t window) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.play(window); });
}

ZELPLAY_API int32_t ZelPlay_Stop(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.stop(); });
}

ZELPLAY_API int32_t ZelPlay_PlaySound(ZELPLAY_PORT port, int32_t bitsPerSample,
                                      int32_t sampleRate) {
    std::shared_ptr<PlayPort> p;
    try {
        p = PortTable::instance().find(port);
        if (!p)
            return 0;
        return SoundPort::instance().play(p, bitsPerSample, sampleRate);
    } catch (...) {
        if (p)
            p->setError(ZELPLAY_ERR_RESOURCES);
        return 0;
    }
}

ZELPLAY_API int32_t ZelPlay_StopSound(void) {
    try {
        SoundPort::instance().stop();
    } catch (...) {
    }
    return 1;
}

ZELPLAY_API int32_t ZelPlay_SetVolume(ZELPLAY_PORT port, uint32_t volume) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.setSoundVolume(volume); });
}

ZELPLAY_API uint32_t ZelPlay_GetVolume(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.soundVolume(); });
}

ZELPLAY_API int32_t ZelPlay_InputVideoData(ZELPLAY_PORT port, const uint8_t* record,
                                           uint32_t size) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.inputVideo(record, size); });
}

ZELPLAY_API int32_t ZelPlay_InputAudioData(ZELPLAY_PORT port, const uint8_t* record,
                                           uint32_t size) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.inputAudio(record, size); });
}

ZELPLAY_API int32_t ZelPlay_GetSourceBufferRemain(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.sourceBufferRemain(); });
}

ZELPLAY_API int32_t ZelPlay_ResetSourceBuffer(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.resetSourceBuffer(); });
}

ZELPLAY_API int32_t ZelPlay_Pause(ZELPLAY_PORT port, int32_t pause) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.pause(pause != 0); });
}

ZELPLAY_API int32_t ZelPlay_Fast(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.fast(); });
}

ZELPLAY_API int32_t ZelPlay_Slow(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.slow(); });
}

ZELPLAY_API int32_t ZelPlay_OneByOne(ZELPLAY_PORT port) {
    return withPort<int32_t>(port, 0, [](PlayPort& p) { return p.oneByOne(); });
}

ZELPLAY_API uint32_t ZelPlay_GetPlayedTime(ZELPLAY_PORT port) {
    return withPort<uint32_t>(port, 0, [](PlayPort& p) { return p.playedTime(); });
}

ZELPLAY_API int32_t ZelPlay_GetPictureSize(ZELPLAY_PORT port, int32_t* width, int32_t* height) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.pictureSize(width, height); });
}

ZELPLAY_API int32_t ZelPlay_GetBMP(ZELPLAY_PORT port, const char* path) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) {
        return p.snapshot(path, SnapshotFormat::Bmp, 0, false, nullptr);
    });
}

ZELPLAY_API int32_t ZelPlay_GetJPG(ZELPLAY_PORT port, const char* path, int32_t quality) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) {
        return p.snapshot(path, SnapshotFormat::Jpeg, quality, false, nullptr);
    });
}

ZELPLAY_API int32_t ZelPlay_GetBMPWithTag(ZELPLAY_PORT port, const char* path, const char* tag) {
    return withPort<int32_t>(
        port, 0, [&](PlayPort& p) { return p.snapshot(path, SnapshotFormat::Bmp, 0, true, tag); });
}

ZELPLAY_API int32_t ZelPlay_GetJPGWithTag(ZELPLAY_PORT port, const char* path, int32_t quality,
                                          const char* tag) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) {
        return p.snapshot(path, SnapshotFormat::Jpeg, quality, true, tag);
    });
}

ZELPLAY_API int32_t ZelPlay_SetDecCallBack(ZELPLAY_PORT port, ZELPLAY_DEC_CALLBACK callback,
                                           ZELPLAY_USER user) {
    return withPort<int32_t>(port, 0,
                             [&](PlayPort& p) { return p.setDecodeCallback(callback, user); });
}

ZELPLAY_API int32_t ZelPlay_RigisterSEICallBack(ZELPLAY_PORT port, ZELPLAY_SEI_CALLBACK callback,
                                                ZELPLAY_USER user) {
    return withPort<int32_t>(port, 0,
                             [&](PlayPort& p) { return p.setSeiCallback(callback, user); });
}

ZELPLAY_API int32_t ZelPlay_RigisterDrawFun(ZELPLAY_PORT port, ZELPLAY_DRAW_CALLBACK callback,
                                            ZELPLAY_USER user) {
    return withPort<int32_t>(port, 0,
                             [&](PlayPort& p) { return p.setDrawCallback(callback, user); });
}

ZELPLAY_API int32_t ZelPlay_GetDDrawDeviceTotalNums(void) {
    try {
        return zelplay::displayDeviceCount();
    } catch (...) {
        return 0;
    }
}

ZELPLAY_API int32_t ZelPlay_SetDDrawDevice(ZELPLAY_PORT port, int32_t index) {
    return withPort<int32_t>(port, 0, [&](PlayPort& p) { return p.setDisplayDevice(index); });
}

ZELPLAY_API int32_t ZelPlay_SetColor(ZELPLAY_PORT port, int32_t brightness, int32_t contrast,
                                     int32_t saturation, int32_t hue) {
    return withPort<int32_t>(
        port, 0, [&](PlayPort& p) { return p.setColour(brightness, contrast, saturation, hue); });
}

ZELPLAY_API int32_t ZelPlay_GetColor(ZELPLAY_PORT port, int32_t* brightness, int32_t* contrast,
                                     int32_t* saturation, int32_t* hue) {
    return withPort<int32_t>(
        port, 0, [&](PlayPort& p) { return p.getColour(brightness, contrast, saturation, hue); });
}

}  // extern "C"
