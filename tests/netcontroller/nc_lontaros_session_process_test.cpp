// The network-controller server as a process on a machine without a system bus, started in
// a desktop session: its failed keep-awake request is logged with the reason, and a close
// request from a start without any session (cron) still reaches it. Started by cron itself,
// without a display, it runs as it does offscreen and says so once.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/netcontroller/nc_lontaros_process.h"
#include "tests/support/controller_emulator.h"

namespace ecr::nc {
namespace {

using namespace std::chrono_literals;
using test::LontarosFolder;

TEST(NcLontarosSessionProcess, LogsItsFailedKeepAwakeAndClosesOnARequestFromOutsideItsSession) {
  ControllerEmulator nc;
  LontarosFolder folder;
  folder.MapPort("COM1", nc.PortPath());
  NcServerSettings settings;
  settings.IPPort = test::FreeTcpPort();
  settings.ServerPassword = "pw";
  folder.WriteSettings(settings);
  const std::filesystem::path desktop = folder.Dir() / "desktop";
  std::filesystem::create_directories(desktop);
  const std::vector<std::string> common = {"QT_QPA_PLATFORM=offscreen", "ECR_REGISTRY=" + folder.Registry().string(),
                                           "LC_ALL", "LANG=C"};

  std::vector<std::string> desktopSession = common;
  desktopSession.push_back("XDG_RUNTIME_DIR=" + desktop.string());
  desktopSession.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (folder.Dir() / "no-system-bus").string());
  ChildProcess server(folder.Program().string(), {},
                      {.workingFolder = folder.Dir(), .environment = desktopSession,
                       .outputFile = folder.Dir() / "server.txt"});
  ASSERT_TRUE(folder.WaitForLog("Lontaros v1.0.4 started on COM 1.")) << folder.Log() << server.Output();
  const std::string log = folder.Log();
  const std::size_t failure = log.find("lontaros: Keep-awake request failed: system bus: ");
  EXPECT_NE(failure, std::string::npos) << log;
  EXPECT_LT(failure, log.find(" started on COM 1.")) << "requested first, as the window is created";

  std::vector<std::string> noSession = common;
  noSession.push_back("XDG_RUNTIME_DIR");
  ChildProcess request(folder.Program().string(), {"-Q:pw"},
                       {.workingFolder = folder.Dir(), .environment = noSession,
                        .outputFile = folder.Dir() / "request.txt"});
  EXPECT_EQ(request.WaitForExit(20s), 0);
  ASSERT_EQ(server.WaitForExit(20s), 0) << "the running copy never heard the request\n" << folder.Log();
  EXPECT_NE(folder.Log().find("Lontaros v1.0.4 closed by user."), std::string::npos) << folder.Log();
}

TEST(NcLontarosSessionProcess, ACopyStartedWithoutADisplayRunsOffscreenAndSaysSoOnce) {
  ControllerEmulator nc;
  LontarosFolder folder;
  const std::filesystem::path home = folder.Dir() / "home";
  LontarosFolder::MapPortIn(home / ".config" / "ecr-registry", "COM1", nc.PortPath());
  NcServerSettings settings;
  settings.IPPort = test::FreeTcpPort();
  settings.ServerPassword = "pw";
  folder.WriteSettings(settings);
  const auto fromCron = [&](const std::string& outputName) {
    return ChildProcessOptions{.workingFolder = folder.Dir(),
                               .environment = CronEnvironment(home),
                               .outputFile = folder.Dir() / outputName,
                               .inheritEnvironment = false};
  };
  const std::string noDisplay = "No display to reach: running offscreen, without an icon.";

  ChildProcess server(folder.Program().string(), {}, fromCron("server.txt"));
  ASSERT_TRUE(folder.WaitForLog("Lontaros v1.0.4 started on COM 1.")) << folder.Log() << server.Output();
  test::BlockingClient client(settings.IPPort);
  EXPECT_TRUE(client.Connected());
  ChildProcess request(folder.Program().string(), {"-Q:pw"}, fromCron("request.txt"));
  EXPECT_EQ(request.WaitForExit(20s), 0) << request.Output();
  ASSERT_EQ(server.WaitForExit(20s), 0) << folder.Log() << server.Output();
  const std::string log = folder.Log();
  EXPECT_LT(log.find(noDisplay), log.find(" started on COM 1.")) << log;
  EXPECT_EQ(log.find(noDisplay, log.find(noDisplay) + 1), std::string::npos) << "said once\n" << log;
  EXPECT_NE(log.find("Lontaros v1.0.4 closed by user."), std::string::npos) << log;
}

}  // namespace
}  // namespace ecr::nc
