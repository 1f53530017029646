#include "netcontroller/nc_file_version.h"

#include "platform/elf_version_note.h"

namespace ecr::nc {
namespace {
constexpr std::uint16_t kLow12Bits = 0x0FFF;
}

bool TrsFileVersion::Read(const std::string& FileName) {
    *this = TrsFileVersion{};
    auto numbers = ReadElfVersionNote(FileName);
    if (!numbers) return false;
    Major = numbers->Major;
    Minor = numbers->Minor & kLow12Bits;
    Release = numbers->Release;
    Build = numbers->Build & kLow12Bits;
    VersionString =
        std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release);
    return true;
}

std::string FileVersionText(const std::string& FileName) {
    TrsFileVersion version;
    if (!version.Read(FileName)) return "v0.0.0.0";
    return "v" + std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
           std::to_string(version.Release) + "." + std::to_string(version.Build);
}

std::string TitleVersionText(const std::string& FileName) {
    std::string text = FileVersionText(FileName);
    return text.substr(0, text.rfind('.'));
}

}  // namespace ecr::nc
