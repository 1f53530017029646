#include "text_client/output_target.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/dir_search.h"

namespace ecr {
namespace {

// An empty folder setting means the current folder, as for the search.
std::string FolderOrCurrent(const std::string& folder) { return folder.empty() ? "." : folder; }

std::filesystem::path NormalFolderPath(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(folder, error);
    if (error) path = folder;
    path = path.lexically_normal();
    // "/a/b/" and "/a/b" name one folder.
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return path;
}

}  // namespace

std::string InputFilePattern(const ClientSettings& settings) { return "*." + settings.InputExt; }

bool OutputActionWritesFile(std::string_view action) {
    return action == "REPLACE" || action == "APPEND" || action == "UNIQUE";
}

std::string WithExtension(std::string_view name, std::string_view extension) {
    const std::size_t dot = name.rfind('.');
    std::string base(dot == std::string_view::npos ? name : name.substr(0, dot));
    return base + "." + std::string(extension);
}

bool IsSameFolder(const std::string& first, const std::string& second) {
    struct stat firstInfo {};
    struct stat secondInfo {};
    const bool firstFound = ::stat(FolderOrCurrent(first).c_str(), &firstInfo) == 0;
    const bool secondFound = ::stat(FolderOrCurrent(second).c_str(), &secondInfo) == 0;
    if (firstFound && secondFound) {
        return firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino;
    }
    if (firstFound != secondFound) return false;
    return NormalFolderPath(FolderOrCurrent(first)) == NormalFolderPath(FolderOrCurrent(second));
}

bool OutputNameIsInputFile(const ClientSettings& settings, std::string_view outputName) {
    return WildcardMatchNoCase(outputName, InputFilePattern(settings)) &&
           IsSameFolder(settings.InputPath, settings.OutputPath);
}

bool OutputNamesInputFiles(const ClientSettings& settings) {
    if (!OutputActionWritesFile(settings.Action)) return false;
    const std::string outputName =
        settings.Action == "UNIQUE"
            ? std::string(kUniqueNamePrefix) + "00000000." + settings.OutputExt
            : WithExtension("x." + settings.InputExt, settings.OutputExt);
    return OutputNameIsInputFile(settings, outputName);
}

}  // namespace ecr
