// CStreamPlayer: one playback run of one address in one video window.
#pragma once

#include <atomic>
#include <string>

#include "PlayWindow.h"

class CStreamPlayer {
  public:
    explicit CStreamPlayer(IPlayWindow& window) : m_window(window) {}
    CStreamPlayer(const CStreamPlayer&) = delete;
    CStreamPlayer& operator=(const CStreamPlayer&) = delete;

    // Plays the address once, from opening to the end of the input, on the calling play
    // thread. Returns false when the run could not begin playing (nothing to open, no video
    // stream or decoder); true once it has played to the end of the input, a read error, or
    // until the window's m_bPlaying was cleared. `quit` asks this thread to leave for good
    // (the window restarts or closes): it stops the run like a cleared m_bPlaying and keeps
    // the run from touching the window's flags. All state of a run is local to the call, so
    // a thread that is leaving and its successor may both be inside Play for a moment.
    bool Play(const std::string& address, const std::atomic<bool>& quit);
    // The same, telling how the run ended.
    bool Play(const std::string& address, const std::atomic<bool>& quit, RunOutcome& outcome);

  private:
    IPlayWindow& m_window;  // the owning window; outlives every run
};
