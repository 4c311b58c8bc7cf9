/* libzelplay exports: custommp4 (filled in with its module). */
#ifndef ZELPLAY_CUSTOMMP4_H
#define ZELPLAY_CUSTOMMP4_H

#include "zelplay/export.h"

#endif
