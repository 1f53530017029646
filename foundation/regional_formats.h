#pragma once
// The fixed regional formats of the programs. Every program calls SetRegionalFormats at
// start, before any window exists; from then on every formatting and parsing of numbers,
// dates and times uses these formats, whatever the user's locale: "." as decimal
// separator, "." as date separator, short dates "dd.mm.yyyy", long times "hh:mm:ss",
// short day names (Sunday first) "нд", "пн", "вт", "ср", "чт", "пт", "сб" (UTF-8).
//
// SetRegionalFormats also sets the C library's LC_NUMERIC to "C", so that printf-style
// formatting ("%.2f") writes "." too. Call it after the application object is created,
// since a Qt application object sets the C locale from the environment.
//
// Thread safety: SetRegionalFormats runs on the main thread at start, before other
// threads exist; the readers may be called from any thread afterwards.

#include <array>
#include <string>
#include <string_view>

#include "platform/local_time.h"

namespace ecr {

struct RegionalFormats {
  char DecimalSeparator = '.';
  char DateSeparator = '.';
  std::string ShortDateFormat = "dd.mm.yyyy";
  std::string LongTimeFormat = "hh:mm:ss";
  std::array<std::string, 7> ShortDayNames{"нд", "пн", "вт", "ср", "чт", "пт", "сб"};
};

void SetRegionalFormats();
// The formats in force (the fixed ones; the same before and after SetRegionalFormats
// except that only the call fixes the C library's LC_NUMERIC).
const RegionalFormats& CurrentRegionalFormats();

std::string FormatShortDate(const LocalTime& when);  // 09.12.2026
std::string FormatLongTime(const LocalTime& when);   // 08:42:40
const std::string& ShortDayName(const LocalTime& when);  // "ср" for a Wednesday

}  // namespace ecr
