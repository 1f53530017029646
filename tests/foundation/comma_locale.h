#pragma once
// A test fixture that makes the environment's locale one with "," as number decimal
// separator and ";" as monetary decimal separator (kName; kCommaBoth has "," for both):
// small locale sources compiled with localedef into a temporary LOCPATH, selected
// through LANG. The variables it touches
// are restored afterwards.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"
#include <utility>
#include <vector>

// glibc keeps the parsed LOCPATH of every newlocale call; only tests set LOCPATH, so the
// leak checker of sanitizer builds is told to ignore that allocation.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace ecr {

class CommaLocale : public ::testing::Test {
 protected:
  static constexpr const char* kName = "xx_XX";       // "," numeric, ";" monetary
  static constexpr const char* kCommaBoth = "yy_YY";  // "," for both

  void SetUp() override {
    struct Definition {
      const char* name;
      const char* numeric;
      const char* monetary;
    };
    for (const Definition& d : {Definition{kName, "<U002C>", "<U003B>"}, Definition{kCommaBoth, "<U002C>", "<U002C>"}}) {
      const auto source = folder_ / (std::string(d.name) + ".src");
      std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"" << d.numeric
                            << "\"\nthousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\nLC_MONETARY\nmon_decimal_point \""
                            << d.monetary << "\"\nmon_thousands_sep \"\"\nmon_grouping -1\nEND LC_MONETARY\n";
      const std::string command = "localedef -c -i '" + source.string() + "' '" + (folder_ / d.name).string() +
                                  "' >/dev/null 2>&1";
      const int status = std::system(command.c_str());
      // localedef exits with 1 for its warnings about the categories left out.
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1)
          << "localedef failed (is package locales installed?)";
      ASSERT_TRUE(std::filesystem::exists(folder_ / d.name / "LC_NUMERIC"));
    }
    for (const char* name : {"LOCPATH", "LC_ALL", "LC_NUMERIC", "LC_MONETARY", "LANG"}) {
      const char* value = std::getenv(name);
      saved_.push_back({name, value ? value : "", value != nullptr});
    }
    setenv("LOCPATH", folder_.c_str(), 1);
    unsetenv("LC_ALL");
    unsetenv("LC_NUMERIC");
    unsetenv("LC_MONETARY");
    setenv("LANG", kName, 1);
  }

  void TearDown() override {
    for (const auto& v : saved_) {
      if (v.present) setenv(v.name.c_str(), v.value.c_str(), 1);
      else unsetenv(v.name.c_str());
    }
  }

  const TempDir dir_;
  const std::filesystem::path folder_ = dir_.Path();

 private:
  struct SavedVariable {
    std::string name, value;
    bool present;
  };
  std::vector<SavedVariable> saved_;
};

}  // namespace ecr
