#include "platform/locale_separators.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/foundation/comma_locale.h"

namespace ecr {
namespace {

TEST_F(CommaLocale, SeparatorsComeFromTheEnvironmentsLocale) {
  EXPECT_EQ(LocaleDecimalSeparator(), ",");
  EXPECT_EQ(LocaleMonetaryDecimalSeparator(), ";");
  // The category variables win over LANG, and LC_ALL over both.
  setenv("LC_MONETARY", "C", 1);
  EXPECT_EQ(LocaleMonetaryDecimalSeparator(), ".");
  EXPECT_EQ(LocaleDecimalSeparator(), ",");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(LocaleDecimalSeparator(), ".");
}

TEST_F(CommaLocale, AnUnknownLocaleGivesThePoint) {
  setenv("LANG", "no_SUCH.locale", 1);
  EXPECT_EQ(LocaleDecimalSeparator(), ".");
  EXPECT_EQ(LocaleMonetaryDecimalSeparator(), ".");
}

}  // namespace
}  // namespace ecr
