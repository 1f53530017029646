// The register server as a process: started from a copy in a temporary folder, offscreen,
// with a registry of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "tests/server_app/harbendix_process.h"
#include "tests/server_app/loopback_ports.h"
#include "tests/support/register_emulator.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing::HarbendixFolder;
using testing::HarbendixProcess;
using testing::FreePort;
using testing::PortIsFree;
using testing::TakenPort;
using testing::TestClient;

// Opens SET setNo of register logNo and returns the reply's error code (-1: no reply).
int OpenSet(TestClient& client, int setNo, int logNo, const std::string& password) {
  if (!client.Send(BuildClientMessage(static_cast<std::uint8_t>(setNo), cmdOpen,
                                      static_cast<std::uint8_t>(logNo), 0, "", password)))
    return -1;
  const auto reply = client.Receive();
  if (!reply) return -1;
  const ClientMessage message = ParseClientMessage(*reply);
  EXPECT_EQ(message.SetNo, setNo);
  EXPECT_EQ(message.Command, cmdOpen);
  EXPECT_EQ(message.LogNo, logNo);
  return message.ErrorCode;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(HarbendixProcess, FreshFolderServesPort4999AndPollsCom1At4800) {
  if (!PortIsFree(4999)) GTEST_SKIP() << "TCP port 4999 is in use on this machine";
  RegisterEmulator emulator;
  emulator.AddRegister(7);
  HarbendixFolder folder;
  folder.MapPort("COM1", emulator.PortPath());
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();
  EXPECT_EQ(testing::TerminalSpeed(emulator.PortPath()), static_cast<speed_t>(B4800));
  EXPECT_FALSE(std::filesystem::exists(folder.IniPath()));

  TestClient client(4999);
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(OpenSet(client, 1, 7, ""), erNoError);
  // The register is on the poll list now: the line takes it again and again.
  EXPECT_TRUE(emulator.WaitForFrames("TAKE 07", 3, 20s));
  EXPECT_TRUE(emulator.WaitForFrames("FREE", 2, 20s));
  EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
}

TEST(HarbendixProcess, StoredSettingsChooseThePortsAndPasswords) {
  RegisterEmulator emulator;
  emulator.AddRegister(12);
  HarbendixFolder folder;
  folder.MapPort("COM3", emulator.PortPath());
  ServerSettings settings;
  settings.ComPort = "COM3";
  settings.ComSpeed = 9600;
  settings.IPPort = FreePort();
  settings.AdminPassword = "admin";
  settings.SetPassword(1) = "one";
  folder.WriteSettings(settings);
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM3.")) << folder.Log() << server.Output();
  EXPECT_EQ(testing::TerminalSpeed(emulator.PortPath()), static_cast<speed_t>(B9600));

  TestClient client(settings.IPPort);
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(OpenSet(client, 1, 12, ""), erWrongSetPassword);
  EXPECT_EQ(OpenSet(client, 1, 12, "ONE"), erWrongSetPassword);
  EXPECT_EQ(OpenSet(client, 1, 12, "one"), erNoError);
  EXPECT_TRUE(emulator.WaitForFrames("TAKE 12", 2, 20s));
  EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
}

TEST(HarbendixProcess, MissingOrBusySerialPortUndoesTheStart) {
  HarbendixFolder folder;
  ServerSettings settings;
  settings.IPPort = FreePort();
  folder.WriteSettings(settings);
  {  // COM1 names no device at all.
    HarbendixProcess server(folder, {});
    ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 stopped.")) << folder.Log();
    EXPECT_EQ(folder.Log().find(" started on "), std::string::npos);
    // The TCP port opened before the line was closed again by the undo.
    EXPECT_TRUE(testing::WaitUntil([&] { return PortIsFree(settings.IPPort); }, 20s));
    EXPECT_TRUE(server.Running());  // the error box waits; the window stays, stopped
  }
  std::filesystem::remove(folder.LogPath());
  // COM1 held by another program.
  RegisterEmulator emulator;
  folder.MapPort("COM1", emulator.PortPath());
  const int holder = open(emulator.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 stopped.")) << folder.Log();
  EXPECT_EQ(folder.Log().find(" started on "), std::string::npos);
  EXPECT_TRUE(testing::WaitUntil([&] { return PortIsFree(settings.IPPort); }, 20s));
  close(holder);
}

TEST(HarbendixProcess, PriorityParameter) {
  struct Case {
    std::vector<std::string> arguments;
    int nice;  // what a privileged process gets
  };
  const Case cases[] = {{{}, -20}, {{"-Priority:high"}, -10}, {{"/PRIORITY:Idle"}, 19},
                        {{"-Priority:low"}, -20}, {{"-priority:NORMAL"}, 0}};
  const bool privileged = geteuid() == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
    HarbendixFolder folder;
    HarbendixProcess server(folder, c.arguments);
    ASSERT_TRUE(folder.WaitForLog(" executed."));
    if (privileged || c.nice >= 0) {
      EXPECT_EQ(testing::NiceOf(server.Pid()), c.nice);
      EXPECT_EQ(folder.Log().find("SetPriorityClass fail"), std::string::npos);
    } else {
      EXPECT_NE(folder.Log().find("SetPriorityClass fail ! LastError=13"), std::string::npos);
    }
  }
}

TEST(HarbendixProcess, SecondStartEndsWithoutASign) {
  HarbendixFolder folder;
  HarbendixProcess first(folder, {});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 executed."));
  HarbendixProcess second(folder, {}, "second.txt");
  const auto status = second.Wait(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_EQ(second.Output(), "");
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(Count(folder.Log(), " executed."), 1u);
}

TEST(HarbendixProcess, StartOnATakenTcpPortUndoesItself) {
  HarbendixFolder folder;
  const TakenPort taken;
  ServerSettings settings;
  settings.IPPort = taken.Port();
  folder.WriteSettings(settings);
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 stopped."));
  EXPECT_EQ(folder.Log().find(" started on "), std::string::npos);
  EXPECT_TRUE(server.Running());
}

// Each case closes the server by a second start's request: once while it serves, once
// while the error box of its failed first start waits.
TEST(HarbendixProcess, CloseRequestOfASecondStartNeedsThePassword) {
  for (const bool serving : {true, false}) {
    SCOPED_TRACE(serving ? "serving" : "error box");
    RegisterEmulator emulator;
    HarbendixFolder folder;
    if (serving) folder.MapPort("COM1", emulator.PortPath());
    ServerSettings settings;
    settings.AdminPassword = "pw";
    settings.IPPort = FreePort();
    folder.WriteSettings(settings);
    HarbendixProcess server(folder, {});
    ASSERT_TRUE(folder.WaitForLog(serving ? "Harbendix v1.0.21 started on COM1." : "Harbendix v1.0.21 stopped."));

    for (const char* wrong : {"-Q:wrong", "-Q:", "-Q:PW"}) {
      HarbendixProcess request(folder, {wrong}, "request.txt");
      const auto status = request.Wait(20s);
      ASSERT_TRUE(status.has_value()) << wrong;
      EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(folder.Log().find(" closed by user."), std::string::npos);
    // The right password, given after the other prefix and in lower case, closes it
    // without a prompt.
    HarbendixProcess request(folder, {"/q:pw"}, "request.txt");
    ASSERT_TRUE(request.Wait(20s).has_value());
    const auto status = server.Wait(20s);
    ASSERT_TRUE(status.has_value()) << folder.Log();
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    // The close saved the settings under a key of its own making.
    const std::string stored = testing::ReadWholeFile(folder.SettingsPath());
    ASSERT_EQ(stored.size(), 13u + ServerSettings::size() + 4u);
    EXPECT_NE(stored.substr(0, 12), testing::EncodeSettingsFile(settings).substr(0, 12));
    const std::string log = folder.Log();
    EXPECT_EQ(Count(log, " closed by user."), 1u);
    EXPECT_EQ(Count(log, " stopped."), serving ? 1u : 2u);
    const std::string last = "Harbendix v1.0.21 closed by user.\r\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
    EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
  }
}

// Starts `arguments` of each group at the same moment and gives their exit codes, and
// what each said, once all have ended.
struct Ended {
  std::optional<int> exit;
  std::string said;
};
std::vector<Ended> StartTogether(const HarbendixFolder& folder, const std::vector<std::vector<std::string>>& group) {
  static int serial = 0;
  std::vector<std::unique_ptr<HarbendixProcess>> started;
  for (const auto& arguments : group)
    started.push_back(
        std::make_unique<HarbendixProcess>(folder, arguments, "together" + std::to_string(++serial) + ".txt"));
  std::vector<Ended> ended;
  for (auto& process : started) ended.push_back({process->WaitForExit(60s), process->Output()});
  return ended;
}

// Close requests that start at the same moment count only a running copy that took theirs:
// never each other's short-lived messengers, nor a start that ends on the lock.
TEST(HarbendixProcess, SimultaneousCloseRequestsCountOnlyARunningCopyThatTookThem) {
  HarbendixFolder folder;
  ServerSettings settings;
  settings.AdminPassword = "pw";
  settings.IPPort = FreePort();
  folder.WriteSettings(settings);
  const std::vector<std::string> request{"-Q:x"};
  const std::string nobody = "The close request reached no running copy.\n";

  // Nobody runs: in pairs, then in eights.
  for (const auto& [size, rounds] : {std::pair{2, 10}, std::pair{8, 10}}) {
    for (int round = 0; round < rounds; ++round) {
      SCOPED_TRACE(::testing::Message() << size << " together, round " << round);
      for (const Ended& sender : StartTogether(folder, std::vector(size, request))) {
        EXPECT_EQ(sender.exit, 1);
        EXPECT_EQ(sender.said, nobody);
      }
    }
  }

  {  // The lock is held (by no copy of ours): starts that end on it are no copy either.
    const int holder = open(folder.SettingsPath().c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    std::vector<std::vector<std::string>> mixed;
    for (int i = 0; i < 8; ++i) {
      mixed.push_back({});
      mixed.push_back(request);
    }
    const std::vector<Ended> ended = StartTogether(folder, mixed);
    for (std::size_t i = 0; i < ended.size(); ++i) {
      SCOPED_TRACE(mixed[i].empty() ? "a plain start" : "a close request");
      EXPECT_EQ(ended[i].exit, mixed[i].empty() ? 0 : 1);
      EXPECT_EQ(ended[i].said, mixed[i].empty() ? "" : nobody);
    }
    close(holder);
  }

  // A copy runs: each of the requests that come at once is taken by it (more of them than
  // the system queues for one socket), and only the one with the password closes it.
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 stopped.")) << folder.Log();  // COM1 names nothing
  for (const Ended& sender : StartTogether(folder, std::vector(16, request))) {
    EXPECT_EQ(sender.exit, 0);
    EXPECT_EQ(sender.said, "");
  }
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(StartTogether(folder, {{"-Q:pw"}}).front().exit, 0);
  EXPECT_EQ(server.WaitForExit(20s), 0) << folder.Log();
}

}  // namespace
}  // namespace ecr
