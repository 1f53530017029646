#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

namespace ecr {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// One line of the file, with the bytes that ended it ("" for a last line without end).
struct Line {
    std::string text;
    std::string ending;
};

std::vector<Line> SplitLines(const std::string& content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({content.substr(start), ""});
            break;
        }
        std::size_t after = end + 1;
        if (content[end] == '\r' && after < content.size() && content[after] == '\n') ++after;
        lines.push_back({content.substr(start, end - start), content.substr(end, after - end)});
        start = after;
    }
    return lines;
}

// An editor may begin the file with it; taken for part of the first line, it would hide the
// first section from every read and make a write add that section again.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The file's text without the byte order mark it may begin with.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    std::string content = buffer.str();
    if (content.starts_with(kUtf8ByteOrderMark)) content.erase(0, kUtf8ByteOrderMark.size());
    return content;
}

// The section name of a "[Name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    std::string_view text = Trim(line);
    if (text.size() < 2 || text.front() != '[') return std::nullopt;
    std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    std::string_view text = Trim(line);
    return !text.empty() && (text.front() == ';' || text.front() == '#');
}

// For a "Key=Value" line: the key, else nullopt.
std::optional<std::string_view> KeyName(std::string_view line) {
    if (IsComment(line) || SectionName(line)) return std::nullopt;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(0, equals));
}

std::string ValueOf(std::string_view line) {
    std::string_view value = Trim(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Where a section lies: its header line and one past its last line.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t end = 0;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].text);
        if (!name || !EqualNoCase(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].text)) ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, SectionSpan span,
                                   std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        auto name = KeyName(lines[i].text);
        if (name && EqualNoCase(*name, key)) return i;
    }
    return std::nullopt;
}

bool WriteFileReplacing(const std::string& path, const std::string& content) {
    struct stat existing {};
    mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            errno = saved;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private; keep the mode the file had (or an ordinary one).
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A line break would end the written line early and let the rest land in the file as lines
// of their own (other keys, even other sections); a key or section name that reads back as
// something else would be written where no read finds it.
bool WritesBackAsItself(std::string_view section, std::string_view key, std::string_view value) {
    if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) return false;
    const std::string header = "[" + std::string(section) + "]";
    const std::optional<std::string_view> readSection = SectionName(header);
    if (section.empty() || !readSection || *readSection != section) return false;
    const std::string entry = std::string(key) + "=";
    const std::optional<std::string_view> readKey = KeyName(entry);
    return !key.empty() && readKey && *readKey == key;
}

// Puts `value` into `lines`: its key's line replaced, or a line appended at the end of its
// section (a missing section appended at the end of the file); new lines end with `ending`.
void SetValue(std::vector<Line>& lines, const IniValue& value, const std::string& ending) {
    std::string entry = value.key + "=" + value.value;
    auto span = FindSection(lines, value.section);
    if (!span) {
        if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = ending;
        lines.push_back({"[" + value.section + "]", ending});
        lines.push_back({entry, ending});
    } else if (auto index = FindKey(lines, *span, value.key)) {
        lines[*index].text = entry;
        if (lines[*index].ending.empty()) lines[*index].ending = ending;
    } else {
        // After the section's last non-blank line, so blank separators stay between sections.
        std::size_t insertAt = span->end;
        while (insertAt > span->header + 1 && Trim(lines[insertAt - 1].text).empty()) --insertAt;
        if (lines[insertAt - 1].ending.empty()) lines[insertAt - 1].ending = ending;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{entry, ending});
    }
}

}  // namespace

std::optional<std::int64_t> ParseIniInteger(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > kMax + 1) return std::nullopt;
        return magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                     : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > kMax) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::optional<std::string> IniFile::findString(std::string_view section,
                                               std::string_view key) const {
    auto content = ReadWholeFile(path_);
    if (!content) return std::nullopt;
    auto lines = SplitLines(*content);
    auto span = FindSection(lines, section);
    if (!span) return std::nullopt;
    auto index = FindKey(lines, *span, key);
    if (!index) return std::nullopt;
    return ValueOf(lines[*index].text);
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    auto value = findString(section, key);
    return value ? *value : std::string(defaultValue);
}

std::optional<std::int64_t> IniFile::findInteger(std::string_view section,
                                                 std::string_view key) const {
    auto value = findString(section, key);
    if (!value) return std::nullopt;
    return ParseIniInteger(*value);
}

std::int64_t IniFile::readInteger(std::string_view section, std::string_view key,
                                  std::int64_t defaultValue) const {
    return findInteger(section, key).value_or(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
    auto value = findInteger(section, key);
    return value ? *value != 0 : defaultValue;
}

bool IniFile::sectionExists(std::string_view section) const {
    auto content = ReadWholeFile(path_);
    if (!content) return false;
    return FindSection(SplitLines(*content), section).has_value();
}

bool IniFile::writeString(std::string_view section, std::string_view key,
                          std::string_view value) {
    return writeValues({IniValue{std::string(section), std::string(key), std::string(value)}});
}

bool IniFile::writeValues(const std::vector<IniValue>& values) {
    for (const IniValue& entry : values) {
        if (!WritesBackAsItself(entry.section, entry.key, entry.value)) {
            errno = EINVAL;
            return false;
        }
    }
    std::vector<Line> lines;
    if (auto content = ReadWholeFile(path_)) lines = SplitLines(*content);

    std::string ending = "\n";
    for (const Line& line : lines) {
        if (!line.ending.empty()) {
            ending = line.ending == "\r\n" ? "\r\n" : "\n";
            break;
        }
    }
    for (const IniValue& value : values) SetValue(lines, value, ending);

    std::string content;
    for (const Line& line : lines) content += line.text + line.ending;
    return WriteFileReplacing(path_, content);
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, std::int64_t value) {
    return writeString(section, key, std::to_string(value));
}

bool IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

}  // namespace ecr
