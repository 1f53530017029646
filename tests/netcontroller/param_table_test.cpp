#include "netcontroller/param_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ecr {
namespace {

TEST(ParamTable, OneArgumentBecomesItsNameAndValue) {
  struct Case {
    const char* argument;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"-hide:3", "HIDE", "3"},
      {"/HIDE:3", "HIDE", "3"},
      {"HIDE:3", "HIDE", "3"},
      {"-HIDE", "HIDE", ""},
      {"-SHOW:1:2", "SHOW", "1:2"},
      {"--HIDE:3", "-HIDE", "3"},  // only one sign is dropped
      {"/-q", "-Q", ""},
      {"-:x", "", "x"},
      {"-", "", ""},
      {"", "", ""},
      {"Priority:Idle", "PRIORITY", "Idle"},  // the value keeps its case
      {"abcdefghijklmno:v", "ABCDEFGHIJ", "v"},
      {"abcdefghijklmno", "ABCDEFGHIJ", ""},
      {"x:0123456789012345678901234567890123456789", "X", "012345678901234567890123456789"},
      {"\xe4q:\xe4", "\xe4Q", "\xe4"},  // only ASCII letters change case
  };
  for (const Case& c : cases) {
    const ParamTable::Record record = ParamTable::ParseArgument(c.argument);
    EXPECT_EQ(record.Name, c.name) << c.argument;
    EXPECT_EQ(record.Value, c.value) << c.argument;
  }
}

TEST(ParamTable, FindParamGivesTheFirstMatchAndLeavesValueAloneOtherwise) {
  const ParamTable table(std::vector<std::string>{"-hide", "/show:4", "SHOW:5", "--HIDE:3"});
  std::string value = "untouched";
  EXPECT_TRUE(table.FindParam("show", value));
  EXPECT_EQ(value, "4");
  EXPECT_TRUE(table.FindParam("HIDE", value));
  EXPECT_EQ(value, "");
  value = "untouched";
  EXPECT_FALSE(table.FindParam("Q", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(table.FindParam("-hide", value));
  EXPECT_EQ(value, "3");
  // An empty name finds the first record of an absent argument.
  value = "untouched";
  EXPECT_TRUE(table.FindParam("", value));
  EXPECT_EQ(value, "");
}

TEST(ParamTable, SeesTenArgumentsAndNoMore) {
  std::vector<std::string> arguments;
  for (int i = 1; i <= 11; ++i) arguments.push_back("A" + std::to_string(i) + ":" + std::to_string(i));
  const ParamTable table(arguments);
  std::string value;
  EXPECT_TRUE(table.FindParam("A10", value));
  EXPECT_EQ(value, "10");
  EXPECT_FALSE(table.FindParam("A11", value));
  // With every record in use, an empty name finds nothing.
  value = "untouched";
  EXPECT_FALSE(table.FindParam("", value));
  EXPECT_EQ(value, "untouched");
}

TEST(ParamTable, ReadsMainsArgumentsAfterTheProgramName) {
  const char* argv[] = {"/usr/bin/drovak", "-q", nullptr};
  const ParamTable table(2, argv);
  std::string value;
  EXPECT_FALSE(table.FindParam("/USR/BIN/DROVAK", value));
  EXPECT_TRUE(table.FindParam("Q", value));
  EXPECT_EQ(table.Records()[0].Name, "Q");
  EXPECT_EQ(table.Records()[1].Name, "");

  const char* only_program[] = {"drovak", nullptr};
  EXPECT_TRUE(ParamTable(1, only_program).FindParam("", value));
  EXPECT_TRUE(ParamTable(0, only_program).FindParam("", value));
}

}  // namespace
}  // namespace ecr
