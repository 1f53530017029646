#include "foundation/fields.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

TEST(GetField, ReturnsTheTextBeforeTheNthSeparator) {
  struct Case {
    const char* s;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"1;2.50;ABC;", 1, "1"}, {"1;2.50;ABC;", 2, "2.50"}, {"1;2.50;ABC;", 3, "ABC"}, {"1;2.50;ABC;", 4, ""},
      {"1;2", 2, ""},          {"1;2", 1, "1"},            {"a;;c;", 2, ""},          {"a;;c;", 3, "c"},
      {"", 1, ""},             {";", 1, ""},               {"abc", 1, ""},
  };
  for (const auto& c : cases) {
    const std::string s = c.s;
    EXPECT_EQ(GetField(s, c.n), c.expected) << c.s << " #" << c.n;
  }
  EXPECT_EQ(GetField("a|b|", 2, '|'), "b");
}

TEST(CutField, RemovesTheFieldAndItsSeparator) {
  struct Case {
    const char* s;
    int n;
    const char* field;
    const char* rest;
  };
  const Case cases[] = {
      {"a;b;c;", 2, "b", "a;c;"}, {"a;b;c;", 1, "a", "b;c;"}, {"a;b;c;", 3, "c", "a;b;"},
      {"a;b;c;", 4, "", "a;b;c;"}, {"a;b;c", 3, "", "a;b;c"},  {"a;;c;", 2, "", "a;c;"},
      {"", 1, "", ""},
  };
  for (const auto& c : cases) {
    std::string s = c.s;
    EXPECT_EQ(CutField(s, c.n), c.field) << c.s << " #" << c.n;
    EXPECT_EQ(s, c.rest) << c.s << " #" << c.n;
  }
}

TEST(InsertField, MakesTheValueFieldN) {
  struct Case {
    const char* s;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"a;b;", 1, "x;a;b;"}, {"a;b;", 2, "a;x;b;"}, {"a;b;", 3, "a;b;x;"}, {"a;b;", 7, "a;b;x;"},
      {"", 1, "x;"},         {"", 2, "x;"},         {"", 255, "x;"},      {"a;b", 2, "a;x;b"},
      {"a;b", 3, "a;bx;"},  // no third field to insert before: appended as the text stands
  };
  for (const auto& c : cases) {
    std::string s = c.s;
    InsertField(s, "x", c.n);
    EXPECT_EQ(s, c.expected) << c.s << " #" << c.n;
  }
}

TEST(InsertField, CutsTheResultTo255Bytes) {
  std::string s(250, 'a');
  s += ";";
  InsertField(s, "0123456789", 1);
  ASSERT_EQ(s.size(), kShortStringMax);
  EXPECT_EQ(s.substr(0, 11), "0123456789;");
}

TEST(Fields, FieldNumbersOutsideTheRangeAreRefused) {
  std::string s = "a;b;";
  EXPECT_THROW(GetField(s, 0), std::out_of_range);
  EXPECT_THROW(CutField(s, 256), std::out_of_range);
  EXPECT_THROW(InsertField(s, "x", 0), std::out_of_range);
  EXPECT_EQ(s, "a;b;");
}

TEST(RemoveSpaces, DropsEveryBlank) {
  EXPECT_EQ(RemoveSpaces(" 12 .50 ; A B "), "12.50;AB");
  EXPECT_EQ(RemoveSpaces("   "), "");
  EXPECT_EQ(RemoveSpaces("a\tb"), "a\tb");
}

}  // namespace
}  // namespace ecr
