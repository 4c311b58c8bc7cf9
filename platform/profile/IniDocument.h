// An INI file held as its lines, so that a change touches only the lines it must: comments,
// blank lines, unknown lines and line ends stay as they were. Names of sections and keys
// compare without regard to (ASCII) case and without the spaces around them; the first
// section of a name and the first key of a name in it are the ones that count.
//
// Not thread-safe; one document per caller.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::ini {

// Space, tab and the other blanks that surround names and values.
std::string_view trim(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

enum class LoadStatus {
    Loaded,   // the file was read
    Missing,  // no such file: an empty document
    Failed,   // it exists but cannot be read (permissions, a folder, too large)
};

class IniDocument {
  public:
    // An empty document whose new lines end with `newLineEnd`.
    explicit IniDocument(std::string newLineEnd = "\r\n");

    // Parses any bytes; lines that are neither sections, keys nor comments are kept as they
    // are and otherwise ignored. New lines take the line end of the text's first line.
    static IniDocument parse(std::string_view text, std::string newLineEnd = "\r\n");
    // Reads a file. A missing file gives an empty document with `newLineEnd` line ends.
    static LoadStatus load(const std::string& path, IniDocument& document,
                           std::string newLineEnd = "\r\n");

    // The value of the key, blanks around it removed (quotes are kept); nullopt when the
    // section or the key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    bool hasSection(std::string_view section) const;
    // The keys of the section in file order, as (name, value) with blanks removed.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;

    // Changes an existing key in place, or adds the key at the end of its section, or adds
    // the section at the end of the document. Names and value must be valid (see below).
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the first key of that name in the section; false when there was none.
    bool removeKey(std::string_view section, std::string_view key);
    // Removes the section with its keys and the lines up to the next section.
    bool removeSection(std::string_view section);
    // Adds a comment line (";" is prepended) at the end of the document.
    void appendComment(std::string_view text);

    // The document as bytes, unchanged lines exactly as they were read.
    std::string text() const;

    // True when `name` can be written as a section name or key name without changing the
    // file's structure, and `value` as a value: no line breaks, no "]" in a section name,
    // no "=" in a key name, neither empty nor starting with ";" or "[".
    static bool validSectionName(std::string_view name);
    static bool validKeyName(std::string_view name);
    static bool validValue(std::string_view value);

  private:
    enum class Kind { Blank, Comment, Section, Key, Other };
    struct Line {
        std::string content;  // without its line end
        std::string lineEnd;  // "\r\n", "\n" or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name;   // section or key name, trimmed
        std::string value;  // key value, trimmed
    };
    static Line classify(std::string content, std::string lineEnd);
    // Index of the first section header of that name, or npos.
    std::size_t findSection(std::string_view section) const;
    // One past the last line that belongs to the section whose header is at `header`.
    std::size_t sectionEnd(std::size_t header) const;
    std::size_t findKey(std::size_t header, std::string_view key) const;
    void insertLine(std::size_t at, std::string content);

    std::vector<Line> lines_;
    std::string newLineEnd_;
    bool byteOrderMark_ = false;  // the text began with a UTF-8 byte order mark
};

// Replaces the file's contents: through a temporary file renamed over it when the folder
// allows, else in place; keeps the permission bits of an existing file and writes through a
// symbolic link to its target. False (with the old contents kept) when it cannot be written.
bool writeFileReplacing(const std::string& path, const std::string& contents);

}  // namespace platform::ini
