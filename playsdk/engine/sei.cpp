// SEI user data: a start code with an SEI unit header (00 00 00 01 06) near the front of
// the payload, a payload type byte, an H.264-style size (bytes of 255 add up, Annex D.1),
// then the user data: either a list ('x', item count, two filler bytes, items of type,
// length and data) or a zero-terminated text.

#include "sei.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelplay {

namespace {

constexpr uint8_t kSeiStart[5] = {0x00, 0x00, 0x00, 0x01, 0x06};
constexpr int kMaxSizeBytes = 4;
constexpr size_t kListItemsOffset = 4;

// Built once per process, before anything can search with it.
struct SeiPrefixTable {
    int entries[sizeof kSeiStart];
    SeiPrefixTable() { buildPrefixTable(kSeiStart, sizeof kSeiStart, entries); }
};
const SeiPrefixTable kSeiPrefixTable;

ZELPLAY_SEI_RECORD makeRecord(uint8_t type, const uint8_t* data, size_t length) {
    ZELPLAY_SEI_RECORD r;
    std::memset(&r, 0, sizeof r);
    r.type = type;
    r.length = static_cast<uint8_t>(length);
    if (length > 0)
        std::memcpy(r.data, data, length);
    return r;
}

}  // namespace

void buildPrefixTable(const uint8_t* pattern, size_t n, int* table) {
    if (n == 0)
        return;
    table[0] = 0;
    int k = 0;
    for (size_t i = 1; i < n; ++i) {
        while (k > 0 && pattern[i] != pattern[k])
            k = table[k - 1];
        if (pattern[i] == pattern[k])
            ++k;
        table[i] = k;
    }
}

long findPattern(const uint8_t* text, size_t textLength, const uint8_t* pattern, size_t n,
                 const int* table) {
    if (n == 0 || textLength < n)
        return -1;
    size_t k = 0;
    for (size_t i = 0; i < textLength; ++i) {
        while (k > 0 && text[i] != pattern[k])
            k = static_cast<size_t>(table[k - 1]);
        if (text[i] == pattern[k])
            ++k;
        if (k == n)
            return static_cast<long>(i + 1 - n);
    }
    return -1;
}

std::vector<ZELPLAY_SEI_RECORD> extractSei(const uint8_t* payload, size_t length) {
    std::vector<ZELPLAY_SEI_RECORD> records;
    if (payload == nullptr || length <= 11)
        return records;
    const size_t searched = std::min(length - 3, kSeiSearchBytes);
    const long found =
        findPattern(payload, searched, kSeiStart, sizeof kSeiStart, kSeiPrefixTable.entries);
    if (found < 0)
        return records;
    size_t pos = static_cast<size_t>(found) + sizeof kSeiStart;  // the payload type byte
    const uint8_t type = payload[pos++];
    if (type != kSeiTypeUserData)
        return records;  // 0xE5 and the rest carry nothing for us

    size_t size = 0;
    for (int n = 0;; ++n) {
        if (pos >= length)
            return records;
        const uint8_t b = payload[pos++];
        if (b != 0xFF) {
            size += b;
            break;
        }
        if (n == kMaxSizeBytes - 1) {
            std::fputs("data len is too large!\n", stdout);
            return records;
        }
        size += 0xFF;
    }
    size = std::min({size, kSeiMaxPayloadBytes, length - pos});
    const uint8_t* data = payload + pos;
    if (size == 0)
        return records;

    if (data[0] == kSeiListMarker) {
        if (size < 2)
            return records;
        const unsigned count = data[1];
        size_t at = kListItemsOffset;
        for (unsigned i = 0; i < count; ++i) {
            if (at + 2 > size)
                break;
            const uint8_t itemType = data[at];
            const uint8_t itemLength = data[at + 1];
            if (at + 2 + itemLength > size)
                break;
            records.push_back(makeRecord(itemType, data + at + 2, itemLength));
            at += 2 + itemLength;
        }
        return records;
    }
    const size_t limit = std::min<size_t>(size, 255);
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, limit));
    const size_t textLength = end ? static_cast<size_t>(end - data) : limit;
    records.push_back(makeRecord(kSeiTextType, data, textLength));
    return records;
}

}  // namespace zelplay
