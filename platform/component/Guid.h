// Globally unique identifiers in their registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace component {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    // Parses the braced form; hex digits in either case; nothing else around it.
    static std::optional<Guid> parse(std::string_view text);
    // The braced form in upper case.
    std::string toString() const;

    friend bool operator==(const Guid&, const Guid&) = default;
};

}  // namespace component
