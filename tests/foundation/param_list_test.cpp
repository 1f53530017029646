#include "foundation/param_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace ecr {
namespace {

struct ParseCase {
  std::vector<std::string> arguments;
  std::vector<std::pair<std::string, std::string>> items;
};

TEST(TParamList, ParsesEveryArgumentIntoNameAndValue) {
  const ParseCase cases[] = {
      {{"-Q:secret"}, {{"Q", "secret"}}},
      {{"/q:secret"}, {{"Q", "secret"}}},
      {{"q:secret"}, {{"Q", "secret"}}},
      {{"-Priority:HIGH"}, {{"PRIORITY", "HIGH"}}},
      {{"-quit"}, {{"QUIT", ""}}},
      {{"Q:"}, {{"Q", ""}}},
      {{"-"}, {{"", ""}}},
      {{"/"}, {{"", ""}}},
      {{""}, {{"", ""}}},
      {{"-/q:x"}, {{"/Q", "x"}}},  // only one leading sign is dropped
      {{"--q"}, {{"-Q", ""}}},
      {{"-a:b:c"}, {{"A", "b:c"}}},
      {{":value"}, {{"", "value"}}},
      {{"-q:One", "/Q:Two", "r"}, {{"Q", "One"}, {"Q", "Two"}, {"R", ""}}},
  };
  for (const auto& c : cases) {
    TParamList list;
    list.AddParam("STALE", "cleared by parsing");
    list.ParseCommandLine(c.arguments);
    ASSERT_EQ(list.Count(), static_cast<int>(c.items.size())) << c.arguments.front();
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      EXPECT_EQ(list.Items()[i].Name, c.items[i].first) << c.arguments.front();
      EXPECT_EQ(list.Items()[i].Value, c.items[i].second) << c.arguments.front();
    }
  }
}

TEST(TParamList, FindParamReturnsTheFirstMatchInAnyCase) {
  TParamList list;
  list.ParseCommandLine(std::vector<std::string>{"-Q:first", "q:second", "-empty:"});
  std::string value = "unchanged";
  EXPECT_TRUE(list.FindParam("q", value));
  EXPECT_EQ(value, "first");
  EXPECT_TRUE(list.FindParam("Empty", value));
  EXPECT_EQ(value, "");
  value = "unchanged";
  EXPECT_FALSE(list.FindParam("Priority", value));
  EXPECT_EQ(value, "unchanged");
}

TEST(TParamList, ArgvSkipsTheProgramName) {
  const char* argv[] = {"/opt/ecr/harbendix", "-Priority:Idle", "/Q:pw"};
  TParamList list;
  list.ParseCommandLine(3, argv);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items()[0].Name, "PRIORITY");
  EXPECT_EQ(list.Items()[0].Value, "Idle");
  EXPECT_EQ(list.Items()[1].Name, "Q");
}

TEST(ParamList, HoldsTheArgumentsOfThisProcess) {
  // The test runner's own command line, as the kernel keeps it.
  const std::vector<std::string> argv = ::testing::internal::GetArgvs();
  const std::vector<std::string> expected(argv.begin() + 1, argv.end());
  EXPECT_EQ(ProcessArguments(), expected);
  TParamList parsed;
  parsed.ParseCommandLine(expected);
  ASSERT_EQ(ParamList().Count(), parsed.Count());
  for (int i = 0; i < parsed.Count(); ++i) EXPECT_EQ(ParamList().Items()[i].Name, parsed.Items()[i].Name);
}

}  // namespace
}  // namespace ecr
