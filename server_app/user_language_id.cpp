#include "server_app/user_language_id.h"

#include <cstdlib>
#include <string>

namespace ecr {
namespace {

struct LocaleLanguage {
  std::string_view language;  // the locale's language part
  std::string_view territory;  // empty: any territory
  std::string_view modifier;   // empty: any modifier
  std::uint16_t langId;
};

// The languages of the code tables come first; more specific rows before general ones.
constexpr LocaleLanguage kLanguages[] = {
    {"bg", "", "", 0x0402}, {"lt", "", "", 0x0427}, {"pl", "", "", 0x0415},
    {"mk", "", "", 0x042F}, {"sr", "", "latin", 0x081A}, {"sr", "", "", 0x0C1A},
    {"et", "", "", 0x0425}, {"sv", "", "", 0x041D}, {"mn", "", "", 0x0450},
    {"cs", "", "", 0x0405}, {"sk", "", "", 0x041B}, {"ro", "", "", 0x0418},
    {"el", "", "", 0x0408}, {"en", "GB", "", 0x0809}, {"en", "", "", 0x0409},
    {"de", "", "", 0x0407}, {"fr", "", "", 0x040C}, {"ru", "", "", 0x0419},
    {"uk", "", "", 0x0422},
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::uint16_t LanguageIdOfLocale(std::string_view localeName) {
  // language[_territory][.codeset][@modifier]
  std::string_view modifier;
  if (const auto at = localeName.find('@'); at != std::string_view::npos) {
    modifier = localeName.substr(at + 1);
    localeName = localeName.substr(0, at);
  }
  if (const auto dot = localeName.find('.'); dot != std::string_view::npos)
    localeName = localeName.substr(0, dot);
  std::string_view territory;
  if (const auto underscore = localeName.find('_'); underscore != std::string_view::npos) {
    territory = localeName.substr(underscore + 1);
    localeName = localeName.substr(0, underscore);
  }
  const std::string language = Lower(localeName);
  const std::string lowerModifier = Lower(modifier);
  for (const LocaleLanguage& row : kLanguages) {
    if (row.language != language) continue;
    if (!row.territory.empty() && row.territory != territory) continue;
    if (!row.modifier.empty() && row.modifier != lowerModifier) continue;
    return row.langId;
  }
  return kLangIdEnglishUs;
}

std::uint16_t UserDefaultLangId() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return LanguageIdOfLocale(value);
  }
  return kLangIdEnglishUs;
}

}  // namespace ecr
