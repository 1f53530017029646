#include "server_app/language_selection.h"

#include <array>
#include <exception>
#include <optional>
#include <string_view>

#include "server_app/language_modules.h"
#include "server_app/language_table.h"

namespace ecr {
namespace {

constexpr std::array<std::string_view, 8> kFlagExtensions = {"", "bgr", "enu", "rus", "ukr", "fra", "lth", "eti"};

}  // namespace

LanguageSelection::LanguageSelection(std::string programPath, Registry registry, std::uint16_t threadLangId,
                                     ModuleLoads moduleLoads)
    : programPath_(std::move(programPath)), registry_(std::move(registry)) {
  // The last module name tried is the one checked by loading it.
  std::string tried;
  try {
    if (const std::optional<std::string> stored = StoredLanguage(registry_, programPath_)) {
      if (const std::optional<std::string> module = FindLanguageModule(programPath_, *stored)) {
        activeLanguage_ = *stored;
        tried = *module;
      }
    }
  } catch (const std::exception&) {
    activeLanguage_.clear();
  }
  if (activeLanguage_.empty()) {
    const std::string abbreviation = LocaleAbbreviation(threadLangId).value_or("");
    const std::optional<std::string> module = FindLanguageModule(programPath_, abbreviation);
    tried = module.value_or(LanguageModulePath(programPath_, abbreviation));
    if (module) activeLanguage_ = abbreviation;
  }
  if (!activeLanguage_.empty() && moduleLoads && moduleLoads(tried)) {
    activeFlag_ = FlagIndex(activeLanguage_);
    nextLanguage_ = activeLanguage_;
    nextFlag_ = activeFlag_;
  } else {
    activeLanguage_.clear();
    nextLanguage_.clear();
    activeFlag_ = nextFlag_ = 0;
  }
  helpFile_ = ChooseHelpFile(programPath_, activeLanguage_);
}

int LanguageSelection::SetLanguage(const std::string& ext) {
  try {
    if (!FindLanguageModule(programPath_, ext)) return slModuleMissing;
    const std::optional<RegistryKey> key = registry_.CreateKey(RegistryHive::CurrentUser, kLocalesKeyPath);
    if (!key) return slKeyNotOpened;
    if (nextLanguage_ == ext) return slNothingToChange;
    // A value that cannot be written is as unexpected as any other failure here.
    if (!key->WriteString(LocalesValueName(programPath_), ext)) return slError;
    nextLanguage_ = ext;
    nextFlag_ = FlagIndex(ext);
    return slStored;
  } catch (const std::exception&) {
    return slError;
  }
}

std::vector<std::pair<std::string, std::string>> LanguageSelection::ExtToName() const {
  std::vector<std::pair<std::string, std::string>> entries;
  const std::vector<std::string> extensions = LanguageModuleExtensions(programPath_);
  for (const LocaleEntry& locale : LocaleList()) {
    for (const std::string& ext : extensions) {
      if (SameExtension(ext, locale.Abbreviation)) {
        entries.emplace_back(ext, std::string(locale.Name));
        break;
      }
    }
  }
  return entries;
}

int LanguageSelection::FlagIndex(const std::string& ext) {
  for (std::size_t cell = 0; cell < kFlagExtensions.size(); ++cell) {
    if (SameExtension(ext, kFlagExtensions[cell])) return static_cast<int>(cell);
  }
  return 0;
}

}  // namespace ecr
