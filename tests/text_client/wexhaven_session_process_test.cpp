// The selling client as a process on a machine without a system bus, started by a service
// (no session runtime folder): its failed keep-awake request is logged with the reason, and
// a close request from a terminal of the desktop session still reaches it. Started by cron,
// without a display, it runs as it does offscreen, says so once, and a close request from
// cron closes it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "foundation/settings_store.h"
#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"
#include "tests/text_client/poll_loop.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/client_settings.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::FakeServer;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

// A copy of the program in `folder`, for `server`, with the system password "secret"; its
// path.
std::string Install(const TempFolder& folder, const FakeServer& server) {
    const std::string program = folder.Path() + "wexhaven";
    std::filesystem::copy_file(ECR_WEXHAVEN_PROGRAM, program);
    WriteFile(folder.Path() + "wexhaven.ini", "[Server]\nPort=" + std::to_string(server.Port()) +
                                                  "\n[Directories]\nInputPath=" + folder.Sub("in") +
                                                  "\nOutputPath=" + folder.Sub("out") + "\n");
    ClientPasswords passwords;
    passwords.SetSystemPassword("secret");
    TCodeStru(folder.Path() + "wexhaven.stg", passwords).Save();
    return program;
}

TEST(WexhavenSessionProcess, LogsItsFailedKeepAwakeAndClosesOnARequestFromTheDesktopSession) {
    TempFolder folder;
    FakeServer server;  // never answers: the client only waits for it
    const std::string program = Install(folder, server);
    const std::string log = folder.Path() + "wexhaven.log";

    ChildProcess service(program, {},
                         {.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR",
                                          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder.Path() + "no-system-bus"},
                          .outputFile = folder.Path() + "service.txt"});
    const std::string failure = "wexhaven: Keep-awake request failed: system bus: ";
    // The line is written as the main window is created, after the close handler is bound.
    ASSERT_TRUE(support::WaitUntil([&] { return ReadFile(log).find(failure) != std::string::npos; }, 30s))
        << ReadFile(log) << service.Output();

    const std::string desktop = folder.Sub("desktop");
    ChildProcess request(program, {"-Q:secret"},
                         {.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + desktop},
                          .outputFile = folder.Path() + "request.txt"});
    EXPECT_EQ(request.WaitForExit(20s), 0);
    EXPECT_EQ(service.WaitForExit(20s), 0) << "the running copy never heard the request\n" << ReadFile(log);
}

TEST(WexhavenSessionProcess, ACopyStartedWithoutADisplayRunsOffscreenAndSaysSoOnce) {
    TempFolder folder;
    FakeServer server;
    const std::string program = Install(folder, server);
    const auto fromCron = [&](const std::string& outputName) {
        return ChildProcessOptions{.environment = CronEnvironment(folder.Sub("home")),
                                   .outputFile = folder.Path() + outputName,
                                   .inheritEnvironment = false};
    };

    ChildProcess client(program, {}, fromCron("client.txt"));
    ASSERT_TRUE(server.Accept(30000)) << ReadFile(folder.Path() + "wexhaven.log") << client.Output();
    ChildProcess request(program, {"-Q:secret"}, fromCron("request.txt"));
    EXPECT_EQ(request.WaitForExit(20s), 0) << request.Output();
    EXPECT_EQ(client.WaitForExit(20s), 0) << client.Output();
    const std::string log = ReadFile(folder.Path() + "wexhaven.log");
    const std::string noDisplay = "wexhaven: No display to reach: running offscreen, without an icon.\r\n";
    ASSERT_NE(log.find(noDisplay), std::string::npos) << log;
    EXPECT_EQ(log.find(noDisplay, log.find(noDisplay) + 1), std::string::npos) << "said once\n" << log;
}

}  // namespace
}  // namespace ecr
