#include "platform/program_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

namespace ecr {
namespace {

struct ExtensionCase {
  const char* path;
  const char* extension;
  const char* expected;
};

TEST(PathWithExtension, AppendsOrReplacesTheExtensionOfTheFileName) {
  const ExtensionCase cases[] = {
      {"/opt/ecr/harbendix", ".STG", "/opt/ecr/harbendix.STG"},
      {"/opt/ecr/harbendix", ".log", "/opt/ecr/harbendix.log"},
      {"/opt/ecr/wexhaven.exe", ".stg", "/opt/ecr/wexhaven.stg"},
      {"/opt/ecr/a.b.exe", ".log", "/opt/ecr/a.b.log"},
      {"/opt/ecr/harbendix.log", ".LO0", "/opt/ecr/harbendix.LO0"},
      {"/opt/e.cr/harbendix", ".INI", "/opt/e.cr/harbendix.INI"},  // a dot in a folder is no extension
      {"/opt/ecr/.hidden", ".log", "/opt/ecr/.hidden.log"},
      {"harbendix", ".BGR", "harbendix.BGR"},
      {"", ".log", ".log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathWithExtension(c.path, c.extension), c.expected) << c.path << " + " << c.extension;
  }
}

TEST(ProgramPath, IsTheRealPathOfTheRunningExecutable) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  ASSERT_GT(n, 0);
  buffer[n] = '\0';
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(buffer, resolved), nullptr);
  EXPECT_EQ(ProgramPath(), resolved);
  EXPECT_EQ(ProgramSidePath(".log"), PathWithExtension(resolved, ".log"));
  EXPECT_EQ(FileNameOf(ProgramPath()), "platform_program_path_test");
}

}  // namespace
}  // namespace ecr
