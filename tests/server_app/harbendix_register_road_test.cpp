// The register server as a process, end to end: a fresh folder (no settings file, no INI),
// registers played on a pseudo-terminal mapped as COM1, and TCP clients on 127.0.0.1:4999.
// A register's own message reaches the owner of its SET, and a SET 5 command reaches the
// register and its answer comes back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
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
using testing::PortIsFree;
using testing::TestClient;

constexpr std::uint16_t kDefaultTcpPort = 4999;
constexpr int kEcr = 7;

std::string Request(int set, int command, std::string_view payload = {}) {
  return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command), kEcr, 0, {},
                            payload);
}

// "set/command/register err code [payload]", with the Block before the payload when there
// is one; "(nothing)" when no message came in time.
std::string Next(TestClient& client) {
  const auto message = client.Receive(20s);
  if (!message) return "(nothing)";
  const ClientMessage m = ParseClientMessage(*message);
  std::string text = std::to_string(m.SetNo) + "/" + std::to_string(m.Command) + "/" + std::to_string(m.LogNo) +
                     " err " + std::to_string(m.ErrorCode);
  if (!m.Block.empty()) text += " block [" + m.Block + "]";
  return text + " [" + m.Payload + "]";
}

TEST(HarbendixRegisterRoad, FreshFolderCarriesNotificationsAndCommandsOverCom1) {
  if (!PortIsFree(kDefaultTcpPort)) GTEST_SKIP() << "TCP port 4999 is in use on this machine";
  RegisterEmulator emulator;
  emulator.SetPacing(4800);
  EmulatedRegister& ecr = emulator.AddRegister(kEcr).SetStatus("1234;");
  // A message of the register's own (code 0, for SET 1): the register keeps offering it
  // until SET 1 of the register has an owner.
  ecr.QueueOnLineMessage("123456;4;0;X;");
  ecr.QueueAnswer("12;OK;");
  HarbendixFolder folder;
  folder.MapPort("COM1", emulator.PortPath());
  ASSERT_FALSE(std::filesystem::exists(folder.SettingsPath()));
  ASSERT_FALSE(std::filesystem::exists(folder.IniPath()));

  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();
  EXPECT_EQ(testing::TerminalSpeed(emulator.PortPath()), static_cast<speed_t>(B4800));

  TestClient owner(kDefaultTcpPort);
  TestClient subscriber(kDefaultTcpPort);
  TestClient commander(kDefaultTcpPort);
  ASSERT_TRUE(owner.Connected() && subscriber.Connected() && commander.Connected());
  ASSERT_TRUE(subscriber.Send(Request(SubscriberSet, cmdOpen)));
  EXPECT_EQ(Next(subscriber), "254/1/7 err 0 []");

  // The notification: the register's block without its code field, then the sequence
  // number 1 and the register's first notification id, 1 in a fresh folder.
  ASSERT_TRUE(owner.Send(Request(1, cmdOpen)));
  EXPECT_EQ(Next(owner), "1/1/7 err 0 [HARBENDIX]");
  EXPECT_EQ(Next(owner), "1/128/7 err 0 [123456;4;X;1;1;]");
  EXPECT_EQ(Next(subscriber), "254/128/7 err 0 block [1;128;] [123456;4;X;1;1;]");
  EXPECT_TRUE(emulator.WaitFor([&] { return ecr.QueuedMessages() == 0; }, 20s));

  // A SET 5 command goes out as its letter and payload at the register's next status.
  ASSERT_TRUE(commander.Send(Request(5, cmdOpen)));
  EXPECT_EQ(Next(commander), "5/1/7 err 0 [HARBENDIX]");
  ASSERT_TRUE(commander.Send(Request(5, 9, "ABC")));
  EXPECT_EQ(Next(commander), "5/9/7 err 0 [12;OK;]");
  EXPECT_EQ(ecr.Commands(), std::vector<std::string>{"IABC"});

  EXPECT_EQ(folder.Log().find("Repeated block"), std::string::npos) << folder.Log();
  EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
}

}  // namespace
}  // namespace ecr
