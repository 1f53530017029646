#pragma once

// A small private-profile (INI) file reader and writer.
//
// Rules kept from the profile calls that the programs were written against:
// - sections ("[Name]") and keys ("Key=Value") are matched without regard to ASCII case;
//   the first matching section and, inside it, the first matching key count;
// - a value is the text after the first "=", with surrounding blanks removed and one pair
//   of enclosing double quotes dropped;
// - lines starting with ";" or "#" are comments; lines of other shapes are kept but ignored;
// - a UTF-8 byte order mark at the start of the file is skipped by reads and dropped by
//   writes;
// - a missing file, section or key gives the caller's default;
// - integers are decimal (optional sign) or hexadecimal after "0x" or "$"; text that is no
//   number (or does not fit 64 bits) counts as absent;
// - a written key is updated in place (its line replaced, everything else of the file kept
//   byte for byte) or appended at the end of its section; a missing section is appended at
//   the end of the file, and a missing file is created. Lines written follow the file's own
//   line ending (CR LF when the file already uses it, else LF).
//
// Every call opens, reads (and for writes, replaces) the file itself: nothing is cached, so
// an edit made by hand or by another object takes effect at the next read. A write goes to
// a temporary file beside the target that is renamed over it, so a failed write leaves the
// old file intact.
//
// Threads: an IniFile holds only its path; any thread may call it. Two writers of the same
// file at the same time (in this or another process) are not serialised: the last rename
// wins.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

// One key to write with IniFile::writeValues.
struct IniValue {
    std::string section;
    std::string key;
    std::string value;
};

class IniFile {
public:
    explicit IniFile(std::string path);

    const std::string& path() const { return path_; }

    // The value of [section] key, or nullopt when the file, section or key is missing.
    std::optional<std::string> findString(std::string_view section, std::string_view key) const;

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;

    // The value read as an integer; nullopt when missing or not a number.
    std::optional<std::int64_t> findInteger(std::string_view section, std::string_view key) const;

    std::int64_t readInteger(std::string_view section, std::string_view key,
                             std::int64_t defaultValue) const;

    // An integer other than 0 is true; a value that is no number gives the default.
    bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;

    bool sectionExists(std::string_view section) const;

    // Each write returns false when the file could not be written (errno tells why); the
    // file is then left as it was. A section, key or value holding a line break, and a
    // section or key name that would not read back as itself (empty, a "]" in the section,
    // a "=" in the key, a key that reads as a comment or section), are refused with EINVAL.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInteger(std::string_view section, std::string_view key, std::int64_t value);
    bool writeBool(std::string_view section, std::string_view key, bool value);  // 1 or 0
    // Writes every key, in their order, with one replacement of the file, so that a reader,
    // a kill or a full disk finds the old file or the new one whole, never some of the keys
    // written and others not. Any entry refused as above refuses them all (EINVAL).
    bool writeValues(const std::vector<IniValue>& values);

private:
    std::string path_;
};

// The integer rules of the reader, for callers that hold the text already.
std::optional<std::int64_t> ParseIniInteger(std::string_view text);

}  // namespace ecr
