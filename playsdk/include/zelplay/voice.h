/* libzelplay exports: voice (filled in with its module). */
#ifndef ZELPLAY_VOICE_H
#define ZELPLAY_VOICE_H

#include "zelplay/export.h"

#endif
