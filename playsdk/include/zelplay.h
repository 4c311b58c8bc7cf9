/*
 * libzelplay: the playback library's C interface. Include this header only; it brings in
 * every group of exports (voice codec, record files, AVI files, ports and playback).
 */
#ifndef ZELPLAY_H
#define ZELPLAY_H

#include "zelplay/export.h"
#include "zelplay/voice.h"
#include "zelplay/custommp4.h"
#include "zelplay/avilib.h"
#include "zelplay/play.h"

#endif /* ZELPLAY_H */
