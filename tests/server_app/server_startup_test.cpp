// The start-up decisions of the register server: priority parameter, title, INI options
// and the user's language identifier.
#include "server_app/server_startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/param_list.h"
#include "server_app/server_options.h"
#include "server_app/user_language_id.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

TEST(ServerStartup, PriorityParameterChoosesTheClass) {
  struct Case {
    std::vector<std::string> arguments;
    PriorityClass expected;
  };
  const Case cases[] = {
      {{}, PriorityClass::Realtime},
      {{"-Priority:high"}, PriorityClass::High},
      {{"/PRIORITY:High"}, PriorityClass::High},
      {{"priority:HIGH"}, PriorityClass::High},
      {{"-Priority:low"}, PriorityClass::Realtime},
      {{"-Priority:"}, PriorityClass::Realtime},
      {{"-Priority:idle"}, PriorityClass::Idle},
      {{"-Priority:Normal", "-Priority:IDLE"}, PriorityClass::Normal},
      {{"-Priority:realtime"}, PriorityClass::Realtime},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
    TParamList params;
    params.ParseCommandLine(c.arguments);
    std::string value;
    std::optional<std::string> priority;
    if (params.FindParam("Priority", value)) priority = value;
    EXPECT_EQ(ChoosePriorityClass(priority), c.expected);
  }
}

TEST(ServerStartup, TitleAndPriorityLogLine) {
  EXPECT_EQ(MakeApplicationTitle("v1.0.21.1"), "Harbendix v1.0.21");
  EXPECT_EQ(MakeApplicationTitle("v0.0.0.0"), "Harbendix v0.0.0");
  EXPECT_EQ(MakeApplicationTitle("v1.0.21.1") + " executed.", "Harbendix v1.0.21 executed.");
  EXPECT_EQ(PriorityFailureLogLine(13), "SetPriorityClass fail ! LastError=13");
}

class ServerOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ + "/harbendix.INI";
  }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  TempDir temp_;
  std::string dir_ = temp_.Path().string();
  std::string path_;
};

TEST_F(ServerOptionsTest, MissingFileGivesTheUsersLanguageAndIsNotCreated) {
  const IniFile ini(path_);
  const ServerOptions polish = LoadOptions(ini, 0x0415);
  EXPECT_EQ(polish.CodeTableIndex, 3);
  EXPECT_EQ(polish.LanguageID, 0x0415);
  EXPECT_FALSE(polish.OldFPMode);
  const ServerOptions english = LoadOptions(ini, 0x0409);
  EXPECT_EQ(english.CodeTableIndex, 1);
  EXPECT_EQ(english.LanguageID, 0x0402);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ServerOptionsTest, KeysReadWithTheProfileRules) {
  struct Case {
    const char* text;
    int index;
    std::uint16_t languageId;
    bool oldFpMode;
  };
  // The user's language in every case is Greek (row 13).
  const Case cases[] = {
      {"[Other]\nLanguageID=1045\n", 13, 0x0408, false},
      {"[Options]\nLanguageID=1045\n", 3, 0x0415, false},
      {"[options]\nlanguageid=0x415\nOldFPMode=1\n", 3, 0x0415, true},
      {"[Options]\nLanguageID=$0C1A\nOldFPMode=2\n", 5, 0x0C1A, false},
      {"[Options]\nLanguageID=0x0409\nOldFPMode=0\n", 1, 0x0402, false},
      {"[Options]\nLanguageID=Polish\nOldFPMode=yes\n", 13, 0x0408, false},
      {"[Options]\nLanguageID=70000\n", 13, 0x0408, false},
      {"[Options]\nLanguageID=-1\nOldFPMode=$1\n", 13, 0x0408, true},
      {"[Options]\r\nLanguageID=1051\r\nOldFPMode=0x1\r\n", 11, 0x041B, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Write(c.text);
    const ServerOptions options = LoadOptions(IniFile(path_), 0x0408);
    EXPECT_EQ(options.CodeTableIndex, c.index);
    EXPECT_EQ(options.LanguageID, c.languageId);
    EXPECT_EQ(options.OldFPMode, c.oldFpMode);
  }
}

TEST_F(ServerOptionsTest, SaveLanguageIdWritesDecimalAndKeepsTheRest) {
  Write("[Options]\nOldFPMode=1\nLanguageID=0x402\n[Mine]\nKey=Value\n");
  IniFile ini(path_);
  ASSERT_TRUE(SaveLanguageId(ini, 0x0415));
  EXPECT_EQ(Read(), "[Options]\nOldFPMode=1\nLanguageID=1045\n[Mine]\nKey=Value\n");
  const ServerOptions options = LoadOptions(ini, 0x0409);
  EXPECT_EQ(options.CodeTableIndex, 3);
  EXPECT_TRUE(options.OldFPMode);
}

TEST(UserLanguageId, LocaleNamesAndEnvironment) {
  struct Case {
    const char* locale;
    std::uint16_t langId;
  };
  const Case cases[] = {
      {"bg_BG.UTF-8", 0x0402}, {"pl_PL", 0x0415},        {"sr_RS@latin", 0x081A},
      {"sr_RS.UTF-8", 0x0C1A}, {"el_GR.UTF-8", 0x0408},  {"en_GB.UTF-8", 0x0809},
      {"en_US.UTF-8", 0x0409}, {"C", 0x0409},             {"POSIX", 0x0409},
      {"", 0x0409},            {"xx_YY", 0x0409},         {"CS_CZ", 0x0405},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(LanguageIdOfLocale(c.locale), c.langId);
  }
  setenv("LC_ALL", "", 1);
  setenv("LC_MESSAGES", "lt_LT.UTF-8", 1);
  setenv("LANG", "et_EE.UTF-8", 1);
  EXPECT_EQ(UserDefaultLangId(), 0x0427);
  setenv("LC_ALL", "ro_RO", 1);
  EXPECT_EQ(UserDefaultLangId(), 0x0418);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  EXPECT_EQ(UserDefaultLangId(), 0x0425);
}

}  // namespace
}  // namespace ecr
