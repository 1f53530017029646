// A close request reaches the running register server whatever session each start comes
// from: the running copy started in the desktop session, the request from an ssh login
// whose runtime folder is another.
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
  RegisterEmulator emulator;
  HarbendixFolder folder;
  folder.MapPort("COM1", emulator.PortPath());
  ServerSettings settings;
  settings.AdminPassword = "pw";
  settings.IPPort = FreePort();
  folder.WriteSettings(settings);

  ChildProcess server(folder.Program().string(), {}, InSession(folder, folder.Dir() / "desktop", "server.txt"));
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();

  ChildProcess request(folder.Program().string(), {"-Q:pw"}, InSession(folder, folder.Dir() / "ssh", "request.txt"));
  EXPECT_EQ(request.WaitForExit(20s), 0);
  ASSERT_EQ(server.WaitForExit(20s), 0) << "the running copy never heard the request\n" << folder.Log();
  EXPECT_NE(folder.Log().find("Harbendix v1.0.21 closed by user."), std::string::npos) << folder.Log();
}

}  // namespace
}  // namespace ecr
