#include "foundation/regional_formats.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "tests/foundation/comma_locale.h"

namespace ecr {
namespace {

using RegionalFormatsTest = CommaLocale;

TEST_F(RegionalFormatsTest, NumbersAreWrittenWithAPointWhateverTheUsersLocale) {
  // As an application object does at start: the C locale follows the environment.
  ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 12.5);
  ASSERT_STREQ(text, "12,50") << "the comma locale is not in force";
  SetRegionalFormats();
  std::snprintf(text, sizeof text, "%.2f", 12.5);
  EXPECT_STREQ(text, "12.50");
  std::setlocale(LC_ALL, "C");
}

TEST(RegionalFormats, DatesAndTimesUseTheFixedFormats) {
  SetRegionalFormats();
  const LocalTime when{2026, 12, 9, 8, 42, 40, 0, 3};
  EXPECT_EQ(FormatShortDate(when), "09.12.2026");
  EXPECT_EQ(FormatLongTime(when), "08:42:40");
  EXPECT_EQ(ShortDayName(when), "ср");
  const RegionalFormats& formats = CurrentRegionalFormats();
  EXPECT_EQ(formats.DecimalSeparator, '.');
  EXPECT_EQ(formats.DateSeparator, '.');
  EXPECT_EQ(formats.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(formats.LongTimeFormat, "hh:mm:ss");
  const char* days[] = {"нд", "пн", "вт", "ср", "чт", "пт", "сб"};
  for (int d = 0; d < 7; ++d) EXPECT_EQ(formats.ShortDayNames[static_cast<std::size_t>(d)], days[d]);
}

}  // namespace
}  // namespace ecr
