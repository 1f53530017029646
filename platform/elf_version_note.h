#pragma once
// The version stamp of an executable. The build adds to each program an ELF note (owner
// "ECR", type 1) whose descriptor holds the four version numbers major, minor, release and
// build as 16-bit values in the file's byte order (cmake/VersionNote.cmake). This reader
// finds that note in the ELF file at a given path.
//
// Thread safety: safe from any thread.

#include <cstdint>
#include <optional>
#include <string>

namespace ecr {

inline constexpr char kVersionNoteOwner[] = "ECR";
inline constexpr std::uint32_t kVersionNoteType = 1;

struct VersionNumbers {
  std::uint16_t Major = 0;
  std::uint16_t Minor = 0;
  std::uint16_t Release = 0;
  std::uint16_t Build = 0;
  friend bool operator==(const VersionNumbers&, const VersionNumbers&) = default;
};

// The numbers of the version note of the file at `path`; nothing when the file cannot be
// read, is no well-formed ELF file, or carries no such note. Damaged files are read
// within their bounds only.
std::optional<VersionNumbers> ReadElfVersionNote(const std::string& path);

}  // namespace ecr
