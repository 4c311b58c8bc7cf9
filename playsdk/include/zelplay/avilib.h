/* libzelplay exports: avilib (filled in with its module). */
#ifndef ZELPLAY_AVILIB_H
#define ZELPLAY_AVILIB_H

#include "zelplay/export.h"

#endif
