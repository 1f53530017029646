#include "foundation/file_version.h"

#include "platform/elf_version_note.h"

namespace ecr {

bool TrsFileVersion::Read(const std::string& fileName) {
  *this = TrsFileVersion();
  const auto numbers = ReadElfVersionNote(fileName);
  if (!numbers) return false;
  major_ = numbers->Major;
  minor_ = numbers->Minor;
  release_ = numbers->Release;
  build_ = numbers->Build;
  version_string_ = std::to_string(major_) + "." + std::to_string(minor_) + "." + std::to_string(release_);
  return true;
}

std::string VersionToStr(std::uint16_t major, std::uint16_t minor, std::uint16_t release, std::uint16_t build) {
  return "v" + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) + "." +
         std::to_string(build);
}

std::string FileVersionText(const std::string& fileName) {
  TrsFileVersion version;
  if (!version.Read(fileName)) return "v0.0.0.0";
  return VersionToStr(version.Major(), version.Minor(), version.Release(), version.Build());
}

}  // namespace ecr
