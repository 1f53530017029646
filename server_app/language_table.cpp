#include "server_app/language_table.h"

#include <algorithm>
#include <array>

#include "server_app/user_language_id.h"

namespace ecr {
namespace {

constexpr std::array<LocaleEntry, 19> kLocales{{
    {0x0402, "Bulgarian", "BGR"},
    {0x0405, "Czech", "CSY"},
    {0x0407, "German (Germany)", "DEU"},
    {0x0408, "Greek", "ELL"},
    {0x0409, "English (United States)", "ENU"},
    {0x040C, "French (France)", "FRA"},
    {0x0415, "Polish", "PLK"},
    {0x0418, "Romanian", "ROM"},
    {0x0419, "Russian", "RUS"},
    {0x041B, "Slovak", "SKY"},
    {0x041D, "Swedish", "SVE"},
    {0x0422, "Ukrainian", "UKR"},
    {0x0425, "Estonian", "ETI"},
    {0x0427, "Lithuanian", "LTH"},
    {0x042F, "Macedonian", "MKI"},
    {0x0450, "Mongolian", "MON"},
    {0x0809, "English (United Kingdom)", "ENG"},
    {0x081A, "Serbian (Latin)", "SRL"},
    {0x0C1A, "Serbian (Cyrillic)", "SRB"},
}};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::span<const LocaleEntry> LocaleList() { return kLocales; }

std::optional<std::string> LocaleAbbreviation(std::uint16_t langId) {
  const auto found = std::find_if(kLocales.begin(), kLocales.end(),
                                  [langId](const LocaleEntry& entry) { return entry.LangId == langId; });
  if (found == kLocales.end()) return std::nullopt;
  return std::string(found->Abbreviation);
}

std::uint16_t ThreadLanguageId() { return UserDefaultLangId(); }

bool SameExtension(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace ecr
