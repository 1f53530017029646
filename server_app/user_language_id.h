#pragma once
// The user's default language identifier (a Windows language identifier), taken from the
// environment's locale: LC_ALL, else LC_MESSAGES, else LANG. Plain C++; any thread.

#include <cstdint>
#include <string_view>

namespace ecr {

inline constexpr std::uint16_t kLangIdEnglishUs = 0x0409;

// The identifier of a locale name such as "bg_BG.UTF-8", "sr_RS@latin" or "cs"; US English
// for "C", "POSIX", an empty name or a language this table does not hold.
std::uint16_t LanguageIdOfLocale(std::string_view localeName);

// LanguageIdOfLocale of the first of LC_ALL, LC_MESSAGES, LANG that is set and not empty.
std::uint16_t UserDefaultLangId();

}  // namespace ecr
