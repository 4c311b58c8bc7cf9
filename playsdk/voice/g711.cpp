// G.711 A-law and mu-law (ITU-T G.711, Tables 1a/1b and 2a/2b).
//
// Both laws split the magnitude into eight segments that double in width; within a segment
// four bits select one of sixteen equal steps. A-law inverts the even bits of the code (the
// 0x55 mask); mu-law inverts the whole code and adds a bias of 33 so that the segments start
// at powers of two.

#include "g711.h"

#include <cstddef>

namespace zelplay::voice {

namespace {

constexpr uint8_t kAlawEvenBitMask = 0x55;  // A-law transmits every even bit inverted
constexpr int kUlawBias = 33;               // mu-law bias, in 14-bit units
constexpr int kUlawClip = 8191;             // largest biased mu-law magnitude

// Number of significant bits of a non-negative value (0 for 0).
constexpr int bitLength(unsigned value) {
    int bits = 0;
    while (value != 0) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

// A-law: 13-bit signed value, 12-bit magnitude. Counted in steps of 2 (the magnitude below),
// segments 0 and 1 hold 16 steps each and segment s > 1 covers [2^(s+3), 2^(s+4)) in steps of
// 2^(s-1).
constexpr uint8_t alawFromSegments(int16_t sample) {
    const bool positive = sample >= 0;
    const unsigned magnitude = static_cast<unsigned>(positive ? sample : ~sample) >> 4;
    unsigned code;
    if (magnitude < 32) {
        code = magnitude;  // segments 0 and 1 share one step size
    } else {
        const int segment = bitLength(magnitude) - 4;  // 2..7
        code = static_cast<unsigned>(segment) << 4 | ((magnitude >> (segment - 1)) & 0x0F);
    }
    if (positive) {
        code |= 0x80;
    }
    return static_cast<uint8_t>(code ^ kAlawEvenBitMask);
}

// mu-law: 14-bit signed value, biased 13-bit magnitude in [33, 8191]; segment s covers
// [2^(s+5), 2^(s+6)) in steps of 2^(s+1).
constexpr uint8_t ulawFromSegments(int16_t sample) {
    const bool positive = sample >= 0;
    int biased = (static_cast<unsigned>(positive ? sample : ~sample) >> 2) + kUlawBias;
    if (biased > kUlawClip) {
        biased = kUlawClip;
    }
    const int segment = bitLength(static_cast<unsigned>(biased)) - 6;  // 0..7
    const unsigned step = (static_cast<unsigned>(biased) >> (segment + 1)) & 0x0F;
    unsigned code = static_cast<unsigned>(segment) << 4 | step;
    if (!positive) {
        code |= 0x80;  // the code is sent inverted: a clear sign bit means negative
    }
    return static_cast<uint8_t>(~code);
}

constexpr int16_t alawValue(uint8_t code) {
    const unsigned value = code ^ kAlawEvenBitMask;
    const int segment = (value >> 4) & 0x07;
    int magnitude = static_cast<int>(value & 0x0F) << 4 | 0x08;  // middle of the step
    if (segment > 0) {
        magnitude += 0x100;  // the implicit leading bit of segments 1..7
    }
    if (segment > 1) {
        magnitude <<= segment - 1;
    }
    return static_cast<int16_t>((value & 0x80) ? magnitude : -magnitude);
}

constexpr int16_t ulawValue(uint8_t code) {
    const unsigned value = static_cast<uint8_t>(~code);
    const int segment = (value >> 4) & 0x07;
    const int biased = ((static_cast<int>(value & 0x0F) << 3) + (kUlawBias << 2)) << segment;
    const int magnitude = biased - (kUlawBias << 2);
    return static_cast<int16_t>((value & 0x80) ? -magnitude : magnitude);
}

template <typename T, size_t N, typename F>
constexpr std::array<T, N> buildTable(F entry) {
    std::array<T, N> table{};
    for (size_t i = 0; i < N; ++i) {
        table[i] = entry(static_cast<int>(i));
    }
    return table;
}

}  // namespace

// Inputs differing only below the bits a law keeps share a code, so the encoding tables are
// indexed by the kept bits; entry i stands for the lowest 16-bit sample with those bits.
constinit const std::array<uint8_t, 8192> kAlawFromLinear13 = buildTable<uint8_t, 8192>(
    [](int i) { return alawFromSegments(static_cast<int16_t>((i - 4096) * 8)); });
constinit const std::array<uint8_t, 16384> kUlawFromLinear14 = buildTable<uint8_t, 16384>(
    [](int i) { return ulawFromSegments(static_cast<int16_t>((i - 8192) * 4)); });
constinit const std::array<int16_t, 256> kLinearFromAlaw =
    buildTable<int16_t, 256>([](int i) { return alawValue(static_cast<uint8_t>(i)); });
constinit const std::array<int16_t, 256> kLinearFromUlaw =
    buildTable<int16_t, 256>([](int i) { return ulawValue(static_cast<uint8_t>(i)); });

}  // namespace zelplay::voice
