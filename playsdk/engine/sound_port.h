// The sound port: the one port of the process whose sound is heard. Every port decodes its
// audio; only this one's output holds an audio device and is fed.
//
// The port is held by a weak reference to the port itself, never by its address, so a port
// made later at a freed port's address is not taken for it; freeing the heard port
// silences it and leaves no port heard.
//
// Lock order: switchLock_, then the sound lock of one port at a time (the old sound port's,
// released, then the new one's); designationLock_ comes last, held only to read or change
// which port is heard (with, in play, the port table's list lock inside it). The heard device
// opens and closes under switchLock_, so at most one is open at any time; freeing a port
// that is not heard never takes switchLock_, so it never waits for another port's device.
// No port lock but the sound locks is taken here and no sound lock is held when this is
// called, so a decode callback may switch the sound.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace zelplay {

class PlayPort;

class SoundPort {
  public:
    static SoundPort& instance();

    // ZelPlay_PlaySound: silences the port heard so far (even when it is this one), then
    // opens this port's output for bits and rate unless it runs already, and makes this
    // port the one heard. 1, or 0 with the port's error stored.
    int32_t play(const std::shared_ptr<PlayPort>& port, int32_t bitsPerSample, int32_t sampleRate);
    // ZelPlay_StopSound: silences the heard port, if any, and leaves none heard.
    void stop();
    // The port is being freed: if it is heard, it is silenced and none is heard.
    void forget(const PlayPort& port);
    bool isHeard(const PlayPort& port);

  private:
    SoundPort() = default;

    // Takes the heard port out of the designation (none is heard then).
    std::shared_ptr<PlayPort> takeHeard();

    std::mutex switchLock_;  // one switch (play, stop) at a time
    std::mutex designationLock_;
    std::weak_ptr<PlayPort> heard_;  // guarded by designationLock_
};

}  // namespace zelplay
