#include "h264/annexb.h"

#include <cstring>

namespace h264 {

namespace {

// A slice header starts with first_mb_in_slice, ue(v) (clause 7.3.3): its first bit is 1
// exactly when the value is 0, the first slice of a picture.
bool beginsPicture(std::span<const uint8_t> nal) {
    return nal.size() >= 2 && (nal[1] & 0x80) != 0;
}

// NAL unit types that end an access unit when they follow one of its slices (7.4.1.2.3).
bool startsAccessUnit(uint8_t type) {
    return type == kNalAud || type == kNalSps || type == kNalPps || type == kNalSei ||
           (type >= 14 && type <= 18);
}

}  // namespace

size_t findStartCode(std::span<const uint8_t> bytes, size_t from) {
    const size_t n = bytes.size();
    const uint8_t* data = bytes.data();
    size_t i = from;
    while (i + 3 <= n) {
        // Jump to the next 01 at or after i + 2, then look behind it.
        const void* one = std::memchr(data + i + 2, 1, n - i - 2);
        if (one == nullptr)
            return n;
        const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(one) - data);
        if (data[k - 1] == 0 && data[k - 2] == 0)
            return k - 2;
        i = k - 1;
    }
    return n;
}

std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> bytes) {
    std::vector<std::span<const uint8_t>> units;
    forEachNal(bytes, [&](std::span<const uint8_t> nal) {
        units.push_back(nal);
        return true;
    });
    return units;
}

bool hasSlice(std::span<const uint8_t> accessUnit) {
    bool found = false;
    forEachNal(accessUnit, [&](std::span<const uint8_t> nal) {
        found = isVcl(nalType(nal));
        return !found;
    });
    return found;
}

bool isKeyAccessUnit(std::span<const uint8_t> accessUnit) {
    bool key = false;
    forEachNal(accessUnit, [&](std::span<const uint8_t> nal) {
        const uint8_t type = nalType(nal);
        key = type == kNalIdr || type == kNalSps;
        // The first slice settles it: what follows belongs to the same picture.
        return !key && !isVcl(type);
    });
    return key;
}

std::vector<std::span<const uint8_t>> splitAccessUnits(std::span<const uint8_t> stream) {
    std::vector<std::span<const uint8_t>> units;
    const size_t first = findStartCode(stream, 0);
    if (first >= stream.size())
        return units;
    // The unit being collected starts at unitStart (its first start code, with a leading
    // zero byte of a 4-byte one) and has seen a slice when sliceSeen.
    size_t unitStart = first > 0 && stream[first - 1] == 0 ? first - 1 : first;
    bool sliceSeen = false;
    forEachNal(stream.subspan(first), [&](std::span<const uint8_t> nal) {
        const uint8_t type = nalType(nal);
        const bool newUnit =
            sliceSeen && (startsAccessUnit(type) || (isVcl(type) && beginsPicture(nal)));
        if (newUnit) {
            // The NAL's start code begins 3 bytes before it, or 4 with a leading zero.
            size_t at = static_cast<size_t>(nal.data() - stream.data()) - 3;
            if (at > unitStart && stream[at - 1] == 0)
                --at;
            units.push_back(stream.subspan(unitStart, at - unitStart));
            unitStart = at;
            sliceSeen = false;
        }
        sliceSeen = sliceSeen || isVcl(type);
        return true;
    });
    if (sliceSeen)
        units.push_back(stream.subspan(unitStart));
    return units;
}

}  // namespace h264
