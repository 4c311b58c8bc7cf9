#include "PrivateProfile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "IniDocument.h"

namespace platform {

namespace {

// The key's value as a reader sees it: blanks around it removed, then one pair of matching
// quotes around the whole value removed.
std::optional<std::string> readValue(const std::string& section, const std::string& key,
                                     const std::string& path) {
    ini::IniDocument document;
    if (ini::IniDocument::load(path, document) != ini::LoadStatus::Loaded)
        return std::nullopt;
    std::optional<std::string> value = document.value(section, key);
    if (value && value->size() >= 2) {
        const char first = value->front();
        if ((first == '"' || first == '\'') && value->back() == first)
            *value = value->substr(1, value->size() - 2);
    }
    return value;
}

// A default value loses its trailing blanks, as the profile functions have always done.
std::string trimmedDefault(const std::string& defaultValue) {
    std::string text = defaultValue;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// Leading sign, then decimal digits or "0x" and hexadecimal digits, up to the first other
// character. Values beyond the range of int give its nearest end.
int parseProfileInt(std::string_view text) {
    text = ini::trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        magnitude = magnitude * base + digit;
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace

int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& path) {
    const std::optional<std::string> value = readValue(section, key, path);
    // An empty value counts as a missing one.
    if (!value || value->empty())
        return defaultValue;
    return parseProfileInt(*value);
}

std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, char* buffer, std::size_t size,
                                    const std::string& path) {
    if (!buffer || size == 0)
        return 0;
    const std::optional<std::string> value = readValue(section, key, path);
    const std::string text = value ? *value : trimmedDefault(defaultValue);
    const std::size_t copied = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return copied;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    std::size_t maxBytes) {
    const std::optional<std::string> value = readValue(section, key, path);
    std::string text = value ? *value : trimmedDefault(defaultValue);
    if (text.size() > maxBytes)
        text.resize(maxBytes);
    return text;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    // A line break in a name or value would change the file's structure (and could inject
    // keys), so such writes are refused.
    if (!ini::IniDocument::validSectionName(section) || !ini::IniDocument::validKeyName(key) ||
        !ini::IniDocument::validValue(value))
        return false;
    ini::IniDocument document;
    if (ini::IniDocument::load(path, document) == ini::LoadStatus::Failed)
        return false;  // never replace a file that exists but could not be read
    const std::string before = document.text();
    document.set(section, key, value);
    const std::string after = document.text();
    if (after == before)
        return true;
    return ini::writeFileReplacing(path, after);
}

}  // namespace platform
