#include "IniDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>

namespace platform::ini {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Joins the pieces into one string. GCC 12 at -O3 reports false -Wrestrict and
// -Wmaybe-uninitialized warnings for chains of std::string operator+ with literals.
std::string join(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts)
        size += part.size();
    std::string out;
    out.reserve(size);
    for (const std::string_view part : parts)
        out.append(part);
    return out;
}
// Settings and registry files are small; anything larger is not one of them.
constexpr long long kMaxFileBytes = 64LL * 1024 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// An open file descriptor, closed with the object unless closed explicitly first.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the data reached the file system.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool writeAll(int fd, const std::string& contents) {
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

IniDocument::IniDocument(std::string newLineEnd) : newLineEnd_(std::move(newLineEnd)) {}

IniDocument::Line IniDocument::classify(std::string content, std::string lineEnd) {
    Line line;
    line.content = std::move(content);
    line.lineEnd = std::move(lineEnd);
    const std::string_view text = trim(line.content);
    if (text.empty()) {
        line.kind = Kind::Blank;
    } else if (text.front() == ';') {
        line.kind = Kind::Comment;
    } else if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = std::string(trim(text.substr(1, close - 1)));
        }
    } else if (const std::size_t eq = text.find('='); eq != std::string_view::npos) {
        const std::string_view name = trim(text.substr(0, eq));
        if (!name.empty()) {
            line.kind = Kind::Key;
            line.name = std::string(name);
            line.value = std::string(trim(text.substr(eq + 1)));
        }
    }
    return line;
}

IniDocument IniDocument::parse(std::string_view text, std::string newLineEnd) {
    IniDocument document(std::move(newLineEnd));
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        document.byteOrderMark_ = true;
        text.remove_prefix(kByteOrderMark.size());
    }
    bool firstLineEnd = true;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view content = text.substr(0, newline);
        std::string_view lineEnd;
        if (newline != std::string_view::npos) {
            lineEnd = "\n";
            if (!content.empty() && content.back() == '\r') {
                content.remove_suffix(1);
                lineEnd = "\r\n";
            }
            if (firstLineEnd) {
                document.newLineEnd_ = std::string(lineEnd);
                firstLineEnd = false;
            }
            text.remove_prefix(newline + 1);
        } else {
            text = {};
        }
        document.lines_.push_back(classify(std::string(content), std::string(lineEnd)));
    }
    return document;
}

LoadStatus IniDocument::load(const std::string& path, IniDocument& document,
                             std::string newLineEnd) {
    document = IniDocument(newLineEnd);
    // Non-blocking, so that a named pipe at the path is refused instead of waited on.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid())
        return (errno == ENOENT || errno == ENOTDIR) ? LoadStatus::Missing : LoadStatus::Failed;
    const int fd = file.get();
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes)
        return LoadStatus::Failed;
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LoadStatus::Failed;
        }
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (static_cast<long long>(bytes.size()) > kMaxFileBytes)
            return LoadStatus::Failed;
    }
    document = parse(bytes, std::move(newLineEnd));
    return LoadStatus::Loaded;
}

std::size_t IniDocument::findSection(std::string_view section) const {
    const std::string_view name = trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && equalsNoCase(lines_[i].name, name))
            return i;
    }
    return std::string::npos;
}

std::size_t IniDocument::sectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Kind::Section)
        ++i;
    return i;
}

std::size_t IniDocument::findKey(std::size_t header, std::string_view key) const {
    const std::string_view name = trim(key);
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Key && equalsNoCase(lines_[i].name, name))
            return i;
    }
    return std::string::npos;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    const std::size_t header = findSection(section);
    if (header == std::string::npos)
        return std::nullopt;
    const std::size_t at = findKey(header, key);
    if (at == std::string::npos)
        return std::nullopt;
    return lines_[at].value;
}

bool IniDocument::hasSection(std::string_view section) const {
    return findSection(section) != std::string::npos;
}

std::vector<std::pair<std::string, std::string>> IniDocument::entries(
    std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> result;
    const std::size_t header = findSection(section);
    if (header == std::string::npos)
        return result;
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Key)
            result.emplace_back(lines_[i].name, lines_[i].value);
    }
    return result;
}

void IniDocument::insertLine(std::size_t at, std::string content) {
    // A last line without a line end gets one before anything follows it.
    if (at > 0 && at == lines_.size() && lines_.back().lineEnd.empty())
        lines_.back().lineEnd = newLineEnd_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  classify(std::move(content), newLineEnd_));
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    const std::size_t header = findSection(sectionName);
    if (header == std::string::npos) {
        if (!lines_.empty() && lines_.back().kind != Kind::Blank)
            insertLine(lines_.size(), "");
        insertLine(lines_.size(), join({"[", sectionName, "]"}));
        insertLine(lines_.size(), join({keyName, "=", value}));
        return;
    }
    if (const std::size_t at = findKey(header, keyName); at != std::string::npos) {
        Line& line = lines_[at];
        if (line.value != value)  // an unchanged value keeps its line's spacing
            line = classify(join({line.name, "=", value}), line.lineEnd);
        return;
    }
    // After the section's last line with content, so that blank lines and comments that
    // lead into the next section stay in front of it.
    std::size_t insertAt = header + 1;
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Key || lines_[i].kind == Kind::Other)
            insertAt = i + 1;
    }
    insertLine(insertAt, join({keyName, "=", value}));
}

bool IniDocument::removeKey(std::string_view section, std::string_view key) {
    const std::size_t header = findSection(section);
    if (header == std::string::npos)
        return false;
    const std::size_t at = findKey(header, key);
    if (at == std::string::npos)
        return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool IniDocument::removeSection(std::string_view section) {
    const std::size_t header = findSection(section);
    if (header == std::string::npos)
        return false;
    const std::size_t end = sectionEnd(header);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    if (header == lines_.size()) {
        // It was the last section: no blank lines left dangling at the end.
        while (!lines_.empty() && lines_.back().kind == Kind::Blank)
            lines_.pop_back();
    }
    return true;
}

void IniDocument::appendComment(std::string_view text) {
    insertLine(lines_.size(), join({"; ", text}));
}

std::string IniDocument::text() const {
    std::string out;
    if (byteOrderMark_)
        out += kByteOrderMark;
    for (const Line& line : lines_) {
        out += line.content;
        out += line.lineEnd;
    }
    return out;
}

bool IniDocument::validSectionName(std::string_view name) {
    const std::string_view text = trim(name);
    return !text.empty() && text.find_first_of("\r\n]") == std::string_view::npos;
}

bool IniDocument::validKeyName(std::string_view name) {
    const std::string_view text = trim(name);
    return !text.empty() && text.front() != ';' && text.front() != '[' &&
           text.find_first_of("\r\n=") == std::string_view::npos;
}

bool IniDocument::validValue(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

bool writeFileReplacing(const std::string& path, const std::string& contents) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec)
            return false;
        target = resolved;
    }
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0) {
        if (errno != ENOENT)
            return false;
        // A new file: created exclusively, with the process's usual permissions.
        UniqueFd file(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.valid())
            return false;
        const bool written = writeAll(file.get(), contents);
        if (file.close() && written)
            return true;
        ::unlink(target.c_str());
        return false;
    }
    // A file its owner made read-only stays as it is, even though its folder would let us
    // replace it.
    if (!S_ISREG(existing.st_mode) || ::access(target.c_str(), W_OK) != 0)
        return false;

    // A temporary file beside the target, renamed over it: a failed write leaves the old
    // contents whole.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / join({".", target.filename().native(), ".XXXXXX"})).string();
    UniqueFd temp(::mkstemp(pattern.data()));
    if (temp.valid()) {
        bool ok =
            ::fchmod(temp.get(), existing.st_mode & 07777) == 0 && writeAll(temp.get(), contents);
        if (ok) {
            // Best effort: a file owned by someone else keeps its owner when we may.
            [[maybe_unused]] const int ignored =
                ::fchown(temp.get(), existing.st_uid, existing.st_gid);
        }
        ok = temp.close() && ok;
        if (ok && ::rename(pattern.c_str(), target.c_str()) == 0)
            return true;
        ::unlink(pattern.c_str());
        return false;
    }
    // The folder is not writable but the file may be: write it in place.
    UniqueFd file(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!file.valid())
        return false;
    const bool written = writeAll(file.get(), contents);
    return file.close() && written;
}

}  // namespace platform::ini
