#include "platform/keep_awake.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

namespace ecr {
namespace {

TEST(KeepAwake, MissingLibraryReportsBothTexts) {
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test",
                        "libno-such-library-here.so.0");
    EXPECT_EQ(reports, (std::vector<std::string>{"Error loading libno-such-library-here.so.0",
                                                 "Function sd_bus_open_system not defined"}));
    EXPECT_FALSE(keepAwake.IsBound());
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
}

TEST(KeepAwake, LibraryWithoutTheFunctionReportsOnlyTheFunction) {
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test",
                        "libm.so.6");
    EXPECT_EQ(reports, std::vector<std::string>{"Function sd_bus_open_system not defined"});
    EXPECT_FALSE(keepAwake.IsBound());
}

TEST(KeepAwake, SystemLibraryBindsWithoutAWord) {
    // No system bus to talk to: the request fails quietly and the program runs on.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ecr-test-bus", 1);
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(keepAwake.IsBound());
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
    EXPECT_FALSE(keepAwake.LastError().empty());
}

}  // namespace
}  // namespace ecr
