#pragma once

// The network-controller server's reading of a program file's version: as the shared
// reader, except that minor and build keep only the low 12 bits of their 16-bit numbers.
//
// Safe from any thread.

#include <cstdint>
#include <string>

namespace ecr::nc {

struct TrsFileVersion {
    std::string VersionString;  // major.minor.release after a successful read, else empty
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;

    // True and the fields set when the file carries version numbers; false and the fields
    // cleared otherwise.
    bool Read(const std::string& FileName);
};

// "v" + major.minor.release.build of the file, "v0.0.0.0" when it has no version.
std::string FileVersionText(const std::string& FileName);

// FileVersionText without its last "." and what follows (v3.5.1.2 gives v3.5.1): the
// version the window title shows.
std::string TitleVersionText(const std::string& FileName);

}  // namespace ecr::nc
