// Test helpers: H.264 made by FFmpeg at test time, cut into access units, and frame records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

struct AccessUnit {
    std::vector<uint8_t> bytes;  // Annex B, start codes included
    bool key = false;            // an IDR picture
    bool startsWithSps = false;  // 00 00 00 01 then an SPS
};

// Encodes frames of a test pattern at width x height, 25 fps, key frame every gop frames,
// parameter sets before every key frame, no B frames. Empty on failure. source is the
// lavfi source with its options, if any ("smptebars", "color=c=red").
std::vector<AccessUnit> makeH264(const std::string& folder, int width, int height, int frames,
                                 int gop, const std::string& extra = {},
                                 const std::string& source = "testsrc2");

// Splits an Annex B stream into access units.
std::vector<AccessUnit> splitAccessUnits(const std::vector<uint8_t>& stream);

struct RecordFields {
    uint8_t kind = 0x62;
    uint8_t frameRate = 25;
    uint32_t sequence = 0;
    uint32_t timeStamp = 0;
    uint32_t frameType = 0;
};

// A 40-byte header (payload length = payload size) followed by the payload.
std::vector<uint8_t> makeRecord(const RecordFields& f, const std::vector<uint8_t>& payload);

// The frame record of access unit i of a 25 fps stream: sequence i + 1, stamp base + 40 i,
// type 3 for key frames that start with an SPS, 1 for other key frames, 0 otherwise.
std::vector<uint8_t> recordForUnit(const AccessUnit& au, uint32_t index, uint32_t stampBase = 1000);

}  // namespace enginetest
