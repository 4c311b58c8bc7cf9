// H.264 byte streams from outside (records, AVI files, live input) cut into NAL and access
// units: every unit lies inside the input, in order and without overlap, and every access
// unit holds a slice.
#include <cstddef>
#include <cstdint>
#include <span>

#include "h264/annexb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    const uint8_t* end = data + size;
    const uint8_t* last = data;
    for (std::span<const uint8_t> nal : h264::splitAnnexB(input)) {
        if (nal.empty() || nal.data() < last || nal.data() + nal.size() > end)
            __builtin_trap();
        last = nal.data() + nal.size();
    }
    last = data;
    for (std::span<const uint8_t> unit : h264::splitAccessUnits(input)) {
        if (unit.data() < last || unit.data() + unit.size() > end || !h264::hasSlice(unit))
            __builtin_trap();
        last = unit.data() + unit.size();
        h264::isKeyAccessUnit(unit);
    }
    return 0;
}
