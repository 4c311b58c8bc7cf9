// H.264 access units between the two byte stream forms: Annex-B (start codes, as records
// and AVI files hold them) and length-prefixed (as MP4 and Matroska hold them with an avcC
// record). Pure functions, no FFmpeg.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ifvtool {

using Bytes = std::vector<uint8_t>;

enum NalType : uint8_t {
    kNalSlice = 1,
    kNalIdr = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalAud = 9
};

inline uint8_t nalType(std::span<const uint8_t> nal) {
    return nal.empty() ? 0 : nal[0] & 0x1F;
}

// The NAL units of an Annex-B access unit, without their start codes.
std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> au);

// The NAL units of a length-prefixed access unit; nullopt when a length runs past the end.
std::optional<std::vector<std::span<const uint8_t>>> splitLengthPrefixed(
    std::span<const uint8_t> au, int lengthSize);

// Parameter sets as an avcC record holds them.
struct ParameterSets {
    std::vector<Bytes> sps;
    std::vector<Bytes> pps;
    int lengthSize = 4;
    bool empty() const { return sps.empty() || pps.empty(); }
};

// Reads an avcC record (first byte 1); nullopt when it is not one or is cut short.
std::optional<ParameterSets> parseAvcC(std::span<const uint8_t> extradata);

// Collects the SPS and PPS units of an Annex-B access unit or extradata.
ParameterSets parameterSetsOf(std::span<const uint8_t> annexB);

// An avcC record for the parameter sets, with 4-byte lengths.
Bytes buildAvcC(const ParameterSets& ps);

// Annex-B access unit from a length-prefixed one. When prefix is given (a key frame without
// parameter sets of its own), its SPS and PPS go in front, so that decoding can start there.
std::optional<Bytes> toAnnexB(std::span<const uint8_t> au, int lengthSize,
                              const ParameterSets* prefix);

// Length-prefixed (4-byte) access unit from an Annex-B one, leaving out parameter sets that
// equal those in `known` (they live in the avcC record).
Bytes toLengthPrefixed(std::span<const uint8_t> au, const ParameterSets& known);

// Record frame type of an access unit: 5 with an IDR slice, 3 for another key frame (the
// container's flag), 1 for the rest.
uint8_t recordFrameType(std::span<const uint8_t> annexB, bool containerKey);

}  // namespace ifvtool
