// Private profile files: the plain "key=value" INI files of the Windows profile functions,
// with their semantics, so that settings files written here and there stay interchangeable.
//
// Format: "[section]" lines, "key=value" lines, ";" comment lines. Section and key names
// compare without regard to case; spaces around names and values are ignored. A value in
// matching double or single quotes is returned without them. New files are written with
// CR LF line ends; an existing file keeps the line ends it has. Reads of a missing file or
// key give the default. Not thread-safe for concurrent writers of one file.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The integer at the start of the key's value (decimal, or hexadecimal after "0x"; a leading
// "-" is honoured); 0 when the value does not start with a digit; `defaultValue` when the key
// or file is missing or the value is empty. Values beyond the range of int give its nearest end.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& path);

// Copies the key's value (or `defaultValue` when the key or file is missing) into `buffer`,
// cut to size - 1 bytes and always zero-terminated when size > 0. Returns the bytes copied,
// not counting the terminator.
std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, char* buffer, std::size_t size,
                                    const std::string& path);

// The same as a std::string, cut to maxBytes.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    std::size_t maxBytes = 1023);

// Writes key=value into the section: an existing key is changed in place, a new key goes at
// the end of its section, a new section at the end of the file; everything else is kept as
// it was. Returns false when the file cannot be written, when it exists but cannot be read (it
// is then left alone), and when a name or the value holds a line break (or a section name a
// "]", a key name a "=") that would change the file's structure.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace platform
