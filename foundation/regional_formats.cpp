#include "foundation/regional_formats.h"

#include <clocale>
#include <cstdio>

namespace ecr {

namespace {

const RegionalFormats kFixedFormats{};

}  // namespace

void SetRegionalFormats() {
  // printf-style formatting follows LC_NUMERIC; the programs always write ".".
  std::setlocale(LC_NUMERIC, "C");
}

const RegionalFormats& CurrentRegionalFormats() { return kFixedFormats; }

std::string FormatShortDate(const LocalTime& when) {
  const char sep = CurrentRegionalFormats().DateSeparator;
  char text[32];
  std::snprintf(text, sizeof text, "%02d%c%02d%c%04d", when.Day, sep, when.Month, sep, when.Year);
  return text;
}

std::string FormatLongTime(const LocalTime& when) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.Hour, when.Minute, when.Second);
  return text;
}

const std::string& ShortDayName(const LocalTime& when) {
  return CurrentRegionalFormats().ShortDayNames.at(static_cast<std::size_t>(when.DayOfWeek) % 7);
}

}  // namespace ecr
