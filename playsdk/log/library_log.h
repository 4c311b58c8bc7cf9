// The library's log: one line per event worth telling a caller who wonders what the
// library did (which video output a port took, why a backend was left). Lines go to
// standard error, to the file named by ZELPLAY_LOG (written without waiting: a FIFO nobody
// reads loses the line), or nowhere when ZELPLAY_LOG is "off".
//
// Thread contract: any thread; each line is written whole.
#pragma once

namespace zelplay {

// Writes "zelplay: " and the formatted text as one line.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zelplay
