#include "platform/dir_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;

TEST(DirSearch, WildcardsMatchWithoutRegardToCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  const Case cases[] = {
      {"day.in", "*.IN", true},
      {"DAY.IN", "*.in", true},
      {"day.inx", "*.in", false},
      {"day.in.bak", "*.in", false},
      {".in", "*.in", true},
      {"a.b.in", "*.in", true},
      {"day.in", "d?y.*", true},
      {"dy.in", "d?y.*", false},
      {"day", "*", true},
      {"", "*", true},
      {"", "?", false},
      {"abc", "a**c", true},
      {"abc", "abc*", true},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"aXbXc", "a*b*c", true},
      {"aXbXd", "a*b*c", false},
      // A "*" in the pattern is a wildcard even where the name holds one.
      {"*ab", "*b", true},
      {"*x", "*y", false},
      {"\xe4.IN", "\xc4.in", false},  // only ASCII letters fold
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatchNoCase(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
  }
}

TEST(DirSearch, ListsMatchingRegularFilesInNameOrder) {
  TempDir folder;
  for (const char* name : {"b.IN", "a.in", "c.out", "C.In"}) std::ofstream(folder.File(name)) << "x";
  fs::create_directory(folder.File("dir.in"));
  fs::create_symlink("a.in", folder.File("link.in"));      // a link to a file counts
  fs::create_symlink("missing", folder.File("dead.in"));   // a dangling link does not
  fs::create_directory_symlink("dir.in", folder.File("dirlink.in"));

  const std::vector<std::string> expected = {"C.In", "a.in", "b.IN", "link.in"};
  EXPECT_EQ(FindMatchingFiles(folder.Path().string(), "*.in"), expected);
  EXPECT_EQ(FindMatchingFiles(folder.Path().string() + "/", "*.IN"), expected);
  EXPECT_TRUE(FindMatchingFiles(folder.File("no-such-folder"), "*").empty());
  EXPECT_TRUE(FindMatchingFiles(folder.File("a.in"), "*").empty());  // a file is no folder
}

TEST(DirSearch, AnEmptyFolderNameIsTheWorkingFolder) {
  TempDir folder;
  std::ofstream(folder.File("only.in")) << "x";
  const fs::path previous = fs::current_path();
  fs::current_path(folder.Path());
  const std::vector<std::string> found = FindMatchingFiles("", "*.in");
  fs::current_path(previous);
  EXPECT_EQ(found, std::vector<std::string>{"only.in"});
}

}  // namespace
}  // namespace ecr
