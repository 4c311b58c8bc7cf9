#include "h264_nal.h"

#include "h264/annexb.h"

#include <algorithm>

namespace ifvtool {

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

bool containsUnit(const std::vector<Bytes>& units, std::span<const uint8_t> nal) {
    return std::any_of(units.begin(), units.end(), [&](const Bytes& u) {
        return u.size() == nal.size() && std::equal(u.begin(), u.end(), nal.begin());
    });
}

void appendAnnexB(Bytes& out, std::span<const uint8_t> nal) {
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), nal.begin(), nal.end());
}

}  // namespace

std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> au) {
    return h264::splitAnnexB(au);
}

std::optional<std::vector<std::span<const uint8_t>>> splitLengthPrefixed(
    std::span<const uint8_t> au, int lengthSize) {
    std::vector<std::span<const uint8_t>> units;
    size_t i = 0;
    while (i < au.size()) {
        if (au.size() - i < static_cast<size_t>(lengthSize)) {
            return std::nullopt;
        }
        size_t len = 0;
        for (int k = 0; k < lengthSize; ++k) {
            len = (len << 8) | au[i + k];
        }
        i += lengthSize;
        if (len > au.size() - i) {
            return std::nullopt;
        }
        units.push_back(au.subspan(i, len));
        i += len;
    }
    return units;
}

std::optional<ParameterSets> parseAvcC(std::span<const uint8_t> e) {
    if (e.size() < 7 || e[0] != 1) {
        return std::nullopt;
    }
    ParameterSets ps;
    ps.lengthSize = (e[4] & 3) + 1;
    size_t i = 5;
    auto readUnits = [&](int count, std::vector<Bytes>& out) {
        for (int k = 0; k < count; ++k) {
            if (i + 2 > e.size()) {
                return false;
            }
            size_t len = (static_cast<size_t>(e[i]) << 8) | e[i + 1];
            i += 2;
            if (len > e.size() - i) {
                return false;
            }
            out.emplace_back(e.begin() + i, e.begin() + i + len);
            i += len;
        }
        return true;
    };
    if (!readUnits(e[i++] & 0x1F, ps.sps) || i >= e.size() || !readUnits(e[i++], ps.pps)) {
        return std::nullopt;
    }
    return ps;
}

ParameterSets parameterSetsOf(std::span<const uint8_t> annexB) {
    ParameterSets ps;
    for (auto nal : splitAnnexB(annexB)) {
        uint8_t type = nalType(nal);
        if (type == kNalSps && !containsUnit(ps.sps, nal)) {
            ps.sps.emplace_back(nal.begin(), nal.end());
        } else if (type == kNalPps && !containsUnit(ps.pps, nal)) {
            ps.pps.emplace_back(nal.begin(), nal.end());
        }
    }
    return ps;
}

Bytes buildAvcC(const ParameterSets& ps) {
    Bytes out;
    if (ps.empty() || ps.sps.front().size() < 4) {
        return out;
    }
    const Bytes& sps = ps.sps.front();
    out = {1,      sps[1], sps[2],
           sps[3], 0xFF,   static_cast<uint8_t>(0xE0 | std::min<size_t>(ps.sps.size(), 31))};
    for (size_t k = 0; k < std::min<size_t>(ps.sps.size(), 31); ++k) {
        out.push_back(static_cast<uint8_t>(ps.sps[k].size() >> 8));
        out.push_back(static_cast<uint8_t>(ps.sps[k].size()));
        out.insert(out.end(), ps.sps[k].begin(), ps.sps[k].end());
    }
    out.push_back(static_cast<uint8_t>(std::min<size_t>(ps.pps.size(), 255)));
    for (size_t k = 0; k < std::min<size_t>(ps.pps.size(), 255); ++k) {
        out.push_back(static_cast<uint8_t>(ps.pps[k].size() >> 8));
        out.push_back(static_cast<uint8_t>(ps.pps[k].size()));
        out.insert(out.end(), ps.pps[k].begin(), ps.pps[k].end());
    }
    return out;
}

std::optional<Bytes> toAnnexB(std::span<const uint8_t> au, int lengthSize,
                              const ParameterSets* prefix) {
    auto units = splitLengthPrefixed(au, lengthSize);
    if (!units) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(au.size() + 64);
    bool hasSps =
        std::any_of(units->begin(), units->end(), [](auto nal) { return nalType(nal) == kNalSps; });
    if (prefix != nullptr && !hasSps) {
        // Behind an access unit delimiter, if there is one, as the standard orders them.
        size_t k = 0;
        if (!units->empty() && nalType(units->front()) == kNalAud) {
            appendAnnexB(out, units->front());
            k = 1;
        }
        for (const Bytes& s : prefix->sps) {
            appendAnnexB(out, s);
        }
        for (const Bytes& p : prefix->pps) {
            appendAnnexB(out, p);
        }
        for (; k < units->size(); ++k) {
            appendAnnexB(out, (*units)[k]);
        }
        return out;
    }
    for (auto nal : *units) {
        appendAnnexB(out, nal);
    }
    return out;
}

Bytes toLengthPrefixed(std::span<const uint8_t> au, const ParameterSets& known) {
    Bytes out;
    out.reserve(au.size());
    for (auto nal : splitAnnexB(au)) {
        uint8_t type = nalType(nal);
        if ((type == kNalSps && containsUnit(known.sps, nal)) ||
            (type == kNalPps && containsUnit(known.pps, nal))) {
            continue;
        }
        uint32_t len = static_cast<uint32_t>(nal.size());
        out.push_back(static_cast<uint8_t>(len >> 24));
        out.push_back(static_cast<uint8_t>(len >> 16));
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.push_back(static_cast<uint8_t>(len));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

uint8_t recordFrameType(std::span<const uint8_t> annexB, bool containerKey) {
    for (auto nal : splitAnnexB(annexB)) {
        if (nalType(nal) == kNalIdr) {
            return 5;
        }
    }
    return containerKey ? 3 : 1;
}

}  // namespace ifvtool
