// H.264 in byte-stream form (ITU-T H.264 Annex B): the NAL units between start codes, the
// access units they group into (clause 7.4.1.2.3), and which units decoding can start at.
// Pure functions over caller's bytes; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace h264 {

// nal_unit_type values (Table 7-1) this code tells apart.
enum NalType : uint8_t {
    kNalSlice = 1,  // coded slice of a non-IDR picture
    kNalIdr = 5,    // coded slice of an IDR picture
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalAud = 9,  // access unit delimiter
};

inline uint8_t nalType(std::span<const uint8_t> nal) {
    return nal.empty() ? 0 : nal[0] & 0x1F;
}

// Slices of a primary coded picture and their data partitions (types 1 to 5).
inline bool isVcl(uint8_t type) {
    return type >= 1 && type <= 5;
}

// Position of the next 00 00 01 at or after from; size() when there is none.
size_t findStartCode(std::span<const uint8_t> bytes, size_t from);

// Calls fn(nal) for each NAL unit (header byte first, start code left out; the zero bytes
// of a following 4-byte start code left out too), in order; fn returns false to stop.
// Bytes before the first start code are not a unit.
template <typename Fn>
void forEachNal(std::span<const uint8_t> bytes, Fn&& fn) {
    size_t at = findStartCode(bytes, 0);
    while (at < bytes.size()) {
        const size_t begin = at + 3;
        const size_t next = findStartCode(bytes, begin);
        size_t end = next;
        while (next < bytes.size() && end > begin && bytes[end - 1] == 0)
            --end;
        if (end > begin && !fn(bytes.subspan(begin, end - begin)))
            return;
        at = next;
    }
}

// The NAL units of the bytes, as forEachNal visits them.
std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> bytes);

// Whether the unit holds a slice (a picture to decode).
bool hasSlice(std::span<const uint8_t> accessUnit);

// Whether decoding can start at the unit: it holds an IDR slice or a sequence parameter set
// (a key frame, wherever a delimiter or SEI puts it in the unit).
bool isKeyAccessUnit(std::span<const uint8_t> accessUnit);

// A stream cut into access units (clause 7.4.1.2.3): a unit ends before a delimiter, a
// parameter set, an SEI or the types 14 to 18 that follow a slice, and before a slice that
// begins a new picture (first_mb_in_slice 0, so the several slices of one picture stay
// together). Each unit keeps its start codes; bytes before the first start code are dropped.
std::vector<std::span<const uint8_t>> splitAccessUnits(std::span<const uint8_t> stream);

}  // namespace h264
