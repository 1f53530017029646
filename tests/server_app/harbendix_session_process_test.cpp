// A close request reaches the running register server whatever session each start comes
// from: the running copy started in the desktop session, the request from an ssh login
// whose runtime folder is another, or from cron without any session or display; and a copy
// started without a display runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/server_app/harbendix_process.h"
#include "tests/server_app/loopback_ports.h"
#include "tests/support/register_emulator.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing::FreePort;
using testing::HarbendixFolder;

// A run of the program in its folder, offscreen, in the C locale, with the folder's
// registry and the given runtime folder of its session.
ChildProcessOptions InSession(const HarbendixFolder& folder, const std::filesystem::path& runtimeFolder,
                              const std::string& outputName) {
  std::filesystem::create_directories(runtimeFolder);
  return {.workingFolder = folder.Dir(),
          .environment = {"QT_QPA_PLATFORM=offscreen", "ECR_REGISTRY=" + folder.Registry().string(),
                          "XDG_RUNTIME_DIR=" + runtimeFolder.string(), "LC_ALL", "LC_MESSAGES", "LANG=C"},
          .outputFile = folder.Dir() / outputName};
}

TEST(HarbendixSessionProcess, ACloseRequestFromAnotherSessionClosesTheRunningCopy) {
  const testing::ServingFolder serving;
  const HarbendixFolder& folder = serving.folder;
  ChildProcess server(folder.Program().string(), {}, InSession(folder, folder.Dir() / "desktop", "server.txt"));
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();

  ChildProcess request(folder.Program().string(), {"-Q:pw"}, InSession(folder, folder.Dir() / "ssh", "request.txt"));
  EXPECT_EQ(request.WaitForExit(20s), 0);
  ASSERT_EQ(server.WaitForExit(20s), 0) << "the running copy never heard the request\n" << folder.Log();
  EXPECT_NE(folder.Log().find("Harbendix v1.0.21 closed by user."), std::string::npos) << folder.Log();
}

// A start as cron, ssh or a service makes it: HOME, LOGNAME, SHELL and PATH only.
ChildProcessOptions FromCron(const HarbendixFolder& folder, const std::string& outputName) {
  return {.workingFolder = folder.Dir(),
          .environment = CronEnvironment(folder.Dir() / "home"),
          .outputFile = folder.Dir() / outputName,
          .inheritEnvironment = false};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(HarbendixSessionProcess, ACloseRequestFromCronNeedsNoDisplay) {
  const testing::ServingFolder serving;
  const HarbendixFolder& folder = serving.folder;
  ChildProcess server(folder.Program().string(), {}, InSession(folder, folder.Dir() / "desktop", "server.txt"));
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();

  ChildProcess wrong(folder.Program().string(), {"-Q:wrong"}, FromCron(folder, "wrong.txt"));
  EXPECT_EQ(wrong.WaitForExit(20s), 0) << wrong.Output();
  EXPECT_TRUE(server.Running());
  ChildProcess request(folder.Program().string(), {"-Q:pw"}, FromCron(folder, "request.txt"));
  EXPECT_EQ(request.WaitForExit(20s), 0) << request.Output();
  ASSERT_EQ(server.WaitForExit(20s), 0) << folder.Log();
  EXPECT_EQ(request.Output(), "");
}

// Without a display the program runs as it does offscreen, without an icon, and its log says
// so once; it serves, a second start ends at once, and a close request closes it.
TEST(HarbendixSessionProcess, ACopyStartedWithoutADisplayRunsOffscreenAndSaysSoOnce) {
  RegisterEmulator emulator;
  emulator.AddRegister(7);
  HarbendixFolder folder;
  HarbendixFolder::MapPortIn(folder.Dir() / "home" / ".config" / "ecr-registry", "COM1", emulator.PortPath());
  ServerSettings settings;
  settings.AdminPassword = "pw";
  settings.IPPort = FreePort();
  folder.WriteSettings(settings);
  const std::string noDisplay = "No display to reach: running offscreen, without an icon.";

  ChildProcess server(folder.Program().string(), {}, FromCron(folder, "server.txt"));
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();
  EXPECT_LT(folder.Log().find(noDisplay), folder.Log().find(" executed.")) << folder.Log();
  testing::TestClient client(settings.IPPort);
  EXPECT_TRUE(client.Connected());

  ChildProcess second(folder.Program().string(), {}, FromCron(folder, "second.txt"));
  EXPECT_EQ(second.WaitForExit(20s), 0) << second.Output();
  ChildProcess request(folder.Program().string(), {"-Q:pw"}, FromCron(folder, "request.txt"));
  EXPECT_EQ(request.WaitForExit(20s), 0) << request.Output();
  ASSERT_EQ(server.WaitForExit(20s), 0) << folder.Log() << server.Output();
  EXPECT_EQ(Count(folder.Log(), noDisplay), 1u) << folder.Log();
  EXPECT_NE(folder.Log().find("Harbendix v1.0.21 closed by user."), std::string::npos) << folder.Log();
}

}  // namespace
}  // namespace ecr
