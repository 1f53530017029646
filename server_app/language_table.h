#pragma once
// The languages the program can name: Windows language identifiers with their display
// names and three-letter abbreviations, the list that the language dialog matches module
// files against. The thread's language is the user's, taken from the environment's locale.
// Plain C++; immutable tables, any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ecr {

struct LocaleEntry {
  std::uint16_t LangId;
  std::string_view Name;          // display name, "English (United States)"
  std::string_view Abbreviation;  // "ENU"
};

// Every known language, ordered by identifier.
std::span<const LocaleEntry> LocaleList();

// The three-letter abbreviation of a language identifier; std::nullopt when the
// identifier is not in the list.
std::optional<std::string> LocaleAbbreviation(std::uint16_t langId);

// The language identifier of the thread: the user's language from LC_ALL, LC_MESSAGES or
// LANG; US English (1033) when none names a known language.
std::uint16_t ThreadLanguageId();

// ASCII comparison without regard to case.
bool SameExtension(std::string_view a, std::string_view b);

}  // namespace ecr
