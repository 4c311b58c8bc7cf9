// Sequence parameter set syntax, ITU-T H.264 clause 7.3.2.1.1, read as far as
// pic_height_in_map_units_minus1.

#include "sps_reader.h"

#include <vector>

namespace zelplay {

namespace {

constexpr size_t kStartCodeGiveUpDistance = 64;
constexpr int kMaxRefFrames = 30;
constexpr uint32_t kMaxMbs = 1024;  // 16 384 pixels; larger values are corrupt
constexpr uint32_t kMapUnits1080 = 67;
constexpr uint8_t kNalSps = 7;

bool hasChromaFields(uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

// scaling_list(), clause 7.3.2.1.1.1: only the bits matter here. delta_scale lies in
// -128..127; anything else is a malformed set.
bool skipScalingList(BitReader& r, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !r.overrun(); ++j) {
        if (next != 0) {
            const int32_t delta = r.se();
            if (delta < -128 || delta > 127)
                return false;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return !r.overrun();
}

// Emulation prevention bytes (00 00 03) removed, clause 7.4.1.
std::vector<uint8_t> toRbsp(const uint8_t* nal, size_t length) {
    std::vector<uint8_t> rbsp;
    rbsp.reserve(length);
    int zeros = 0;
    for (size_t i = 0; i < length; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    return rbsp;
}

}  // namespace

uint32_t BitReader::bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t bit = 0;
        if (pos_ < bits_) {
            bit = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1;
            ++pos_;
        } else {
            overrun_ = true;
        }
        v = (v << 1) | bit;
    }
    return v;
}

uint32_t BitReader::ue() {
    int zeros = 0;
    while (!overrun_ && bits(1) == 0) {
        if (++zeros > 31) {
            overrun_ = true;
            return 0;
        }
    }
    if (overrun_)
        return 0;
    if (zeros == 0)
        return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
}

int32_t BitReader::se() {
    const uint32_t k = ue();
    const int64_t magnitude = (int64_t{k} + 1) / 2;
    return static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
}

std::optional<PictureSize> parseSpsPictureSize(const uint8_t* nal, size_t length) {
    if (nal == nullptr)
        return std::nullopt;
    const std::vector<uint8_t> rbsp = toRbsp(nal, length);
    BitReader r(rbsp.data(), rbsp.size());
    const uint32_t profile = r.bits(8);
    r.bits(8);  // constraint_set flags, reserved_zero_2bits
    r.bits(8);  // level_idc
    if (r.ue() > 31)
        return std::nullopt;  // seq_parameter_set_id
    if (hasChromaFields(profile)) {
        const uint32_t chromaFormat = r.ue();
        if (chromaFormat > 3)
            return std::nullopt;
        if (chromaFormat == 3)
            r.flag();  // separate_colour_plane_flag
        if (r.ue() > 6 || r.ue() > 6)
            return std::nullopt;  // bit depths - 8
        r.flag();                 // qpprime_y_zero_transform_bypass_flag
        if (r.flag()) {           // seq_scaling_matrix_present_flag
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists && !r.overrun(); ++i) {
                if (r.flag() && !skipScalingList(r, i < 6 ? 16 : 64))
                    return std::nullopt;
            }
        }
    }
    if (r.ue() > 12)
        return std::nullopt;  // log2_max_frame_num_minus4
    const uint32_t pocType = r.ue();
    if (pocType == 0) {
        if (r.ue() > 12)
            return std::nullopt;  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        r.flag();  // delta_pic_order_always_zero_flag
        r.se();    // offset_for_non_ref_pic
        r.se();    // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue();
        if (cycle > 255)
            return std::nullopt;
        for (uint32_t i = 0; i < cycle && !r.overrun(); ++i)
            r.se();
    } else if (pocType != 2) {
        return std::nullopt;
    }
    if (r.ue() > static_cast<uint32_t>(kMaxRefFrames))
        return std::nullopt;  // max_num_ref_frames
    r.flag();                 // gaps_in_frame_num_value_allowed_flag
    const uint32_t widthMbs = r.ue() + 1;
    const uint32_t heightMapUnits = r.ue() + 1;
    if (r.overrun() || widthMbs > kMaxMbs || heightMapUnits > kMaxMbs)
        return std::nullopt;
    PictureSize size;
    size.width = static_cast<int>(widthMbs * 16);
    size.height = heightMapUnits == kMapUnits1080 ? 1080 : static_cast<int>(heightMapUnits * 16);
    return size;
}

std::optional<size_t> findStartCode(const uint8_t* data, size_t length, size_t from) {
    for (size_t p = from; p + 3 <= length; ++p) {
        if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1)
            return p;
        if (data[p] >= 2 && p - from > kStartCodeGiveUpDistance)
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<PictureSize> readAccessUnitPictureSize(const uint8_t* au, size_t length) {
    if (au == nullptr || length < 5)
        return std::nullopt;
    const auto first = findStartCode(au, length, 0);
    if (!first)
        return std::nullopt;
    const auto second = findStartCode(au, length, *first + 3);
    if (!second)
        return std::nullopt;
    // The first must be the four-byte form at the very start, followed by an SPS.
    if (*first != 1 || au[0] != 0 || (au[4] & 0x1F) != kNalSps)
        return std::nullopt;
    return parseSpsPictureSize(au + 5, *second - 5);
}

}  // namespace zelplay
