#include "server_app/language_modules.h"

#include <filesystem>
#include <system_error>

#include "platform/dir_search.h"
#include "platform/program_path.h"
#include "server_app/language_table.h"

namespace ecr {
namespace {

std::string WithoutExtension(std::string_view programPath) { return PathWithExtension(programPath, ""); }

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// A file name beside the program: folder and the name's pattern "stem.*".
struct ModuleNames {
  std::string folder;
  std::string stem;
};

ModuleNames NamesOf(std::string_view programPath) {
  const std::filesystem::path stemPath(WithoutExtension(programPath));
  return {stemPath.parent_path().string(), stemPath.filename().string()};
}

}  // namespace

std::string LanguageModulePath(std::string_view programPath, std::string_view ext) {
  return WithoutExtension(programPath) + "." + std::string(ext);
}

std::vector<std::string> LanguageModuleExtensions(std::string_view programPath) {
  const ModuleNames names = NamesOf(programPath);
  std::vector<std::string> extensions;
  for (const std::string& file : FindMatchingFiles(names.folder, names.stem + ".*")) {
    std::string ext = file.substr(names.stem.size() + 1);
    // Only the last dot starts an extension: "harbendix.BGR.qm" is no module of ours.
    if (!ext.empty() && ext.find('.') == std::string::npos) extensions.push_back(std::move(ext));
  }
  return extensions;
}

std::optional<std::string> FindLanguageModule(std::string_view programPath, std::string_view ext) {
  if (ext.empty() || ext.find_first_of("./\\*?") != std::string_view::npos) return std::nullopt;
  const ModuleNames names = NamesOf(programPath);
  for (const std::string& found : LanguageModuleExtensions(programPath)) {
    if (SameExtension(found, ext))
      return (std::filesystem::path(names.folder) / (names.stem + "." + found)).string();
  }
  return std::nullopt;
}

std::string LocalesValueName(std::string_view programPath) {
  std::string name(programPath);
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

std::optional<std::string> StoredLanguage(const Registry& registry, std::string_view programPath) {
  const std::optional<RegistryKey> key = registry.OpenKey(RegistryHive::CurrentUser, kLocalesKeyPath);
  if (!key) return std::nullopt;
  if (std::optional<std::string> value = key->ReadString(LocalesValueName(programPath))) return value;
  return key->ReadString("");
}

std::vector<std::string> StartupModuleCandidates(const Registry& registry, std::string_view programPath,
                                                 std::uint16_t threadLangId) {
  std::vector<std::string> candidates;
  const auto add = [&](std::string_view ext) {
    if (const std::optional<std::string> module = FindLanguageModule(programPath, ext))
      candidates.push_back(*module);
  };
  if (const std::optional<std::string> stored = StoredLanguage(registry, programPath)) add(*stored);
  if (const std::optional<std::string> abbreviation = LocaleAbbreviation(threadLangId)) {
    add(*abbreviation);
    add(abbreviation->substr(0, 2));
  }
  return candidates;
}

std::string ChooseHelpFile(std::string_view programPath, std::string_view activeLanguage) {
  const std::string stem = WithoutExtension(programPath);
  const std::string choices[] = {stem + std::string(activeLanguage) + ".hlp",
                                 stem + "_" + std::string(activeLanguage) + ".hlp",
                                 PathWithExtension(programPath, ".hlp")};
  for (const std::string& choice : choices) {
    if (FileExists(choice)) return choice;
  }
  return choices[2];
}

}  // namespace ecr
