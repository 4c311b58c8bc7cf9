#include "h264_stream.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "h264/annexb.h"
#include "support/process.h"

namespace enginetest {

std::vector<AccessUnit> makeH264(const std::string& folder, int width, int height, int frames,
                                 int gop, const std::string& extra, const std::string& source) {
    const std::string out =
        folder + "/stream_" + std::to_string(width) + "x" + std::to_string(height) + ".h264";
    std::vector<std::string> argv = {"ffmpeg",
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-nostdin",
                                     "-y",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     source + (source.find('=') == std::string::npos ? "=" : ":") +
                                         "size=" + std::to_string(width) + "x" +
                                         std::to_string(height) + ":rate=25",
                                     "-frames:v",
                                     std::to_string(frames),
                                     "-c:v",
                                     "libx264",
                                     "-preset",
                                     "ultrafast",
                                     "-pix_fmt",
                                     "yuv420p",
                                     "-bf",
                                     "0",
                                     "-g",
                                     std::to_string(gop),
                                     "-threads",
                                     "1",
                                     "-x264-params",
                                     "repeat-headers=1:scenecut=0" + extra,
                                     "-f",
                                     "h264",
                                     out};
    if (testsupport::runCommand(argv, 60000) != 0)
        return {};
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return splitAccessUnits(bytes);
}

std::vector<AccessUnit> splitAccessUnits(const std::vector<uint8_t>& s) {
    std::vector<AccessUnit> units;
    for (std::span<const uint8_t> unit : h264::splitAccessUnits(s)) {
        AccessUnit au;
        au.bytes.assign(unit.begin(), unit.end());
        h264::forEachNal(unit, [&](std::span<const uint8_t> nal) {
            au.key = au.key || h264::nalType(nal) == h264::kNalIdr;
            return true;
        });
        au.startsWithSps = unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 &&
                           unit[3] == 1 && h264::nalType(unit.subspan(4)) == h264::kNalSps;
        units.push_back(std::move(au));
    }
    return units;
}

std::vector<uint8_t> makeRecord(const RecordFields& f, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> r(40 + payload.size(), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    r[0] = f.kind;
    put32(12, static_cast<uint32_t>(payload.size()));
    r[16] = f.frameRate;
    put32(20, f.sequence);
    put32(24, f.timeStamp);
    put32(28, f.frameType);
    if (!payload.empty())
        std::memcpy(r.data() + 40, payload.data(), payload.size());
    return r;
}

std::vector<uint8_t> recordForUnit(const AccessUnit& au, uint32_t index, uint32_t stampBase) {
    RecordFields f;
    f.sequence = index + 1;
    f.timeStamp = stampBase + 40 * index;
    f.frameType = au.key ? (au.startsWithSps ? 3u : 1u) : 0u;
    return makeRecord(f, au.bytes);
}

}  // namespace enginetest
