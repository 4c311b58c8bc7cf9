#include "Guid.h"

#include <cstdio>

namespace component {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[at]; false when any is not one.
bool readHex(std::string_view text, std::size_t at, int digits, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = hexValue(text[at + static_cast<std::size_t>(i)]);
        if (v < 0)
            return false;
        value = (value << 4) | static_cast<std::uint64_t>(v);
    }
    return true;
}

}  // namespace

std::optional<Guid> Guid::parse(std::string_view text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
        return std::nullopt;
    Guid guid;
    std::uint64_t value = 0;
    if (!readHex(text, 1, 8, value))
        return std::nullopt;
    guid.data1 = static_cast<std::uint32_t>(value);
    if (!readHex(text, 10, 4, value))
        return std::nullopt;
    guid.data2 = static_cast<std::uint16_t>(value);
    if (!readHex(text, 15, 4, value))
        return std::nullopt;
    guid.data3 = static_cast<std::uint16_t>(value);
    static constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!readHex(text, kByteAt[i], 2, value))
            return std::nullopt;
        guid.data4[i] = static_cast<std::uint8_t>(value);
    }
    return guid;
}

std::string Guid::toString() const {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(data1), static_cast<unsigned>(data2),
                  static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3], data4[4],
                  data4[5], data4[6], data4[7]);
    return text;
}

}  // namespace component
