#include "foundation/number_parsing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/foundation/comma_locale.h"

namespace ecr {
namespace {

TEST(TryTextToCurrency, ConvertsExactlyToFourDecimals) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t scaled;
  };
  const Case cases[] = {
      {"12.5", true, 125000},
      {"-12.50", true, -125000},
      {"+0.0001", true, 1},
      {"  7  ", true, 70000},
      {".5", true, 5000},
      {"5.", true, 50000},
      {"1e3", true, 10000000},
      {"1.5E-2", true, 150},
      {"0.00005", true, 0},       // half to even
      {"0.00015", true, 2},       // half to even
      {"0.000051", true, 1},
      {"-0.00005", true, 0},
      {"922337203685477.5807", true, INT64_MAX},
      {"-922337203685477.5808", true, INT64_MIN},
      {"922337203685477.5808", false, 0},
      {"1e20", false, 0},
      {"1e-999999", true, 0},
      {"", false, 0},
      {" ", false, 0},
      {"abc", false, 0},
      {"12,50", false, 0},
      {"1.2.3", false, 0},
      {"1 000", false, 0},
      {"1e", false, 0},
      {"--1", false, 0},
      {".", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    Currency value = Currency::FromScaled(-777);
    EXPECT_EQ(TryTextToCurrency(c.text, '.', value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value.Scaled(), c.scaled) << c.text;
    }
  }
}

TEST(TryTextToFloat, AcceptsTheSameFormWithItsSeparator) {
  long double value = 0;
  ASSERT_TRUE(TryTextToFloat("2,5e1", ',', value));
  EXPECT_EQ(value, 25.0L);
  ASSERT_TRUE(TryTextToFloat("-0.125", '.', value));
  EXPECT_EQ(value, -0.125L);
  EXPECT_FALSE(TryTextToFloat("2.5", ',', value));
  EXPECT_FALSE(TryTextToFloat("1e999999", '.', value));  // beyond the type
  EXPECT_FALSE(TryTextToFloat("nan", '.', value));
  EXPECT_FALSE(TryTextToFloat("inf", '.', value));
}

TEST(Currency, PrintsWithFourDecimals) {
  EXPECT_EQ(Currency::FromScaled(125000).ToString(), "12.5000");
  EXPECT_EQ(Currency::FromScaled(-1).ToString(), "-0.0001");
  EXPECT_EQ(Currency::FromScaled(INT64_MIN).ToString(), "-922337203685477.5808");
  EXPECT_LT(Currency::FromUnits(-1), Currency());
  EXPECT_DOUBLE_EQ(Currency::FromScaled(125000).ToDouble(), 12.5);
}

using NumberParsing = CommaLocale;

TEST_F(NumberParsing, TheSecondAttemptUsesTheLocalesSeparator) {
  setenv("LANG", kCommaBoth, 1);
  EXPECT_EQ(StrToCurrDefLoc("12,50", Currency()), Currency::FromScaled(125000));
  EXPECT_EQ(StrToCurrLoc("12.50"), Currency::FromScaled(125000));
  EXPECT_EQ(StrToFloatLoc("12,5"), 12.5L);
}

TEST_F(NumberParsing, CurrencyUsesTheMonetaryAndFloatsTheNumericSeparator) {
  // kName: "," for numbers, ";" for money.
  EXPECT_EQ(StrToCurrLoc("3;25"), Currency::FromScaled(32500));
  EXPECT_EQ(StrToCurrDefLoc("3,25", Currency::FromUnits(9)), Currency::FromUnits(9));
  EXPECT_EQ(StrToFloatLoc("3,25"), 3.25L);
  EXPECT_EQ(StrToFloatDefLoc("3;25", -1.0L), -1.0L);
}

TEST_F(NumberParsing, TextThatIsNoNumberFailsAllThreeAttempts) {
  EXPECT_THROW(StrToFloatLoc("abc"), ConversionError);
  EXPECT_THROW(StrToCurrLoc("12,50 EUR"), ConversionError);
  EXPECT_EQ(StrToFloatDefLoc("abc", 4.0L), 4.0L);
  EXPECT_EQ(StrToCurrDefLoc("", Currency::FromUnits(2)), Currency::FromUnits(2));
}

TEST(NumberParsingWithThePoint, NeedsNoLocaleSeparator) {
  EXPECT_EQ(StrToCurrLoc(" -1.5 "), Currency::FromScaled(-15000));
  EXPECT_EQ(StrToFloatLoc("1.5e2"), 150.0L);
}

}  // namespace
}  // namespace ecr
