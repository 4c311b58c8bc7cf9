/* libzelplay exports: play (filled in with its module). */
#ifndef ZELPLAY_PLAY_H
#define ZELPLAY_PLAY_H

#include "zelplay/export.h"

#endif
