// The network-controller server as a process: started from a copy in a temporary folder,
// offscreen, with COM1 mapped onto a controller emulator; a client opens a SET, a second
// start ends at once, and a close request with the server password ends the server.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
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

// A folder whose program finds the controller emulator on COM1 (unless told there is
// none), on a free TCP port, with the server password "pw".
struct ServedFolder {
  ControllerEmulator nc;
  LontarosFolder folder;
  NcServerSettings settings;
  explicit ServedFolder(bool withController = true) {
    if (withController) folder.MapPort("COM1", nc.PortPath());
    settings.IPPort = test::FreeTcpPort();
    settings.ServerPassword = "pw";
    folder.WriteSettings(settings);
  }
};

// Waits until the starting copy answers a close request with a wrong password: it does so
// from the event loop of a box that holds its start, the only one before the service runs.
::testing::AssertionResult AnswersFromABox(const LontarosFolder& folder) {
  std::string said;
  const bool answered = test::WaitUntil(
      [&] {
        LontarosProcess wrong(folder, {"-Q:wrong"}, "wrong.txt");
        const std::optional<int> status = wrong.Wait(20s);
        said = wrong.Output();
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
      },
      60s);
  if (answered) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << said << folder.Log();
}

// Ends the program as `request` says: a signal, or a close request with the password.
void AskToEnd(const LontarosFolder& folder, LontarosProcess& server, const std::string& request) {
  if (request == "SIGTERM") {
    ASSERT_EQ(::kill(server.Pid(), SIGTERM), 0);
  } else {
    LontarosProcess close(folder, {request}, "close.txt");
    EXPECT_TRUE(EndsAtOnce(close)) << close.Output();
  }
}

// Where the keep-awake binding fails, two error boxes hold the start, one after the other.
// A close request with a wrong password is answered meanwhile and changes nothing; a
// request to end (a signal, or a close request with the password) rejects the box that
// shows and the one after it, the start goes on, and the close follows.
TEST(NcLontarosProcess, TheBoxesOfAFailedKeepAwakeBindingGiveWayToARequestToEnd) {
  for (const std::string request : {"SIGTERM", "-Q:pw"}) {
    SCOPED_TRACE(request);
    ServedFolder served;
    LontarosProcess server(served.folder, {}, "output.txt", {test::kNoKeepAwakeLibrary});
    ASSERT_TRUE(AnswersFromABox(served.folder));
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(served.folder.Log().find("Keep-awake request failed"), std::string::npos) << "the window is not made yet";

    AskToEnd(served.folder, server, request);
    EXPECT_TRUE(EndsAtOnce(server)) << served.folder.Log() << server.Output();
    const std::string log = served.folder.Log();
    const std::size_t failure = log.find("lontaros: Keep-awake request failed: libno-such-keep-awake-library.so.0");
    const std::size_t started = log.find("Lontaros v1.0.4 started on COM 1.");
    const std::size_t closed = log.find("Lontaros v1.0.4 closed by user.");
    EXPECT_LT(failure, started) << log;
    EXPECT_LT(started, closed) << log;
    EXPECT_EQ(Count(log, " closed by user."), 1u) << log;
  }
}

// "Net Controller not found!" holds the start until a person answers it; a request to end
// rejects it, and the program ends as after the box: status 1, nothing saved.
TEST(NcLontarosProcess, TheBoxOfAMissingControllerGivesWayToARequestToEnd) {
  for (const std::string request : {"SIGTERM", "-Q:pw"}) {
    SCOPED_TRACE(request);
    ServedFolder served(false);
    const std::string stored = ReadWholeFile(served.folder.SettingsPath());
    LontarosProcess server(served.folder, {});
    ASSERT_TRUE(AnswersFromABox(served.folder));
    EXPECT_TRUE(server.Running());

    AskToEnd(served.folder, server, request);
    EXPECT_EQ(server.WaitForExit(20s), 1) << served.folder.Log() << server.Output();
    EXPECT_EQ(served.folder.Log().find(" closed by user."), std::string::npos) << served.folder.Log();
    EXPECT_EQ(ReadWholeFile(served.folder.SettingsPath()), stored);
  }
}

// A signal that comes while the program starts, from the first moment of its main on, is
// kept: the service starts, then the close follows and the program ends with status 0. One
// that comes before main ran ends the process before it has done anything (no log yet).
TEST(NcLontarosProcess, ASignalAtAnyMomentOfTheStartIsKeptOnceMainBegan) {
  for (const StartMoment moment : StartMoments()) {
    SCOPED_TRACE(::testing::Message() << "SIGTERM " << moment.delayMs << " ms after "
                                      << (moment.fromMain ? "main began" : "the start"));
    ServedFolder served;
    LontarosProcess server(served.folder, {});
    const SignalledStart signalled = SignalAtMoment(server, moment, served.folder.LogPath(), 30s);
    ASSERT_TRUE(signalled.exit.has_value()) << served.folder.Log() << server.Output();
    if (signalled.beforeMain) continue;
    EXPECT_EQ(signalled.exit, 0) << served.folder.Log() << server.Output();
    EXPECT_EQ(Count(served.folder.Log(), "Lontaros v1.0.4 closed by user."), 1u) << served.folder.Log();
  }
}

// Once the close has begun, the signals that follow never end the program by the signal.
TEST(NcLontarosProcess, SignalsThatFollowTheFirstNeverEndItByTheSignal) {
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    ServedFolder served;
    LontarosProcess server(served.folder, {});
    ASSERT_TRUE(served.folder.WaitForLog("Lontaros v1.0.4 started on COM 1.")) << served.folder.Log();
    EXPECT_EQ(server.SignalUntilEnded(SIGTERM, {SIGTERM, SIGINT, SIGHUP}, 30s), 0)
        << served.folder.Log() << server.Output();
    EXPECT_EQ(Count(served.folder.Log(), " closed by user."), 1u) << served.folder.Log();
  }
}

}  // namespace
}  // namespace ecr::nc
