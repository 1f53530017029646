#include "foundation/file_version.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

TEST(FileVersion, AStampedExecutableReadsBackItsVersion) {
  EXPECT_EQ(FileVersionText(ECR_VERSION_PROBE), "v1.0.21.1");
  TrsFileVersion version;
  ASSERT_TRUE(version.Read(ECR_VERSION_PROBE));
  EXPECT_EQ(version.Major(), 1);
  EXPECT_EQ(version.Minor(), 0);
  EXPECT_EQ(version.Release(), 21);
  EXPECT_EQ(version.Build(), 1);
  EXPECT_EQ(version.VersionString(), "1.0.21");
}

TEST(FileVersion, FilesWithoutAVersionGiveZeros) {
  const TempDir folder;
  const std::string text = folder.File("notes.txt");
  std::ofstream(text) << "no version here";
  for (const std::string& path : {text, folder.File("missing.exe"), std::string("/proc/self/exe")}) {
    EXPECT_EQ(FileVersionText(path), "v0.0.0.0") << path;
  }
  TrsFileVersion version;
  ASSERT_TRUE(version.Read(ECR_VERSION_PROBE));
  EXPECT_FALSE(version.Read(text));  // a failed read clears what an earlier one set
  EXPECT_EQ(version.Major(), 0);
  EXPECT_EQ(version.Release(), 0);
  EXPECT_EQ(version.VersionString(), "");
}

TEST(FileVersion, NumbersArePrintedInFullWithoutPadding) {
  EXPECT_EQ(VersionToStr(2, 70, 1, 1), "v2.70.1.1");
  EXPECT_EQ(VersionToStr(65535, 65535, 65535, 65535), "v65535.65535.65535.65535");
  EXPECT_EQ(VersionToStr(0, 0, 0, 0), "v0.0.0.0");
  EXPECT_EQ(HighWordOf(0x00010000u), 1);
  EXPECT_EQ(LowWordOf(0x00010015u), 21);
}

}  // namespace
}  // namespace ecr
