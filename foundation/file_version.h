#pragma once
// The version of an executable as the system shows and sends it: "v" + major "." minor
// "." release "." build, in decimal without padding; "v0.0.0.0" when the file carries no
// version (see platform/elf_version_note.h for where the numbers are kept).
//
// Thread safety: callable from any thread; a TrsFileVersion object belongs to one thread.

#include <cstdint>
#include <string>

namespace ecr {

inline constexpr std::uint16_t LowWordOf(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFu); }
inline constexpr std::uint16_t HighWordOf(std::uint32_t value) { return static_cast<std::uint16_t>(value >> 16); }

class TrsFileVersion {
 public:
  // True and the fields set when the file carries a version; false and the fields
  // cleared otherwise.
  bool Read(const std::string& fileName);

  const std::string& VersionString() const { return version_string_; }  // "major.minor.release"
  std::uint16_t Major() const { return major_; }
  std::uint16_t Minor() const { return minor_; }
  std::uint16_t Release() const { return release_; }
  std::uint16_t Build() const { return build_; }

 private:
  std::string version_string_;
  std::uint16_t major_ = 0;
  std::uint16_t minor_ = 0;
  std::uint16_t release_ = 0;
  std::uint16_t build_ = 0;
};

std::string VersionToStr(std::uint16_t major, std::uint16_t minor, std::uint16_t release, std::uint16_t build);
std::string FileVersionText(const std::string& fileName);

}  // namespace ecr
