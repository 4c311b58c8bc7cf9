// The parameter-set reader: a whole access unit, and the set body alone.
#include <cstddef>
#include <cstdint>

#include "sps_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto s = zelplay::readAccessUnitPictureSize(data, size)) {
        if (s->width <= 0 || s->height <= 0 || s->width > 16384 || s->height > 16384)
            __builtin_trap();
    }
    if (auto s = zelplay::parseSpsPictureSize(data, size)) {
        if (s->width % 16 != 0 || (s->height % 16 != 0 && s->height != 1080))
            __builtin_trap();
    }
    if (size > 0)
        zelplay::findStartCode(data, size, data[0] % size);
    return 0;
}
