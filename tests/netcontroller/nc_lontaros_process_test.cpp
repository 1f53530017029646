// The network-controller server as a process: started from a copy in a temporary folder,
// offscreen, with COM1 mapped onto a controller emulator; a client opens a SET, a second
// start ends at once, and a close request with the server password ends the server.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "tests/netcontroller/nc_lontaros_process.h"
#include "tests/support/controller_emulator.h"

namespace ecr::nc {
namespace {

using namespace std::chrono_literals;
using test::BlockingClient;
using test::LontarosFolder;
using test::LontarosProcess;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Exited normally with status 0 within the wait.
::testing::AssertionResult EndsAtOnce(LontarosProcess& process) {
  const std::optional<int> status = process.Wait(20s);
  if (!status) return ::testing::AssertionFailure() << "still running";
  if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
    return ::testing::AssertionFailure() << "wait status " << *status;
  return ::testing::AssertionSuccess();
}

TEST(NcLontarosProcess, ServesAClientAndEndsOnACloseRequestWithThePassword) {
  ControllerEmulator nc;
  LontarosFolder folder;
  folder.MapPort("COM1", nc.PortPath());
  NcServerSettings settings;
  settings.IPPort = test::FreeTcpPort();
  settings.ServerPassword = "pw";
  settings.SetPassword(1) = "one";
  folder.WriteSettings(settings);

  LontarosProcess server(folder, {});
  ASSERT_TRUE(server.Started());
  ASSERT_TRUE(folder.WaitForLog("Lontaros v1.0.4 started on COM 1.")) << folder.Log() << server.Output();
  EXPECT_TRUE(nc.WaitForCommands("STOP", 1, 20s));

  BlockingClient client(settings.IPPort);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send(BuildClientMessage(1, cmdOpen, 3, 0, "", "one")));
  const std::optional<std::string> reply = client.Receive();
  ASSERT_TRUE(reply.has_value());
  const ClientMessage message = ParseClientMessage(*reply);
  EXPECT_EQ(message.SetNo, 1);
  EXPECT_EQ(message.Command, cmdOpen);
  EXPECT_EQ(message.LogNo, 3);
  EXPECT_EQ(message.ErrorCode, erNoError);
  // Register 3 joins the controller's mask and the controller is started.
  EXPECT_TRUE(nc.WaitFor([&] { return nc.Mask() == 0x0004 && nc.Started(); }, 20s));

  {  // A second start without parameters ends at once and shows nothing.
    LontarosProcess second(folder, {}, "second.txt");
    EXPECT_TRUE(EndsAtOnce(second));
    EXPECT_EQ(second.Output(), "");
  }
  for (const char* wrong : {"-Q:wrong", "-Q:", "/Q:PW"}) {
    SCOPED_TRACE(wrong);
    LontarosProcess request(folder, {wrong}, "request.txt");
    EXPECT_TRUE(EndsAtOnce(request));
  }
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(folder.Log().find(" closed by user."), std::string::npos);
  EXPECT_EQ(Count(folder.Log(), " started on "), 1u);

  nc.ClearRecord();
  LontarosProcess request(folder, {"/q:pw"}, "request.txt");
  EXPECT_TRUE(EndsAtOnce(request));
  const std::optional<int> status = server.Wait(20s);
  ASSERT_TRUE(status.has_value()) << folder.Log();
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_NE(folder.Log().find("Lontaros v1.0.4 closed by user."), std::string::npos);
  EXPECT_TRUE(nc.WaitFor([&] { return !nc.Started() && nc.Mask() == 0; }, 5s));
  const std::vector<std::string> commands = nc.ReceivedCommands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], "STOP");
  EXPECT_EQ(commands[1], "RESET");
  EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
}

// The system's requests to end (SIGTERM: a stop of the service or the end of the session;
// SIGHUP; SIGINT) close the server as the end of the desktop session does: no prompt, the
// controller stopped, the close logged, the settings saved, so that the next run goes on
// with the register counters where this one left them.
TEST(NcLontarosProcess, EachRequestToEndClosesLikeTheSessionsEndAndTheNumbersGoOn) {
  for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(::testing::Message() << "signal " << signalNumber);
    ControllerEmulator nc;
    LontarosFolder folder;
    folder.MapPort("COM1", nc.PortPath());
    NcServerSettings settings;
    settings.IPPort = test::FreeTcpPort();
    settings.ServerPassword = "pw";  // a prompt would wait for ever: none may show
    folder.WriteSettings(settings);
    // The owner of SET 1 of register 3 on the running server; the payload of each
    // notification that a block of the register brings.
    const auto notifications = [&](const std::vector<std::string>& blocks) {
      BlockingClient client(settings.IPPort);
      EXPECT_TRUE(client.Connected());
      EXPECT_TRUE(client.Send(BuildClientMessage(1, cmdOpen, 3, 0, "", "")));
      EXPECT_TRUE(client.Receive().has_value());
      EXPECT_TRUE(nc.WaitFor([&] { return nc.Started() && nc.Mask() == 0x0004; }, 20s));
      std::vector<std::string> payloads;
      for (const std::string& block : blocks) {
        nc.SendEcrBlock(3, block);
        const std::optional<std::string> message = client.Receive();
        payloads.push_back(message ? ParseClientMessage(*message).Payload : "(nothing)");
      }
      return payloads;
    };

    {
      LontarosProcess server(folder, {});
      ASSERT_TRUE(folder.WaitForLog("Lontaros v1.0.4 started on COM 1.")) << folder.Log() << server.Output();
      EXPECT_EQ(notifications({"55;1;0;A;", "55;2;0;B;"}),
                (std::vector<std::string>{"55;1;A;1;1;", "55;2;B;2;1;"}));
      nc.ClearRecord();
      ASSERT_EQ(::kill(server.Pid(), signalNumber), 0);
      EXPECT_TRUE(EndsAtOnce(server)) << folder.Log() << server.Output();
      EXPECT_EQ(Count(folder.Log(), "Lontaros v1.0.4 closed by user."), 1u) << folder.Log();
      // The close stops and resets the controller (the owner's leaving stopped it before).
      const std::vector<std::string> commands = nc.ReceivedCommands();
      EXPECT_NE(std::adjacent_find(commands.begin(), commands.end(),
                                   [](const std::string& a, const std::string& b) {
                                     return a == "STOP" && b == "RESET";
                                   }),
                commands.end())
          << ::testing::PrintToString(commands);
      EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
    }

    LontarosProcess again(folder, {}, "again.txt");
    ASSERT_TRUE(test::WaitUntil([&] { return Count(folder.Log(), " started on COM 1.") == 2; }, 20s))
        << folder.Log();
    EXPECT_EQ(notifications({"55;3;0;C;"}), std::vector<std::string>{"55;3;C;3;1;"});
  }
}

}  // namespace
}  // namespace ecr::nc
