#include "netcontroller/nc_file_version.h"

#include <gtest/gtest.h>

namespace ecr::nc {
namespace {

TEST(NcFileVersion, MinorAndBuildKeepTheirLowTwelveBits) {
    TrsFileVersion version;
    ASSERT_TRUE(version.Read(ECR_VERSION_PROBE));
    EXPECT_EQ(version.Major, 1);
    EXPECT_EQ(version.Minor, 4);     // 4100 = 0x1004
    EXPECT_EQ(version.Release, 7);
    EXPECT_EQ(version.Build, 104);   // 4200 = 0x1068
    EXPECT_EQ(version.VersionString, "1.4.7");
    EXPECT_EQ(FileVersionText(ECR_VERSION_PROBE), "v1.4.7.104");
    EXPECT_EQ(TitleVersionText(ECR_VERSION_PROBE), "v1.4.7");
}

TEST(NcFileVersion, FileWithoutVersion) {
    TrsFileVersion version;
    version.Major = 9;
    EXPECT_FALSE(version.Read("/nonexistent/program"));
    EXPECT_EQ(version.Major, 0);
    EXPECT_EQ(FileVersionText("/nonexistent/program"), "v0.0.0.0");
    EXPECT_EQ(TitleVersionText("/nonexistent/program"), "v0.0.0");
    EXPECT_EQ(FileVersionText("/etc/hostname"), "v0.0.0.0");
}

}  // namespace
}  // namespace ecr::nc
